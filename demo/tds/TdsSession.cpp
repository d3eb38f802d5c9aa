#include "demo/tds/TdsSession.h"

#include <ctime>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtEndian>

#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsAnswer.h"
#include "demo/tds/TdsLogin.h"
#include "demo/tds/TdsWriter.h"

namespace {

qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The text of an SQL batch: after the ALL_HEADERS block (TDS 7.2 on), UTF-16LE.
QString batchText(const QByteArray &message)
{
    qsizetype from = 0;
    if (message.size() >= 4) {
        const quint32 headers = qFromLittleEndian<quint32>(message.constData());
        if (headers >= 4 && headers <= quint32(message.size()))
            from = qsizetype(headers);
    }
    QString text((message.size() - from) / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(message.constData() + from + 2 * i));
    return text;
}

} // namespace

TdsSession::TdsSession(QTcpSocket *socket, std::shared_ptr<const TdsConfig> config, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_config(std::move(config))
    , m_core(m_config->databasePath)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &TdsSession::readPackets);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TdsSession::countAnswered);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

TdsSession::~TdsSession() = default;

void TdsSession::readPackets()
{
    m_input += m_socket->readAll();
    while (m_input.size() >= TdsWriter::kHeaderSize) {
        const quint16 length = qFromBigEndian<quint16>(m_input.constData() + 2);
        if (length < TdsWriter::kHeaderSize) {
            qCWarning(lcDemo) << "TDS: a packet with a broken header; closing the connection";
            m_socket->abort();
            return;
        }
        if (m_input.size() < length)
            return;
        const auto type = quint8(m_input.at(0));
        const bool last = (quint8(m_input.at(1)) & 0x01) != 0;
        m_message += m_input.mid(TdsWriter::kHeaderSize, length - TdsWriter::kHeaderSize);
        m_input.remove(0, length);
        if (!last)
            continue;
        const QByteArray message = std::exchange(m_message, QByteArray());
        handleMessage(type, message);
        if (m_state == State::Closing)
            return;
    }
}

void TdsSession::handleMessage(quint8 type, const QByteArray &message)
{
    if (m_state == State::Mute)
        return;
    if (type == TdsWriter::kAttention) {
        handleAttention();
        return;
    }
    switch (m_state) {
    case State::Prelogin:
        if (type == TdsWriter::kPrelogin) {
            m_socket->write(TdsWriter::packets(TdsWriter::kTabularResult, preloginAnswer(), m_packetSize));
            m_state = State::Login;
            return;
        }
        [[fallthrough]];
    case State::Login:
        if (type == TdsWriter::kLogin7) {
            handleLogin(message);
            return;
        }
        break;
    case State::Ready:
        if (type == TdsWriter::kSqlBatch) {
            handleBatch(message);
            return;
        }
        if (type == TdsWriter::kRpc) {
            // Parameters and prepared statements are not something the station sends.
            TdsWriter tokens;
            tokens.message(50000, 1, 16, QStringLiteral("The demo LIMS answers plain SQL batches only."));
            tokens.done(TdsWriter::kDoneError, 0, 0);
            send(tokens);
            return;
        }
        break;
    case State::Held:
        qCWarning(lcDemo) << "TDS: a request while the last one waits for its cancel; ignored";
        return;
    case State::Mute:
    case State::Closing:
        return;
    }
    qCWarning(lcDemo) << "TDS: unexpected packet type" << type << "; closing the connection";
    m_state = State::Closing;
    m_socket->abort();
}

