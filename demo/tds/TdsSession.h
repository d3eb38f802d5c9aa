#pragma once

#include <atomic>
#include <memory>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "demo/lims/DemoLimsCore.h"

class QTcpSocket;
class TdsWriter;

// What the front end's sessions have done, summed; read from any thread.
struct TdsStats
{
    std::atomic<qint64> batches { 0 };
    std::atomic<qint64> busyNs { 0 }; // from a whole request to its answer handed to the socket
    std::atomic<qint64> cpuNs { 0 }; // the front end thread's CPU time over the same spans
};

// What every session of one front end shares.
struct TdsConfig
{
    QString databasePath;
    QString user;
    QString password;
    std::shared_ptr<TdsStats> stats;
};

// One client connection in SQL Server's wire protocol: PRELOGIN, LOGIN7 with the
// front end's user and password, then SQL batches handed to the demo LIMS's execution
// core as they arrive, and ATTENTION. Requests are reassembled from their packets;
// answers are cut into packets of the size the login negotiated.
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
    enum class State { Prelogin, Login, Ready, Held, Mute, Closing };

    void readPackets();
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
    int m_packetSize = 4096;
    QByteArray m_input;
    QByteArray m_message;
    QElapsedTimer m_busy;
    qint64 m_cpuFrom = 0;
    bool m_answering = false;
};
