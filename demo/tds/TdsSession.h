#pragma once

#include <atomic>
#include <memory>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "demo/lims/DemoLimsCore.h"

class DemoAppLocks;
class QFile;
class QTcpSocket;
class TdsTls;
class TdsTlsCredentials;
class TdsWriter;

// What the front end's sessions have done, summed; read from any thread.
struct TdsStats
{
    std::atomic<qint64> batches { 0 };
    std::atomic<qint64> busyNs { 0 }; // from a whole request to its answer handed to the socket
    std::atomic<qint64> cpuNs { 0 }; // the front end thread's CPU time over the same spans
    // Sessions by what the PRELOGIN negotiation gave them, and SQL batches that arrived
    // outside TLS.
    std::atomic<qint64> encryptedSessions { 0 };
    std::atomic<qint64> loginOnlySessions { 0 };
    std::atomic<qint64> clearSessions { 0 };
    std::atomic<qint64> clearBatches { 0 };
};

// The server's own encryption setting, as SQL Server's: encryption offered to a client
// that asks (and the login encrypted for one that can but does not ask), forced on
// every client, or not supported at all.
// LoginOnly answers OFF to a client that asks for the whole session (MS-TDS says ON):
// no SQL Server does that, but a machine in the middle that rewrites PRELOGIN does, and
// FreeTDS then encrypts the login alone.
enum class TdsServerEncryption { Offered, Forced, Unsupported, LoginOnly };

// What every session of one front end shares.
struct TdsConfig
{
    QString databasePath;
    QString user;
    QString password;
    std::shared_ptr<TdsStats> stats;
    TdsServerEncryption encryption = TdsServerEncryption::Unsupported;
    std::shared_ptr<const TdsTlsCredentials> credentials;
    // Where every byte read from and written to the connections is appended, as a
    // capture of the loopback traffic would hold it; null: nowhere.
    std::shared_ptr<QFile> wireRecord;
    // The application locks every session shares, as the server's lock manager.
    std::shared_ptr<DemoAppLocks> locks;
};

// One client connection in SQL Server's wire protocol: PRELOGIN with the encryption
// negotiation, the TLS handshake inside PRELOGIN packets, LOGIN7 with the front end's
// user and password, then SQL batches handed to the demo LIMS's execution core as they
// arrive, and ATTENTION. Requests are reassembled from their packets; answers are cut
// into packets of the size the login negotiated. An encrypted session sends every
// packet after the handshake as TLS records on the connection; when both sides said
// OFF only the login's first packet comes encrypted, and TLS ends after it.
//
// Faults taken by the core become what a client sees of a failing server: a time-out
// holds the answer until the client cancels; a dropped link closes the socket before
// the answer or in the middle of it; a mute server answers nothing, not even the
// cancel.
class TdsSession : public QObject
{
    Q_OBJECT
public:
    TdsSession(QTcpSocket *socket, std::shared_ptr<const TdsConfig> config, QObject *parent = nullptr);
    ~TdsSession() override;

private:
    enum class State { Prelogin, Handshake, Login, Ready, Held, Mute, Closing };
    // What the connection carries: TDS packets in clear, TLS records of the whole
    // session, or TLS records until the login's first packet is through.
    enum class Wire { Clear, Encrypted, LoginOnly };

    void readSocket();
    void takeRecords(const QByteArray &raw);
    void readPackets();
    void negotiate(const QByteArray &message);
    void continueHandshake(const QByteArray &payload);
    void writeWire(const QByteArray &bytes);
    void record(const QByteArray &bytes) const;
    void handleMessage(quint8 type, const QByteArray &message);
    void handleLogin(const QByteArray &message);
    void handleBatch(const QByteArray &message);
    void countAnswered();
    void handleAttention();
    void answerOutcome(const DemoBatchOutcome &outcome);
    void refuseLogin(const QString &user);
    void send(const TdsWriter &tokens);
    void closeAfterWriting();

    QTcpSocket *m_socket;
    std::shared_ptr<const TdsConfig> m_config;
    DemoLimsCore m_core;
    State m_state = State::Prelogin;
    Wire m_wire = Wire::Clear;
    bool m_loginOnly = false;
    std::unique_ptr<TdsTls> m_tls;
    QByteArray m_raw;
    int m_packetSize = 4096;
    QByteArray m_input;
    QByteArray m_message;
    QElapsedTimer m_busy;
    qint64 m_cpuFrom = 0;
    bool m_answering = false;
};
