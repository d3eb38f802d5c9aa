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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hardcopy-demo-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo report web server of the hard-copy station."));
    parser.addHelpOption();
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("The demo LIMS file."), QStringLiteral("path"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: a free one)."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption modeOption(
        QStringLiteral("mode"),
        QStringLiteral("normal, nofinal, noelement, emptyfirst, slow:<ms>, elsewhere:<port> or refuse."), QStringLiteral("mode"),
        QStringLiteral("normal"));
    const QCommandLineOption createOption(QStringLiteral("create"),
                                          QStringLiteral("Create the demo LIMS file afresh (replacing it)."));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("With --create: this many generated clients instead of "
                                                          "the standard seed."),
                                           QStringLiteral("n"));
    const QCommandLineOption dateOption(QStringLiteral("date-format"),
                                        QStringLiteral("The station's general date format (default M/d/yyyy)."),
                                        QStringLiteral("format"));
    const QCommandLineOption timeOption(QStringLiteral("time-format"),
                                        QStringLiteral("The station's general time format (default h:mm:ss AP)."),
                                        QStringLiteral("format"));
    const QCommandLineOption setOption(QStringLiteral("set"),
                                       QStringLiteral("Set a status-board row and exit, e.g. "
                                                      "Zentrab_CurrApp_CA=AUTO_EXPORT; the value \"now\" writes "
                                                      "the current time. Repeatable."),
                                       QStringLiteral("parameter=value"));
    const QCommandLineOption tdsOption(QStringLiteral("tds"),
                                       QStringLiteral("Also answer as the demo LIMS on SQL Server's wire protocol."));
    const QCommandLineOption tdsOnlyOption(
        QStringLiteral("tds-only"), QStringLiteral("Answer only as the demo LIMS on the wire: no report server."));
    const QCommandLineOption tdsPortOption(QStringLiteral("tds-port"), QStringLiteral("Its port (0: a free one)."),
                                           QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption tdsUserOption(QStringLiteral("tds-user"), QStringLiteral("The login it accepts."),
                                           QStringLiteral("user"));
    const QCommandLineOption tdsPasswordFileOption(QStringLiteral("tds-password-file"),
                                                   QStringLiteral("A file holding the login's password."),
                                                   QStringLiteral("path"));
    const QCommandLineOption tdsPasswordOption(QStringLiteral("tds-password"),
                                               QStringLiteral("The login's password (visible to other users of the "
                                                              "machine; prefer --tds-password-file)."),
                                               QStringLiteral("password"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"),
        QStringLiteral("The wire front end's encryption: offer, force, none or "
                       "login-only."),
        QStringLiteral("setting"), QStringLiteral("offer"));
    const QCommandLineOption certificateOption(
        QStringLiteral("tls-certificate"),
        QStringLiteral("The certificate it presents: good, unknown-ca, wrong-host or expired."),
        QStringLiteral("kind"), QStringLiteral("good"));
    const QCommandLineOption wireRecordOption(QStringLiteral("wire-record"),
                                              QStringLiteral("Append every byte its connections carry to this file."),
                                              QStringLiteral("path"));
    const QCommandLineOption tlsCertOption(QStringLiteral("tls-cert"),
                                           QStringLiteral("Answer over HTTPS with this PEM certificate."),
                                           QStringLiteral("path"));
    const QCommandLineOption tlsKeyOption(QStringLiteral("tls-key"), QStringLiteral("Its PEM private key."),
                                          QStringLiteral("path"));
    parser.addOptions({ dbOption, portOption, modeOption, createOption, clientsOption, dateOption, timeOption,
        setOption, tdsOption, tdsOnlyOption, tdsPortOption, tdsUserOption, tdsPasswordFileOption, tdsPasswordOption,
        tlsOption, certificateOption, wireRecordOption, tlsCertOption, tlsKeyOption });
    parser.process(app);

    if (!parser.isSet(dbOption))
        return fail(QStringLiteral("--db PATH is required."));
    const QString path = parser.value(dbOption);
    if (parser.isSet(dateOption) || parser.isSet(timeOption)) {
        DbValue::setGeneralDateFormat(parser.isSet(dateOption) ? parser.value(dateOption) : DbValue::generalDatePart(),
                                      parser.isSet(timeOption) ? parser.value(timeOption) : DbValue::generalTimePart());
    }

    QString error;
    if (parser.isSet(createOption)) {
        DemoLims::CreateOptions options;
        if (parser.isSet(clientsOption)) {
            bool ok = false;
            options.clients = parser.value(clientsOption).toInt(&ok);
            if (!ok || options.clients < 0)
                return fail(QStringLiteral("--clients takes a number of clients."));
        }
        if (!DemoLims::createDatabase(path, options, &error))
            return fail(error);
    } else if (!DemoLims::ensureDatabase(path, &error)) {
        return fail(error);
    }

    // Lets a person play the other application on the status board.
    if (parser.isSet(setOption)) {
        for (const QString &assignment : parser.values(setOption)) {
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

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("--port takes a port number."));

    std::unique_ptr<DemoTdsServer> tds;
    const bool tdsOnly = parser.isSet(tdsOnlyOption);
    if (parser.isSet(tdsOption) || tdsOnly) {
        QString password = parser.value(tdsPasswordOption);
        if (parser.isSet(tdsPasswordFileOption)) {
            QFile file(parser.value(tdsPasswordFileOption));
            if (!file.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("cannot read %1.").arg(file.fileName()));
            password = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
        }
        const uint tdsPort = parser.value(tdsPortOption).toUInt(&portOk);
        if (!parser.isSet(tdsUserOption) || password.isEmpty())
            return fail(QStringLiteral("--tds needs --tds-user and a password (--tds-password-file or --tds-password)."));
        if (!portOk || tdsPort > 65535)
            return fail(QStringLiteral("--tds-port takes a port number."));
        tds = std::make_unique<DemoTdsServer>(path, parser.value(tdsUserOption), password);
        TdsServerEncryption encryption {};
        DemoCertificates::Kind kind {};
        if (!DemoTdsServer::encryptionFromName(parser.value(tlsOption), &encryption))
            return fail(QStringLiteral("--tls takes offer, force, none or login-only."));
        if (!DemoCertificates::kindFromName(parser.value(certificateOption), &kind))
            return fail(QStringLiteral("--tls-certificate takes good, unknown-ca, wrong-host or expired."));
        if (encryption != TdsServerEncryption::Unsupported) {
            const QString folder = DemoCertificates::folderFor(path);
            if (!DemoCertificates::ensure(folder, &error) || !tds->useCertificate(folder, kind, &error))
                return fail(error);
        }
        tds->setEncryption(encryption);
        if (parser.isSet(wireRecordOption) && !tds->recordWire(parser.value(wireRecordOption)))
            return fail(QStringLiteral("cannot write %1.").arg(parser.value(wireRecordOption)));
        if (!tds->start(quint16(tdsPort)))
            return fail(QStringLiteral("cannot listen on 127.0.0.1,%1.").arg(tdsPort));
        std::printf("tds listening on %s\n", qPrintable(tds->serverAddress()));
        std::fflush(stdout);
    }
    if (tdsOnly)
        return app.exec();

    DemoReportServer server(path);
    const QString mode = parser.value(modeOption);
    const bool refuse = mode == QLatin1String("refuse");
    if (!refuse && !server.setMode(mode))
        return fail(QStringLiteral("unknown mode %1.").arg(mode));
    if (parser.isSet(tlsCertOption)) {
        QFile cert(parser.value(tlsCertOption));
        QFile key(parser.value(tlsKeyOption));
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("--tls-cert and --tls-key must name readable PEM files."));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(&cert));
        tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        server.setTls(tls);
    }
    if (!server.start(quint16(port)))
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1.").arg(port));
    if (refuse) {
        server.stop();
        std::printf("refusing on %s\n", qPrintable(server.address()));
    } else {
        std::printf("listening on %s\n", qPrintable(server.address()));
    }
    std::fflush(stdout);
    return app.exec();
}
