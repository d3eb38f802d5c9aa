// The demo report server as a process of its own, for end-to-end runs of the station:
//   hardcopy-demo-server --db PATH [--port N] [--mode MODE] [--create [--clients N]]
//                        [--tds [--tds-port N] --tds-user U (--tds-password-file F | --tds-password P)]
//                        [--tls-cert PEM --tls-key PEM]
//   hardcopy-demo-server --db PATH --tds-only [--tds-port N] --tds-user U --tds-password-file F
// Prints "listening on 127.0.0.1:<port>" once it accepts connections and serves until
// it is killed. With --mode refuse it takes a free port, closes it again and prints
// "refusing on 127.0.0.1:<port>": a station pointed there finds nobody listening.
// With --tds it also answers as the demo LIMS on SQL Server's wire protocol, with the
// login it is given, and prints "tds listening on 127.0.0.1,<port>" first. With --tds-only
// it answers on the wire alone, without the report server: a database server that tests
// kill, freeze and start again on the same port, as a laboratory's goes away and comes back.
// The wire front end encrypts with a certificate of the demo world's CA (made in the
// folder "tls" beside the demo LIMS file when it is missing): --tls offer (the default),
// force or none sets the server's encryption as SQL Server's (login-only encrypts the
// login alone whatever the client asks, as a machine in the middle could); --tls-certificate good,
// unknown-ca, wrong-host or expired picks what it presents; --wire-record FILE appends
// every byte its connections carry to FILE.
#include <cstdio>
#include <memory>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

#include "demo/lims/DemoLims.h"
#include "demo/reports/DemoReportServer.h"
#include "demo/tds/DemoCertificates.h"
#include "demo/tds/DemoTdsServer.h"
#include "demo/tds/TdsSession.h"
#include "platform/database/DbValue.h"

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "hardcopy-demo-server: %s\n", qPrintable(message));
    return 1;
}

// The command line: every option, added to the parser as it is made.
struct Options
{
    Options()
    {
        parser.setApplicationDescription(QStringLiteral("Demo report web server of the hard-copy station."));
        parser.addHelpOption();
        parser.addOptions({ db, port, mode, create, clients, date, time, set, tds, tdsOnly, tdsPort, tdsUser,
            tdsPasswordFile, tdsPassword, tls, certificate, wireRecord, tlsCert, tlsKey });
    }

