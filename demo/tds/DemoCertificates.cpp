#include "demo/tds/DemoCertificates.h"

#include <array>
#include <ctime>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSaveFile>

namespace {

constexpr qint64 kDay = 24 * 3600;

// A key and a certificate, freed on every way out.
struct Pair
{
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t crt = nullptr;
    Pair()
    {
        gnutls_x509_privkey_init(&key);
        gnutls_x509_crt_init(&crt);
    }
    ~Pair()
    {
        gnutls_x509_crt_deinit(crt);
        gnutls_x509_privkey_deinit(key);
    }
    Pair(const Pair &) = delete;
    Pair &operator=(const Pair &) = delete;
};

struct Subject
{
    QByteArray dn;
    bool ca = false;
    QByteArray dnsName;
    std::array<unsigned char, 4> ip {};
    qint64 from = 0;
    qint64 until = 0;
};

bool ok(int rc, const char *what, QString *error)
{
    if (rc >= 0)
        return true;
    *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(gnutls_strerror(rc)));
    return false;
}

// Signs the pair's certificate with the issuer (itself when issuer is null).
bool make(Pair &pair, const Subject &subject, const Pair *issuer, QString *error)
{
    const quint64 serial = QRandomGenerator::system()->generate64() >> 1;
    const char *dnError = nullptr;
    if (!ok(gnutls_x509_privkey_generate(
                pair.key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0),
            "key", error)
        || !ok(gnutls_x509_crt_set_version(pair.crt, 3), "version", error)
        || !ok(gnutls_x509_crt_set_serial(pair.crt, &serial, sizeof serial), "serial", error)
        || !ok(gnutls_x509_crt_set_activation_time(pair.crt, time_t(subject.from)), "activation", error)
        || !ok(gnutls_x509_crt_set_expiration_time(pair.crt, time_t(subject.until)), "expiration", error)
        || !ok(gnutls_x509_crt_set_dn(pair.crt, subject.dn.constData(), &dnError), "subject", error)
        || !ok(gnutls_x509_crt_set_key(pair.crt, pair.key), "public key", error)
        || !ok(gnutls_x509_crt_set_basic_constraints(pair.crt, subject.ca ? 1 : 0, -1), "constraints", error))
        return false;
    if (subject.ca) {
        if (!ok(gnutls_x509_crt_set_key_usage(pair.crt, GNUTLS_KEY_KEY_CERT_SIGN | GNUTLS_KEY_CRL_SIGN), "usage",
                error))
            return false;
    } else if (!ok(gnutls_x509_crt_set_key_usage(pair.crt, GNUTLS_KEY_DIGITAL_SIGNATURE), "usage", error)
        || !ok(gnutls_x509_crt_set_key_purpose_oid(pair.crt, GNUTLS_KP_TLS_WWW_SERVER, 0), "purpose", error)
        || !ok(gnutls_x509_crt_set_subject_alt_name(pair.crt, GNUTLS_SAN_DNSNAME, subject.dnsName.constData(),
                   unsigned(subject.dnsName.size()), GNUTLS_FSAN_APPEND),
            "DNS name", error)
        || !ok(gnutls_x509_crt_set_subject_alt_name(
                   pair.crt, GNUTLS_SAN_IPADDRESS, subject.ip.data(), unsigned(subject.ip.size()), GNUTLS_FSAN_APPEND),
            "IP address", error)) {
        return false;
    }
    const Pair &signer = issuer ? *issuer : pair;
    return ok(gnutls_x509_crt_sign2(pair.crt, signer.crt, signer.key, GNUTLS_DIG_SHA256, 0), "signature", error);
}