void TdsSession::handleLogin(const QByteArray &message)
{
    TdsLogin login;
    if (!TdsLogin::parse(message, &login)) {
        qCWarning(lcDemo) << "TDS: an unreadable LOGIN7; closing the connection";
        m_state = State::Closing;
        m_socket->abort();
        return;
    }
    QString error;
    if (!m_core.open(&error)) {
        qCWarning(lcDemo).noquote() << "TDS: the demo LIMS cannot be opened:" << error;
        refuseLogin(login.userName);
        return;
    }
    const DemoLimsCore::LoginFault fault = m_core.takeLoginFault();
    if (fault == DemoLimsCore::LoginFault::Unanswered) {
        m_state = State::Mute;
        return;
    }
    if (fault == DemoLimsCore::LoginFault::Refused || login.userName != m_config->user
        || login.password != m_config->password) {
        refuseLogin(login.userName);
        return;
    }
    if (login.packetSize >= 512)
        m_packetSize = int(qMin<quint32>(login.packetSize, 32767));
    TdsWriter tokens;
    tokens.envChange(1, QStringLiteral("lab"), QStringLiteral("master"));
    tokens.message(5701, 2, 0, QStringLiteral("Changed database context to 'lab'."));
    tokens.collationChange();
    tokens.envChange(2, QStringLiteral("us_english"), QString());
    tokens.message(5703, 1, 0, QStringLiteral("Changed language setting to us_english."));
    tokens.envChange(4, QString::number(m_packetSize), QString::number(m_packetSize));
    tokens.loginAck(QStringLiteral("Demo LIMS"));
    tokens.done(0, 0, 0);
    send(tokens);
    m_state = State::Ready;
}

void TdsSession::refuseLogin(const QString &user)
{
    // As SQL Server answers: error 18456, class 14, then the connection closes.
    TdsWriter tokens;
    tokens.message(18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(user));
    tokens.done(TdsWriter::kDoneError, 0, 0);
    send(tokens);
    closeAfterWriting();
}

void TdsSession::handleBatch(const QByteArray &message)
{
    m_busy.start();
    m_cpuFrom = threadCpuNs();
    const QString sql = batchText(message);
    qCDebug(lcDemo).noquote() << "TDS batch:" << sql.left(200);
    answerOutcome(m_core.run(sql));
    m_answering = true;
    countAnswered();
}

// A batch's time runs until the last byte of its answer is handed to the network, as a
// server's would: a large answer leaves in several writes of the front end's thread.
void TdsSession::countAnswered()
{
    if (!m_answering || m_socket->bytesToWrite() > 0)
        return;
    m_answering = false;
    TdsStats &stats = *m_config->stats;
    stats.batches += 1;
    stats.busyNs += m_busy.nsecsElapsed();
    stats.cpuNs += threadCpuNs() - m_cpuFrom;
}

void TdsSession::answerOutcome(const DemoBatchOutcome &outcome)
{
    switch (outcome.kind) {
    case DemoBatchOutcome::Kind::TimedOut:
        m_state = State::Held;
        return;
    case DemoBatchOutcome::Kind::Unanswered:
        m_state = State::Mute;
        return;
    case DemoBatchOutcome::Kind::LinkDropped:
        closeAfterWriting();
        return;
    default:
        break;
    }
    TdsWriter tokens;
    qsizetype cutAt = -1;
    writeAnswer(outcome, tokens, &cutAt);
    if (outcome.kind != DemoBatchOutcome::Kind::LinkCut) {
        send(tokens);
        return;
    }
    // The packets up to the cut are sent as they would be, the rest never.
    const QByteArray packets = TdsWriter::packets(TdsWriter::kTabularResult, tokens.bytes(), m_packetSize);
    const qsizetype room = m_packetSize - TdsWriter::kHeaderSize;
    m_socket->write(packets.left(cutAt + (cutAt / room + 1) * TdsWriter::kHeaderSize));
    closeAfterWriting();
}

void TdsSession::handleAttention()
{
    // Answered whether or not anything was still running, as the client waits for it.
    TdsWriter tokens;
    tokens.done(TdsWriter::kDoneAttention, 0, 0);
    send(tokens);
    if (m_state == State::Held)
        m_state = State::Ready;
}

// Handed to the network at once, as a server sends its answer: a large result is the
// server's time to send, not the client's to wait for the front end's event loop.
void TdsSession::send(const TdsWriter &tokens)
{
    m_socket->write(TdsWriter::packets(TdsWriter::kTabularResult, tokens.bytes(), m_packetSize));
    m_socket->flush();
}

void TdsSession::closeAfterWriting()
{
    m_state = State::Closing;
    m_socket->disconnectFromHost();
}
