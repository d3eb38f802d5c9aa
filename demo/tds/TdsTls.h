#pragma once

#include <memory>

#include <sys/types.h>

#include <QByteArray>
#include <QString>

#include "demo/tds/DemoCertificates.h"

struct gnutls_session_int;
struct gnutls_certificate_credentials_st;

// The certificate and key the front end presents, loaded once and shared by its sessions.
class TdsTlsCredentials
{
public:
    ~TdsTlsCredentials();
    // Loads the demo world's certificate of the kind; null, with the reason, when it
    // cannot be read.
    static std::shared_ptr<TdsTlsCredentials> load(const QString &folder, DemoCertificates::Kind kind, QString *error);
    gnutls_certificate_credentials_st *handle() const { return m_credentials; }

private:
    TdsTlsCredentials() = default;
    gnutls_certificate_credentials_st *m_credentials = nullptr;
};

// The server's side of one TLS session over memory, as SQL Server runs it inside TDS:
// the handshake's bytes are handed in and taken out here, the session wraps them in
// PRELOGIN packets; afterwards records are decrypted and encrypted here and travel on
// the connection as they are. No tickets are sent: after the handshake the client
// reads records straight off the connection, and a ticket sent while it still expects
// PRELOGIN packets would break it. TLS 1.2 is the highest version it speaks.
class TdsTls
{
public:
    explicit TdsTls(std::shared_ptr<const TdsTlsCredentials> credentials);
    ~TdsTls();
    TdsTls(const TdsTls &) = delete;
    TdsTls &operator=(const TdsTls &) = delete;

    enum class Step { More, Done, Failed };
    // Goes on with the handshake on the client's bytes; what the server has to say
    // next is in takeOutput().
    Step handshake(const QByteArray &fromClient);
    QByteArray takeOutput();

    // Decrypts what arrived; false when a record is broken (the connection is then
    // closed). A record that is not complete yet waits for the rest.
    bool decrypt(const QByteArray &fromClient, QByteArray *plain);
    QByteArray encrypt(const QByteArray &plain);

    QString error() const { return m_error; }
    // "TLS1.3", as GnuTLS names the version.
    QString version() const;

private:
    static ssize_t push(void *self, const void *data, size_t size);
    static ssize_t pull(void *self, void *data, size_t size);

    std::shared_ptr<const TdsTlsCredentials> m_credentials;
    gnutls_session_int *m_session = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    QString m_error;
};