bool write(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool save(const Pair &pair, const QString &certPath, const QString &keyPath, QString *error)
{
    gnutls_datum_t cert {};
    gnutls_datum_t key {};
    const bool exported = ok(gnutls_x509_crt_export2(pair.crt, GNUTLS_X509_FMT_PEM, &cert), "export", error)
        && ok(gnutls_x509_privkey_export2(pair.key, GNUTLS_X509_FMT_PEM, &key), "export", error);
    const QByteArray certPem(reinterpret_cast<const char *>(cert.data), int(cert.size));
    const QByteArray keyPem(reinterpret_cast<const char *>(key.data), int(key.size));
    gnutls_free(cert.data);
    gnutls_free(key.data);
    return exported && (keyPath.isEmpty() || write(keyPath, keyPem, error)) && write(certPath, certPem, error);
}

// The CA's certificate is written last: once it is there, everything else is.
bool makeAll(const QString &folder, QString *error)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    Pair ca;
    Pair other;
    const Subject caSubject { "CN=Demo LIMS CA,O=Hard-copy station demo", true, {}, {}, now - kDay, now + 3650 * kDay };
    const Subject otherSubject { "CN=Some other CA,O=Elsewhere", true, {}, {}, now - kDay, now + 3650 * kDay };
    if (!make(ca, caSubject, nullptr, error) || !make(other, otherSubject, nullptr, error))
        return false;
    struct Issued
    {
        DemoCertificates::Kind kind;
        const Pair *issuer;
        Subject subject;
    };
    const std::array<Issued, 4> issued { {
        { DemoCertificates::Kind::Good, &ca,
            { "CN=127.0.0.1,O=Demo LIMS", false, "localhost", { 127, 0, 0, 1 }, now - kDay, now + 3650 * kDay } },
        { DemoCertificates::Kind::UnknownCa, &other,
            { "CN=127.0.0.1,O=Demo LIMS", false, "localhost", { 127, 0, 0, 1 }, now - kDay, now + 3650 * kDay } },
        { DemoCertificates::Kind::WrongHost, &ca,
            { "CN=lims.elsewhere.invalid,O=Elsewhere", false, "lims.elsewhere.invalid", { 192, 0, 2, 1 }, now - kDay,
                now + 3650 * kDay } },
        { DemoCertificates::Kind::Expired, &ca,
            { "CN=127.0.0.1,O=Demo LIMS", false, "localhost", { 127, 0, 0, 1 }, now - 60 * kDay, now - kDay } },
    } };
    for (const Issued &one : issued) {
        Pair pair;
        if (!make(pair, one.subject, one.issuer, error)
            || !save(pair, DemoCertificates::certificateFile(folder, one.kind),
                DemoCertificates::keyFile(folder, one.kind), error))
            return false;
    }
    return save(ca, DemoCertificates::caFile(folder), QString(), error);
}

bool caStillGood(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray pem = file.readAll();
    gnutls_x509_crt_t crt = nullptr;
    gnutls_x509_crt_init(&crt);
    const gnutls_datum_t datum { reinterpret_cast<unsigned char *>(const_cast<char *>(pem.constData())),
        unsigned(pem.size()) };
    const bool read = gnutls_x509_crt_import(crt, &datum, GNUTLS_X509_FMT_PEM) >= 0;
    const qint64 until = read ? qint64(gnutls_x509_crt_get_expiration_time(crt)) : 0;
    gnutls_x509_crt_deinit(crt);
    return read && until > QDateTime::currentSecsSinceEpoch() + 30 * kDay;
}

} // namespace

QString DemoCertificates::folderFor(const QString &databasePath)
{
    return QFileInfo(databasePath).absoluteDir().filePath(QStringLiteral("tls"));
}

bool DemoCertificates::ensure(const QString &folder, QString *error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("The folder %1 cannot be created.").arg(folder);
        return false;
    }
    QLockFile lock(QDir(folder).filePath(QStringLiteral(".making")));
    if (!lock.tryLock(30000)) {
        *error = QStringLiteral("The demo certificates in %1 are locked by another process.").arg(folder);
        return false;
    }
    if (caStillGood(caFile(folder)))
        return true;
    return makeAll(folder, error);
}

QString DemoCertificates::caFile(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("demo-ca.pem"));
}

QString DemoCertificates::certificateFile(const QString &folder, Kind kind)
{
    return QDir(folder).filePath(QStringLiteral("server-%1.pem").arg(kindName(kind)));
}

QString DemoCertificates::keyFile(const QString &folder, Kind kind)
{
    return QDir(folder).filePath(QStringLiteral("server-%1-key.pem").arg(kindName(kind)));
}

QString DemoCertificates::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Good:
        return QStringLiteral("good");
    case Kind::UnknownCa:
        return QStringLiteral("unknown-ca");
    case Kind::WrongHost:
        return QStringLiteral("wrong-host");
    case Kind::Expired:
        return QStringLiteral("expired");
    }
    return {};
}

bool DemoCertificates::kindFromName(const QString &name, Kind *kind)
{
    for (Kind candidate : { Kind::Good, Kind::UnknownCa, Kind::WrongHost, Kind::Expired }) {
        if (kindName(candidate) == name) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}