    QCommandLineParser parser;
    const QCommandLineOption db { QStringLiteral("db"), QStringLiteral("The demo LIMS file."), QStringLiteral("path") };
    const QCommandLineOption port { QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: a free one)."),
        QStringLiteral("n"), QStringLiteral("0") };
    const QCommandLineOption mode { QStringLiteral("mode"),
        QStringLiteral("normal, nofinal, noelement, emptyfirst, slow:<ms>, elsewhere:<port> or refuse."),
        QStringLiteral("mode"), QStringLiteral("normal") };
    const QCommandLineOption create { QStringLiteral("create"),
        QStringLiteral("Create the demo LIMS file afresh (replacing it).") };
    const QCommandLineOption clients { QStringLiteral("clients"),
        QStringLiteral("With --create: this many generated clients instead of "
                       "the standard seed."),
        QStringLiteral("n") };
    const QCommandLineOption date { QStringLiteral("date-format"),
        QStringLiteral("The station's general date format (default M/d/yyyy)."), QStringLiteral("format") };
    const QCommandLineOption time { QStringLiteral("time-format"),
        QStringLiteral("The station's general time format (default h:mm:ss AP)."), QStringLiteral("format") };
    const QCommandLineOption set { QStringLiteral("set"),
        QStringLiteral("Set a status-board row and exit, e.g. "
                       "Zentrab_CurrApp_CA=AUTO_EXPORT; the value \"now\" writes "
                       "the current time. Repeatable."),
        QStringLiteral("parameter=value") };
    const QCommandLineOption tds { QStringLiteral("tds"),
        QStringLiteral("Also answer as the demo LIMS on SQL Server's wire protocol.") };
    const QCommandLineOption tdsOnly { QStringLiteral("tds-only"),
        QStringLiteral("Answer only as the demo LIMS on the wire: no report server.") };
    const QCommandLineOption tdsPort { QStringLiteral("tds-port"), QStringLiteral("Its port (0: a free one)."),
        QStringLiteral("n"), QStringLiteral("0") };
    const QCommandLineOption tdsUser { QStringLiteral("tds-user"), QStringLiteral("The login it accepts."),
        QStringLiteral("user") };
    const QCommandLineOption tdsPasswordFile { QStringLiteral("tds-password-file"),
        QStringLiteral("A file holding the login's password."), QStringLiteral("path") };
    const QCommandLineOption tdsPassword { QStringLiteral("tds-password"),
        QStringLiteral("The login's password (visible to other users of the "
                       "machine; prefer --tds-password-file)."),
        QStringLiteral("password") };
    const QCommandLineOption tls { QStringLiteral("tls"),
        QStringLiteral("The wire front end's encryption: offer, force, none or "
                       "login-only."),
        QStringLiteral("setting"), QStringLiteral("offer") };
    const QCommandLineOption certificate { QStringLiteral("tls-certificate"),
        QStringLiteral("The certificate it presents: good, unknown-ca, wrong-host or expired."),
        QStringLiteral("kind"), QStringLiteral("good") };
    const QCommandLineOption wireRecord { QStringLiteral("wire-record"),
        QStringLiteral("Append every byte its connections carry to this file."), QStringLiteral("path") };
    const QCommandLineOption tlsCert { QStringLiteral("tls-cert"),
        QStringLiteral("Answer over HTTPS with this PEM certificate."), QStringLiteral("path") };
    const QCommandLineOption tlsKey { QStringLiteral("tls-key"), QStringLiteral("Its PEM private key."),
        QStringLiteral("path") };
};

// The demo LIMS file, made afresh with --create or opened (and seeded when new).
bool prepareDatabase(const Options &o, const QString &path, QString *error)
{
    if (!o.parser.isSet(o.create))
        return DemoLims::ensureDatabase(path, error);
    DemoLims::CreateOptions options;
    if (o.parser.isSet(o.clients)) {
        bool ok = false;
        options.clients = o.parser.value(o.clients).toInt(&ok);
        if (!ok || options.clients < 0) {
            *error = QStringLiteral("--clients takes a number of clients.");
            return false;
        }
    }
    return DemoLims::createDatabase(path, options, error);
}

// --set: lets a person play the other application on the status board. The exit code.
int setBoardRows(const Options &o, const QString &path)
{
    for (const QString &assignment : o.parser.values(o.set)) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return fail(QStringLiteral("--set takes parameter=value."));
        const QString parameter = assignment.left(equals);
        QString value = assignment.mid(equals + 1);
        if (value == QLatin1String("now"))
            value = DemoLims::boardTimestamp(QDateTime::currentDateTime());
        if (!DemoLims::setBoardRow(path, parameter, value))
            return fail(QStringLiteral("cannot set %1.").arg(parameter));
        std::printf("%s = %s\n", qPrintable(parameter), qPrintable(value));
    }
    return 0;
}

