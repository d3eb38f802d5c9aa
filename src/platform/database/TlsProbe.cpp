#include "platform/database/TlsProbe.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <thread>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QStringList>
#include <QTcpSocket>
#include <QtEndian>

namespace {

constexpr quint8 kPrelogin = 0x12;
constexpr int kHeader = 8;

QByteArray packet(quint8 type, const QByteArray &payload)
{
    QByteArray bytes(kHeader, '\0');
    bytes[0] = char(type);
    bytes[1] = 0x01; // the last packet of the message
    qToBigEndian<quint16>(quint16(kHeader + payload.size()), bytes.data() + 2);
    return bytes + payload;
}

// VERSION, ENCRYPTION, then the terminator: what a server needs to answer.
QByteArray prelogin(quint8 encryption)
{
    QByteArray options = QByteArray::fromHex("00000b0006"
                                             "0100110001"
                                             "ff");
    return options + QByteArray::fromHex("090000000000") + QByteArray(1, char(encryption));
}

quint8 encryptionAnswer(const QByteArray &message)
{
    for (qsizetype at = 0; at + 5 <= message.size() && quint8(message.at(at)) != 0xFF; at += 5) {
        const auto offset = qFromBigEndian<quint16>(message.constData() + at + 1);
        const auto length = qFromBigEndian<quint16>(message.constData() + at + 3);
        if (quint8(message.at(at)) == 0x01 && length >= 1 && offset < message.size())
            return quint8(message.at(offset)) & 0x03;
    }
    return 0x02;
}

// The check's connection: TDS packets read and written within one deadline.
class Wire
{
public:
    // The host's first address, or none when the look-up failed or did not end in time;
    // a look-up still running is left to its thread, which ends by itself.
    std::optional<QHostAddress> lookUp(const QString &host)
    {
        auto lookup = std::async(std::launch::async, [host] { return QHostInfo::fromName(host); });
        if (lookup.wait_for(std::chrono::milliseconds(remaining())) != std::future_status::ready) {
            m_error = QStringLiteral("the host name %1 was not looked up in time").arg(host);
            // The future's destructor would wait for the look-up: its thread is let go.
            std::thread([pending = std::move(lookup)]() mutable { pending.wait(); }).detach();
            return std::nullopt;
        }
        const QHostInfo info = lookup.get();
        if (info.addresses().isEmpty()) {
            m_error = info.errorString();
            return std::nullopt;
        }
        return info.addresses().constFirst();
    }
    explicit Wire(int timeoutMs)
        : m_deadline(timeoutMs)
    {
    }
    bool connect(const QString &host, quint16 port)
    {
        // A host name is looked up here, within the deadline: the socket's own wait would
        // look it up without one.
        QHostAddress address(host);
        if (address.isNull()) {
            const std::optional<QHostAddress> found = lookUp(host);
            if (!found)
                return false;
            address = *found;
        }
        m_socket.connectToHost(address, port);
        if (m_socket.waitForConnected(remaining()))
            return true;
        m_error = m_socket.errorString();
        return false;
    }
    bool write(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        while (m_socket.bytesToWrite() > 0) {
            if (!m_socket.waitForBytesWritten(remaining()))
                return fail();
        }
        return true;
    }
    // One message's payload, its packets joined.
    bool readMessage(QByteArray *payload)
    {
        for (;;) {
            while (m_input.size() < kHeader || m_input.size() < qFromBigEndian<quint16>(m_input.constData() + 2)) {
                if (!m_socket.waitForReadyRead(remaining()))
                    return fail();
                m_input += m_socket.readAll();
            }
            const quint16 length = qFromBigEndian<quint16>(m_input.constData() + 2);
            if (length < kHeader) {
                m_error = QStringLiteral("a broken packet");
                return false;
            }
            const bool last = (quint8(m_input.at(1)) & 0x01) != 0;
            payload->append(m_input.mid(kHeader, length - kHeader));
            m_input.remove(0, length);
            if (last)
                return true;
        }
    }
    QString error() const { return m_error; }
    QTcpSocket &socket() { return m_socket; }

private:
    int remaining() const { return int(qMax<qint64>(1, m_deadline.remainingTime())); }
    bool fail()
    {
        m_error = m_deadline.hasExpired() ? QStringLiteral("no answer in time") : m_socket.errorString();
        return false;
    }

