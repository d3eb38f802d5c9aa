#pragma once

#include <QByteArray>
#include <QString>

struct StationSettings;

// The station's own freetds.conf: FreeTDS checks a server's certificate only with a "ca
// file" from a freetds.conf, which no connection-string attribute can set, and reads the
// file only for a server named by SERVERNAME. The file is the installation's
// freetds.conf (the one FreeTDS would read: $FREETDSCONF, ~/.freetds.conf,
// /etc/freetds/freetds.conf), so that its [global] settings (dumps, text size) and servers
// stay in force, followed by one section of the station's for each LIMS server it was
// prepared for, named as [Database] Server is: host, port (or instance), "ca file" and
// "check certificate hostname". Later sections win over earlier ones of the same name.
// One file serves the process (mode 0600, removed at its end); FREETDSCONF points at it.
class FreeTdsConf
{
public:
    // Adds the settings' server to the file and points FreeTDS at it; nothing for
    // Microsoft's driver. Must run before the server's first connection.
    static bool prepare(const StationSettings &settings, QString *error);
    // The file; empty before prepare().
    static QString path();

    // The station's section for the settings' server.
    static QByteArray section(const StationSettings &settings);
};