// The wire front end with its login, encryption and certificate, listening; null, with
// the reason, when it cannot be.
std::unique_ptr<DemoTdsServer> startWireFrontEnd(const Options &o, const QString &path, QString *error)
{
    const auto refuse = [error](const QString &why) {
        *error = why;
        return nullptr;
    };
    QString password = o.parser.value(o.tdsPassword);
    if (o.parser.isSet(o.tdsPasswordFile)) {
        QFile file(o.parser.value(o.tdsPasswordFile));
        if (!file.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("cannot read %1.").arg(file.fileName()));
        password = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
    }
    bool portOk = false;
    const uint tdsPort = o.parser.value(o.tdsPort).toUInt(&portOk);
    if (!o.parser.isSet(o.tdsUser) || password.isEmpty())
        return refuse(QStringLiteral("--tds needs --tds-user and a password (--tds-password-file or --tds-password)."));
    if (!portOk || tdsPort > 65535)
        return refuse(QStringLiteral("--tds-port takes a port number."));
    auto tds = std::make_unique<DemoTdsServer>(path, o.parser.value(o.tdsUser), password);
    TdsServerEncryption encryption {};
    DemoCertificates::Kind kind {};
    if (!DemoTdsServer::encryptionFromName(o.parser.value(o.tls), &encryption))
        return refuse(QStringLiteral("--tls takes offer, force, none or login-only."));
    if (!DemoCertificates::kindFromName(o.parser.value(o.certificate), &kind))
        return refuse(QStringLiteral("--tls-certificate takes good, unknown-ca, wrong-host or expired."));
    if (encryption != TdsServerEncryption::Unsupported) {
        const QString folder = DemoCertificates::folderFor(path);
        if (!DemoCertificates::ensure(folder, error) || !tds->useCertificate(folder, kind, error))
            return nullptr;
    }
    tds->setEncryption(encryption);
    if (o.parser.isSet(o.wireRecord) && !tds->recordWire(o.parser.value(o.wireRecord)))
        return refuse(QStringLiteral("cannot write %1.").arg(o.parser.value(o.wireRecord)));
    if (!tds->start(quint16(tdsPort)))
        return refuse(QStringLiteral("cannot listen on 127.0.0.1,%1.").arg(tdsPort));
    return tds;
}

// The report server in its mode (HTTPS with --tls-cert), listening, or with --mode refuse
// closed again at once; its line printed. False, with the reason, when it cannot be.
bool startReportServer(DemoReportServer &server, const Options &o, uint port, QString *error)
{
    const QString mode = o.parser.value(o.mode);
    const bool refuse = mode == QLatin1String("refuse");
    if (!refuse && !server.setMode(mode)) {
        *error = QStringLiteral("unknown mode %1.").arg(mode);
        return false;
    }
    if (o.parser.isSet(o.tlsCert)) {
        QFile cert(o.parser.value(o.tlsCert));
        QFile key(o.parser.value(o.tlsKey));
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("--tls-cert and --tls-key must name readable PEM files.");
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(&cert));
        tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        server.setTls(tls);
    }
    if (!server.start(quint16(port))) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1.").arg(port);
        return false;
    }
    if (refuse) {
        server.stop();
        std::printf("refusing on %s\n", qPrintable(server.address()));
    } else {
        std::printf("listening on %s\n", qPrintable(server.address()));
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hardcopy-demo-server"));
    Options o;
    o.parser.process(app);

    if (!o.parser.isSet(o.db))
        return fail(QStringLiteral("--db PATH is required."));
    const QString path = o.parser.value(o.db);
    if (o.parser.isSet(o.date) || o.parser.isSet(o.time)) {
        DbValue::setGeneralDateFormat(o.parser.isSet(o.date) ? o.parser.value(o.date) : DbValue::generalDatePart(),
            o.parser.isSet(o.time) ? o.parser.value(o.time) : DbValue::generalTimePart());
    }
    QString error;
    if (!prepareDatabase(o, path, &error))
        return fail(error);
    if (o.parser.isSet(o.set))
        return setBoardRows(o, path);

    bool portOk = false;
    const uint port = o.parser.value(o.port).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("--port takes a port number."));

    std::unique_ptr<DemoTdsServer> tds;
    const bool tdsOnly = o.parser.isSet(o.tdsOnly);
    if (o.parser.isSet(o.tds) || tdsOnly) {
        tds = startWireFrontEnd(o, path, &error);
        if (!tds)
            return fail(error);
        std::printf("tds listening on %s\n", qPrintable(tds->serverAddress()));
        std::fflush(stdout);
    }
    if (tdsOnly)
        return app.exec();

    DemoReportServer server(path);
    if (!startReportServer(server, o, port, &error))
        return fail(error);
    return app.exec();
}