    QDeadlineTimer m_deadline;
    QTcpSocket m_socket;
    QByteArray m_input;
    QString m_error;
};

// The handshake's records go out and come in as PRELOGIN payloads.
struct Handshake
{
    Wire *wire;
    QByteArray pending;
    gnutls_session_t session = nullptr;

    static ssize_t push(gnutls_transport_ptr_t self, const void *data, size_t size)
    {
        auto *h = static_cast<Handshake *>(self);
        const QByteArray payload(static_cast<const char *>(data), qsizetype(size));
        if (!h->wire->write(packet(kPrelogin, payload))) {
            gnutls_transport_set_errno(h->session, EIO);
            return -1;
        }
        return ssize_t(size);
    }
    static ssize_t pull(gnutls_transport_ptr_t self, void *data, size_t size)
    {
        auto *h = static_cast<Handshake *>(self);
        if (h->pending.isEmpty() && !h->wire->readMessage(&h->pending)) {
            gnutls_transport_set_errno(h->session, EIO);
            return -1;
        }
        const qsizetype n = qMin(qsizetype(size), h->pending.size());
        std::memcpy(data, h->pending.constData(), size_t(n));
        h->pending.remove(0, n);
        return ssize_t(n);
    }
};

void readPeer(gnutls_session_t session, TlsProbeResult &result)
{
    unsigned count = 0;
    const gnutls_datum_t *chain = gnutls_certificate_get_peers(session, &count);
    if (!chain || count == 0)
        return;
    gnutls_x509_crt_t crt = nullptr;
    gnutls_x509_crt_init(&crt);
    if (gnutls_x509_crt_import(crt, &chain[0], GNUTLS_X509_FMT_DER) >= 0) {
        gnutls_datum_t dn {};
        if (gnutls_x509_crt_get_dn3(crt, &dn, 0) >= 0) {
            result.peerSubject = QString::fromUtf8(reinterpret_cast<const char *>(dn.data), int(dn.size));
            gnutls_free(dn.data);
        }
        result.peerExpires = QDateTime::fromSecsSinceEpoch(qint64(gnutls_x509_crt_get_expiration_time(crt)));
    }
    gnutls_x509_crt_deinit(crt);
}

// The handshake's own failure, or of a call that prepares it: what the check reports.
void handshakeFailed(TlsProbeResult &result, int rc, const Wire &wire)
{
    result.outcome = TlsProbeResult::Outcome::HandshakeFailed;
    result.detail = QString::fromUtf8(gnutls_strerror(rc));
    if (!wire.error().isEmpty())
        result.detail += QStringLiteral(" (%1)").arg(wire.error());
}

// The CA's certificates: their count, or a GnuTLS error below 0.
int loadTrust(gnutls_certificate_credentials_t credentials, const QString &caFile)
{
    if (caFile == QLatin1String("system"))
        return gnutls_certificate_set_x509_system_trust(credentials);
    return gnutls_certificate_set_x509_trust_file(credentials, caFile.toLocal8Bit().constData(), GNUTLS_X509_FMT_PEM);
}

// The verdict on the server's certificate, only from calls that succeeded: a call that
// fails leaves it unverified, with the call's words.
void verifyPeer(gnutls_session_t session, const TlsProbeRequest &request, TlsProbeResult &result)
{
    const QByteArray name = (request.hostName.isEmpty() ? request.host : request.hostName).toUtf8();
    unsigned status = 0;
    const int rc
        = gnutls_certificate_verify_peers3(session, request.checkHostName ? name.constData() : nullptr, &status);
    if (rc < 0) {
        result.verifyError = QString::fromUtf8(gnutls_strerror(rc));
        return;
    }
    result.status = status;
    result.verified = status == 0;
}

void shakeHands(Wire &wire, const TlsProbeRequest &request, TlsProbeResult &result)
{
    gnutls_certificate_credentials_t credentials = nullptr;
    int rc = gnutls_certificate_allocate_credentials(&credentials);
    if (rc < 0) {
        handshakeFailed(result, rc, wire);
        return;
    }
    if (!request.caFile.isEmpty())
        result.verifiable = loadTrust(credentials, request.caFile) > 0;
    Handshake handshake { &wire, {}, nullptr };
    rc = gnutls_init(&handshake.session, GNUTLS_CLIENT);
    if (rc >= 0) {
        if ((rc = gnutls_set_default_priority(handshake.session)) >= 0
            && (rc = gnutls_credentials_set(handshake.session, GNUTLS_CRD_CERTIFICATE, credentials)) >= 0) {
            gnutls_transport_set_ptr(handshake.session, &handshake);
            gnutls_transport_set_push_function(handshake.session, &Handshake::push);
            gnutls_transport_set_pull_function(handshake.session, &Handshake::pull);
            do {
                rc = gnutls_handshake(handshake.session);
            } while (rc < 0 && !gnutls_error_is_fatal(rc));
        }
        if (rc < 0) {
            handshakeFailed(result, rc, wire);
        } else {
            result.tlsVersion
                = QString::fromUtf8(gnutls_protocol_get_name(gnutls_protocol_get_version(handshake.session)));
            readPeer(handshake.session, result);
            if (result.verifiable)
                verifyPeer(handshake.session, request, result);
        }
        gnutls_deinit(handshake.session);
    } else {
        handshakeFailed(result, rc, wire);
    }
    gnutls_certificate_free_credentials(credentials);
}

} // namespace

