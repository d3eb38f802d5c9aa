#include "demo/tds/TdsSession.h"

#include <ctime>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>

#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsAnswer.h"
#include "demo/tds/TdsLogin.h"
#include "demo/tds/TdsTls.h"
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

// A client whose machine froze or whose network was cut sends nothing, not even a close:
// like SQL Server, the front end probes an idle connection (after 30 s, then every
// second, ten times) and ends the session, and with it its locks, when nothing answers.
void probeIdleClient(QTcpSocket *socket)
{
    const int fd = int(socket->socketDescriptor());
    const int on = 1, idle = 30, interval = 1, count = 10;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0
        || setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0
        || setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0
        || setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) != 0)
        qCWarning(lcDemo) << "TDS: the connection cannot be probed while idle";
}

} // namespace

TdsSession::TdsSession(QTcpSocket *socket, std::shared_ptr<const TdsConfig> config, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_config(std::move(config))
    , m_core(m_config->databasePath)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &TdsSession::readSocket);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TdsSession::countAnswered);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    probeIdleClient(m_socket);
}

TdsSession::~TdsSession() = default;

void TdsSession::readSocket()
{
    const QByteArray raw = m_socket->readAll();
    record(raw);
    takeRecords(raw);
    readPackets();
}

// The connection's bytes into the packet stream, decrypted where the wire carries TLS.
void TdsSession::takeRecords(const QByteArray &raw)
{
    if (m_wire == Wire::Clear) {
        m_input += raw;
        return;
    }
    if (m_wire == Wire::Encrypted) {
        if (!m_tls->decrypt(raw, &m_input)) {
            qCWarning(lcDemo).noquote() << "TDS: a broken TLS record:" << m_tls->error() << "; closing the connection";
            m_state = State::Closing;
            m_socket->abort();
        }
        return;
    }
    // Login only: whole records one at a time until the login's first packet is in;
    // whatever follows it travels in clear.
    m_raw += raw;
    while (m_raw.size() >= 5) {
        const qsizetype length = 5 + qFromBigEndian<quint16>(m_raw.constData() + 3);
        if (m_raw.size() < length)
            return;
        if (!m_tls->decrypt(m_raw.left(length), &m_input)) {
            qCWarning(lcDemo).noquote() << "TDS: a broken TLS record:" << m_tls->error() << "; closing the connection";
            m_state = State::Closing;
            m_socket->abort();
            return;
        }
        m_raw.remove(0, length);
        if (m_input.size() >= TdsWriter::kHeaderSize
            && m_input.size() >= qFromBigEndian<quint16>(m_input.constData() + 2)) {
            m_wire = Wire::Clear;
            m_tls.reset();
            m_input += std::exchange(m_raw, QByteArray());
            return;
        }
    }
}

void TdsSession::readPackets()
{
    while (m_state != State::Closing && m_input.size() >= TdsWriter::kHeaderSize) {
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
    }
}

// The server's answer to the client's ENCRYPTION option, by the server's own setting
// (MS-TDS 2.2.6.5): a client that cannot encrypt is turned away by a server that forces
// encryption, and a client that insists by a server that has none.
void TdsSession::negotiate(const QByteArray &message)
{
    const TdsEncrypt client = preloginEncryption(message);
    const bool clientCan = client != TdsEncrypt::NotSupported;
    const bool clientWants = client == TdsEncrypt::On || client == TdsEncrypt::Required;
    TdsEncrypt answer = TdsEncrypt::NotSupported;
    bool turnAway = false;
    switch (m_config->encryption) {
    case TdsServerEncryption::Offered:
        answer = clientWants ? TdsEncrypt::On : client;
        break;
    case TdsServerEncryption::Forced:
        answer = clientWants ? TdsEncrypt::On : TdsEncrypt::Required;
        turnAway = !clientCan;
        break;
    case TdsServerEncryption::Unsupported:
        turnAway = clientWants;
        break;
    case TdsServerEncryption::LoginOnly:
        answer = clientCan ? TdsEncrypt::Off : TdsEncrypt::NotSupported;
        break;
    }
    writeWire(TdsWriter::packets(TdsWriter::kTabularResult, preloginAnswer(answer), m_packetSize));
    if (turnAway) {
        closeAfterWriting();
        return;
    }
    if (answer == TdsEncrypt::NotSupported) {
        m_config->stats->clearSessions += 1;
        m_state = State::Login;
        return;
    }
    m_loginOnly = answer == TdsEncrypt::Off;
    m_tls = std::make_unique<TdsTls>(m_config->credentials);
    m_state = State::Handshake;
}

void TdsSession::continueHandshake(const QByteArray &payload)
{
    const TdsTls::Step step = m_tls->handshake(payload);
    // The handshake's records travel inside PRELOGIN packets, both ways.
    if (const QByteArray out = m_tls->takeOutput(); !out.isEmpty())
        writeWire(TdsWriter::packets(TdsWriter::kPrelogin, out, m_packetSize));
    if (step == TdsTls::Step::More)
        return;
    if (step == TdsTls::Step::Failed) {
        qCInfo(lcDemo).noquote() << "TDS: TLS handshake failed:" << m_tls->error();
        closeAfterWriting();
        return;
    }
    (m_loginOnly ? m_config->stats->loginOnlySessions : m_config->stats->encryptedSessions) += 1;
    qCDebug(lcDemo).noquote() << "TDS:" << m_tls->version() << (m_loginOnly ? "for the login only" : "for the session");
    m_state = State::Login;
    m_wire = m_loginOnly ? Wire::LoginOnly : Wire::Encrypted;
    // What came behind the handshake's last packet is already TLS.
    takeRecords(std::exchange(m_input, QByteArray()));
}

void TdsSession::writeWire(const QByteArray &bytes)
{
    const QByteArray wire = m_wire == Wire::Encrypted ? m_tls->encrypt(bytes) : bytes;
    record(wire);
    m_socket->write(wire);
}

void TdsSession::record(const QByteArray &bytes) const
{
    if (m_config->wireRecord && !bytes.isEmpty()) {
        m_config->wireRecord->write(bytes);
        m_config->wireRecord->flush();
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
            negotiate(message);
            return;
        }
        [[fallthrough]];
    case State::Login:
        if (type == TdsWriter::kLogin7) {
            handleLogin(message);
            return;
        }
        break;
    case State::Handshake:
        if (type == TdsWriter::kPrelogin) {
            continueHandshake(message);
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
    m_core.shareLocks(m_config->locks, login.hostName);
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
    if (m_wire == Wire::Clear)
        m_config->stats->clearBatches += 1;
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
    writeWire(packets.left(cutAt + (cutAt / room + 1) * TdsWriter::kHeaderSize));
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
    writeWire(TdsWriter::packets(TdsWriter::kTabularResult, tokens.bytes(), m_packetSize));
    m_socket->flush();
}

void TdsSession::closeAfterWriting()
{
    m_state = State::Closing;
    m_socket->disconnectFromHost();
}
