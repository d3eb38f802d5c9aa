#pragma once

#include <QByteArray>
#include <QString>

// The demo world's own certificate authority and the certificates its LIMS front end
// presents, made with GnuTLS in a folder of the demo world (next to the demo LIMS file)
// the first time something needs them, so that the demo, the tests, the soak and the
// benchmark all run encrypted and verified without a certificate in the sources.
//
// Besides the good one (the demo CA's, for 127.0.0.1 and localhost) the folder holds the
// certificates a station must refuse: issued by another CA, issued for another host,
// and expired.
class DemoCertificates
{
public:
    enum class Kind { Good, UnknownCa, WrongHost, Expired };

    // The demo world's folder for a demo LIMS file: <its folder>/tls.
    static QString folderFor(const QString &databasePath);
    // Makes the CA and the certificates when the folder lacks them (or the CA runs out
    // within a month); several processes may ask at once. False, with the reason, when
    // they cannot be made.
    static bool ensure(const QString &folder, QString *error);

    // The demo CA a station is given as [Database] CaFile.
    static QString caFile(const QString &folder);
    static QString certificateFile(const QString &folder, Kind kind);
    static QString keyFile(const QString &folder, Kind kind);

    // "good", "unknown-ca", "wrong-host", "expired".
    static QString kindName(Kind kind);
    static bool kindFromName(const QString &name, Kind *kind);
};
