#include "demo/tds/TdsTls.h"

#include <cerrno>
#include <cstring>

#include <gnutls/gnutls.h>

TdsTlsCredentials::~TdsTlsCredentials()
{
    if (m_credentials)
        gnutls_certificate_free_credentials(m_credentials);
}

std::shared_ptr<TdsTlsCredentials> TdsTlsCredentials::load(
    const QString &folder, DemoCertificates::Kind kind, QString *error)
{
    std::shared_ptr<TdsTlsCredentials> credentials(new TdsTlsCredentials);
    gnutls_certificate_allocate_credentials(&credentials->m_credentials);
    const QByteArray cert = DemoCertificates::certificateFile(folder, kind).toLocal8Bit();
    const QByteArray key = DemoCertificates::keyFile(folder, kind).toLocal8Bit();
    const int rc = gnutls_certificate_set_x509_key_file(
        credentials->m_credentials, cert.constData(), key.constData(), GNUTLS_X509_FMT_PEM);
    if (rc < 0) {
        *error = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(cert), QString::fromUtf8(gnutls_strerror(rc)));
        return nullptr;
    }
    return credentials;
}

TdsTls::TdsTls(std::shared_ptr<const TdsTlsCredentials> credentials)
    : m_credentials(std::move(credentials))
{
    gnutls_init(&m_session, GNUTLS_SERVER | GNUTLS_NONBLOCK | GNUTLS_NO_TICKETS);
    // TLS 1.2 at most, as SQL Server offers inside TDS 7.x (TLS 1.3 only with TDS 8.0's
    // strict encryption). FreeTDS 1.3 needs it too: it sends a handshake's last
    // message only when it next reads, and in TLS 1.3 the client's Finished is last.
    gnutls_priority_set_direct(m_session, "NORMAL:-VERS-TLS1.3", nullptr);
    gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, m_credentials->handle());
    gnutls_certificate_server_set_request(m_session, GNUTLS_CERT_IGNORE);
    gnutls_transport_set_ptr(m_session, this);
    gnutls_transport_set_push_function(m_session, &TdsTls::push);
    gnutls_transport_set_pull_function(m_session, &TdsTls::pull);
}

TdsTls::~TdsTls()
{
    gnutls_deinit(m_session);
}

ssize_t TdsTls::push(void *self, const void *data, size_t size)
{
    static_cast<TdsTls *>(self)->m_out.append(static_cast<const char *>(data), qsizetype(size));
    return ssize_t(size);
}

ssize_t TdsTls::pull(void *self, void *data, size_t size)
{
    auto *tls = static_cast<TdsTls *>(self);
    if (tls->m_in.isEmpty()) {
        gnutls_transport_set_errno(tls->m_session, EAGAIN);
        return -1;
    }
    const qsizetype n = qMin(qsizetype(size), tls->m_in.size());
    std::memcpy(data, tls->m_in.constData(), size_t(n));
    tls->m_in.remove(0, n);
    return ssize_t(n);
}

TdsTls::Step TdsTls::handshake(const QByteArray &fromClient)
{
    m_in += fromClient;
    const int rc = gnutls_handshake(m_session);
    if (rc == GNUTLS_E_SUCCESS)
        return Step::Done;
    if (rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED || !gnutls_error_is_fatal(rc))
        return Step::More;
    m_error = QString::fromUtf8(gnutls_strerror(rc));
    return Step::Failed;
}

QByteArray TdsTls::takeOutput()
{
    return std::exchange(m_out, QByteArray());
}

bool TdsTls::decrypt(const QByteArray &fromClient, QByteArray *plain)
{
    m_in += fromClient;
    char buffer[16384 + 256];
    for (;;) {
        const ssize_t n = gnutls_record_recv(m_session, buffer, sizeof buffer);
        if (n > 0) {
            plain->append(buffer, qsizetype(n));
            continue;
        }
        if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
            return true;
        if (n == 0) // the client said goodbye
            return true;
        if (!gnutls_error_is_fatal(int(n)))
            continue;
        m_error = QString::fromUtf8(gnutls_strerror(int(n)));
        return false;
    }
}

QByteArray TdsTls::encrypt(const QByteArray &plain)
{
    qsizetype from = 0;
    while (from < plain.size()) {
        const ssize_t n = gnutls_record_send(m_session, plain.constData() + from, size_t(plain.size() - from));
        if (n < 0) {
            m_error = QString::fromUtf8(gnutls_strerror(int(n)));
            break;
        }
        from += n;
    }
    return takeOutput();
}

QString TdsTls::version() const
{
    return QString::fromUtf8(gnutls_protocol_get_name(gnutls_protocol_get_version(m_session)));
}