TlsProbeResult probeTdsLink(const TlsProbeRequest &request)
{
    TlsProbeResult result;
    Wire wire(request.timeoutMs);
    QByteArray answer;
    if (!wire.connect(request.host, request.port) || !wire.write(packet(kPrelogin, prelogin(request.clientEncryption)))
        || !wire.readMessage(&answer)) {
        result.detail = wire.error();
        return result;
    }
    result.serverEncryption = encryptionAnswer(answer);
    const quint8 client = request.clientEncryption;
    switch (result.serverEncryption) {
    case 0x02:
        result.outcome = TlsProbeResult::Outcome::Clear;
        return result;
    case 0x03:
        if (client == 0x02) {
            result.outcome = TlsProbeResult::Outcome::TurnedAway;
            return result;
        }
        result.outcome = TlsProbeResult::Outcome::Encrypted;
        break;
    case 0x00:
        result.outcome = TlsProbeResult::Outcome::LoginOnly;
        break;
    default:
        result.outcome = TlsProbeResult::Outcome::Encrypted;
        break;
    }
    shakeHands(wire, request, result);
    return result;
}

QString certificateProblem(const TlsProbeResult &result, const QString &caFile, const QString &hostName)
{
    QStringList problems;
    const unsigned status = result.status;
    if (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA))
        problems << QStringLiteral("it is not issued by a CA in %1").arg(caFile);
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER)
        problems << QStringLiteral("it is not issued for %1 (it is for %2)").arg(hostName, result.peerSubject);
    if (status & GNUTLS_CERT_EXPIRED)
        problems << QStringLiteral("it expired on %1").arg(result.peerExpires.toString(Qt::ISODate));
    if (status & GNUTLS_CERT_NOT_ACTIVATED)
        problems << QStringLiteral("it is not valid yet");
    if (status & GNUTLS_CERT_REVOKED)
        problems << QStringLiteral("it is revoked");
    if (status & GNUTLS_CERT_INSECURE_ALGORITHM)
        problems << QStringLiteral("it is signed with an insecure algorithm");
    if (!result.verifyError.isEmpty())
        problems << QStringLiteral("it could not be verified (%1)").arg(result.verifyError);
    if (problems.isEmpty())
        problems << QStringLiteral("it does not verify (GnuTLS status 0x%1)").arg(status, 0, 16);
    return problems.join(QStringLiteral("; "));
}
