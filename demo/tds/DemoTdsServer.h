#pragma once

#include <memory>

#include <QString>

#include "demo/DemoServerThread.h"
#include "demo/tds/DemoCertificates.h"

struct TdsConfig;
struct TdsStats;
enum class TdsServerEncryption;

// The demo LIMS on SQL Server's wire protocol (TDS 7.4), for the ODBC driver of a real
// laboratory (FreeTDS): plain SQL batches, answered by the LIMS's execution core.
//
// It listens on 127.0.0.1 in a thread of its own, so that a station in the same process
// can reach it with its synchronous database calls from the window's thread. The login
// it accepts is given by its owner (a password made up at start, or one handed to the
// demo server process); none is built in.
//
// It encrypts as SQL Server does (TLS negotiated in PRELOGIN) with a certificate of the
// demo world's own CA, once useCertificate() gave it one; without, it offers no
// encryption.
class DemoTdsServer
{
public:
    DemoTdsServer(const QString &databasePath, const QString &user, const QString &password);
    ~DemoTdsServer();
    DemoTdsServer(const DemoTdsServer &) = delete;
    DemoTdsServer &operator=(const DemoTdsServer &) = delete;

    // Before start(): the certificate it presents (from the demo world's folder) and
    // whether it offers, forces or refuses encryption. False, with the reason, when the
    // certificate cannot be read.
    bool useCertificate(const QString &folder, DemoCertificates::Kind kind, QString *error);
    void setEncryption(TdsServerEncryption encryption);
    // Before start(): appends every byte the connections carry, both ways, to the file.
    bool recordWire(const QString &path);

    // Listens on 127.0.0.1 (port 0: a free one). False when it cannot.
    bool start(quint16 port = 0);
    void stop();
    quint16 port() const { return m_port; }
    // "127.0.0.1,<port>", as the driver's SERVER attribute takes it.
    QString serverAddress() const;

    // The front end's own work so far: batches answered, the time from each whole
    // request to the last byte of its answer sent, and the CPU time its thread spent.
    struct Stats
    {
        qint64 batches = 0;
        qint64 busyNs = 0;
        qint64 cpuNs = 0;
        qint64 encryptedSessions = 0; // the whole session in TLS
        qint64 loginOnlySessions = 0; // TLS for the login's first packet only
        qint64 clearSessions = 0;     // no TLS at all
        qint64 clearBatches = 0;      // SQL batches that arrived outside TLS
    };
    Stats stats() const;

    // A login and password made up afresh, for a front end that lives as long as the
    // station that logs in to it.
    static QString randomPassword();
    // "offer", "force", "none".
    static bool encryptionFromName(const QString &name, TdsServerEncryption *encryption);

private:
    std::shared_ptr<TdsConfig> m_config;
    DemoServerThread m_thread;
    quint16 m_port = 0;
};
