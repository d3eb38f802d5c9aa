#include "preflight/Preflight.h"

#include <algorithm>
#include <functional>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QSet>
#include <QSysInfo>
#include <QTemporaryFile>
#include <QTextStream>
#include <QUrl>

#include "platform/database/ConnectionText.h"
#include "platform/database/LinkSecurity.h"
#include "dispatch/DispatchText.h"
#if defined(HARDCOPY_HAVE_CUPS)
#include "platform/printing/CupsBackend.h"
#endif
#include "monitoring/StatusRecord.h"
#include "platform/database/DbConnection.h"
#include "platform/DurableFile.h"
#include "platform/Failure.h"
#include "platform/database/OdbcConnection.h"
#include "platform/database/OdbcDrivers.h"
#include "platform/database/TlsProbe.h"
#include "platform/desktop/WindowSystem.h"
#include "platform/StateFolder.h"
#include "register/RegisterCommands.h"
#include "statusboard/StationTurn.h"
#include "statusboard/StatusBoardText.h"

namespace {

// The board's rows of both regions in one query.
QString boardRowsQuery()
{
    QStringList names;
    for (const QString &suffix : boardSuffixes()) {
        for (const QString &parameter : boardParameters())
            names << parameter + suffix;
    }
    return boardRowsStatement(names);
}

// The report page itself, without the request's query: what the browser will load.
QString reportPageAddress(const QString &server, ReportScheme scheme)
{
    const QString base = reportRequestBase(server, scheme);
    return base.left(base.indexOf(QLatin1Char('?')));
}

Preflight::Outcome passed(const QString &text) { return {true, text}; }
Preflight::Outcome failed(const QString &text) { return {false, text}; }

} // namespace

Preflight::Preflight(StationSettings settings, std::unique_ptr<DbConnection> connection)
    : m_settings(std::move(settings))
    , m_connection(std::move(connection))
{
}

Preflight::~Preflight() = default;

int Preflight::run(QTextStream &out)
{
    const auto one = [](std::function<Outcome()> check) { return [check] { return QVector<Outcome> { check() }; }; };
    const std::vector<std::pair<QString, std::function<QVector<Outcome>()>>> checks = {
        { QStringLiteral("settings"), [this] { return checkSettings(m_settings); } },
        { QStringLiteral("ODBC driver"), one([this] { return checkDriver(); }) },
        { QStringLiteral("database connection"), one([this] { return checkConnection(); }) },
        { QStringLiteral("database link"), one([this] { return checkLink(); }) },
        { QStringLiteral("status board"), one([this] { return checkBoardRows(); }) },
        { QStringLiteral("printing turn"), one([this] { return checkTurn(); }) },
        { QStringLiteral("report server"), one([this] { return checkReportServer(); }) },
        { QStringLiteral("report page parts"), one([this] { return checkReportPageParts(); }) },
        { QStringLiteral("printer"), [this] { return checkPdfFolderOrPrinter(m_settings); } },
        { QStringLiteral("register"), one([this] { return checkRegister(m_settings); }) },
        { QStringLiteral("disk space"), one([this] { return checkDiskSpace(m_settings); }) },
        { QStringLiteral("supervision"), one([this] { return checkSupervision(m_settings); }) },
        { QStringLiteral("resume"), one([this] { return checkResume(m_settings); }) },
        { QStringLiteral("desktop"), one([] { return checkDesktop(); }) },
    };
    int failures = 0;
    int warnings = 0;
    for (const auto &[name, check] : checks) {
        const QVector<Outcome> outcomes = check();
        const bool failed = std::any_of(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return !o.passed; });
        const bool warned = std::any_of(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.warning; });
        if (failed)
            ++failures;
        else if (warned)
            ++warnings;
        for (const Outcome &outcome : outcomes)
            out << line(name, outcome) << Qt::endl;
    }
    if (failures == 0 && warnings > 0)
        out << "all " << checks.size() << " checks passed, " << warnings << " with a warning" << Qt::endl;
    else if (failures == 0)
        out << "all " << checks.size() << " checks passed" << Qt::endl;
    else
        out << failures << " of " << checks.size() << " checks failed" << Qt::endl;
    return failures == 0 ? 0 : 1;
}

Preflight::Outcome Preflight::checkDesktop()
{
    const WindowSystem::Verdict verdict = WindowSystem::describe(QProcessEnvironment::systemEnvironment());
    Outcome outcome { true, verdict.text };
    outcome.warning = verdict.warning;
    return outcome;
}

QString Preflight::line(const QString &check, const Outcome &outcome)
{
    const char *word = !outcome.passed ? "FAILED" : outcome.warning ? "WARN  " : "ok    ";
    return QStringLiteral("%1  %2: %3").arg(QLatin1String(word), check, outcome.text);
}

// A line for each value that cannot be used and each key the station does not know, then
// the file's own: required keys present, readable by the station's user only.
QVector<Preflight::Outcome> Preflight::checkSettings(const StationSettings &settings)
{
    QVector<Outcome> outcomes;
    for (const QString &problem : settings.unusable())
        outcomes << failed(problem);
    for (const QString &unknown : settings.unknownKeys) {
        Outcome outcome = passed(unknown);
        outcome.warning = true;
        outcomes << outcome;
    }
    const QString source = QFileInfo::exists(settings.sourcePath)
        ? settings.sourcePath
        : settings.sourcePath + QStringLiteral(" (not found: defaults)");
    const QStringList missing = settings.missingRequired();
    if (!missing.isEmpty())
        outcomes << failed(QStringLiteral("%1 lacks %2").arg(source, missing.join(QStringLiteral(", "))));
    // A readable file is a leak only when it holds the password.
    else if (settings.sourceReadableByOthers && !settings.databasePassword.isEmpty())
        outcomes << failed(settings.exposureWarning());
    else if (settings.unusable().isEmpty()) {
        QString text = QStringLiteral("%1, every required key present").arg(source);
        if (settings.sourceReadableByOthers)
            text += QStringLiteral(" (readable by other users; it holds no password)");
        outcomes << passed(text);
    }
    return outcomes;
}

Preflight::Outcome Preflight::checkDriver() const
{
    const QStringList drivers = registeredOdbcDrivers();
    if (drivers.contains(m_settings.odbcDriver))
        return passed(QStringLiteral("\"%1\" is registered with the driver manager").arg(m_settings.odbcDriver));
    return failed(QStringLiteral("\"%1\" is not registered with the driver manager (registered: %2)")
                      .arg(m_settings.odbcDriver,
                           drivers.isEmpty() ? QStringLiteral("none") : drivers.join(QStringLiteral(", "))));
}

Preflight::Outcome Preflight::checkConnection()
{
    const QString text = connectionTextToOpen(m_settings);
    const QString shown = withoutPassword(text);
    m_connection->setConnectionTimeout(kTimeoutSeconds);
    m_connection->setCommandTimeout(kTimeoutSeconds);
    QElapsedTimer clock;
    clock.start();
    try {
        m_connection->open(text);
    } catch (const Failure &failure) {
        QStringList messages;
        for (const ProviderMessage &message : m_connection->errors())
            messages << message.Description;
        if (messages.isEmpty())
            messages << failure.description();
        return failed(QStringLiteral("%1 did not open: %2").arg(shown, messages.join(QStringLiteral(" / "))));
    }
    m_connected = true;
    return passed(QStringLiteral("%1 opened in %2 ms").arg(shown).arg(clock.elapsed()));
}

// Whether the link is encrypted and its server verified, asked of the server itself:
// the driver reports neither. A link that works but is not protected passes with a
// WARNING; a refused one fails with the reason.
Preflight::Outcome Preflight::checkLink() const
{
    const LinkSecurity::Verdict verdict
        = LinkSecurity::judge(m_settings, LinkSecurity::probe(m_settings, kTimeoutSeconds * 1000));
    if (verdict.refused)
        return failed(verdict.line);
    // The line's first word says WARN already.
    Outcome outcome = passed(verdict.line.startsWith(QLatin1String("WARNING: ")) ? verdict.line.mid(9) : verdict.line);
    outcome.warning = verdict.warning;
    return outcome;
}

Preflight::Outcome Preflight::checkBoardRows()
{
    if (!m_connected)
        return failed(QStringLiteral("not checked: the database connection did not open"));
    ResultSetPtr rows;
    try {
        rows = m_connection->execute(boardRowsQuery());
    } catch (const Failure &failure) {
        return failed(QStringLiteral("cinrg.dbo.settings cannot be read: %1").arg(failure.description()));
    }
    QSet<QString> present;
    const int column = rows->columnIndex(QStringLiteral("PARAMETER"));
    for (int row = 0; column >= 0 && row < rows->rowCount(); ++row)
        present.insert(boardRightTrimBlanks(rows->value(row, column).toText()).toLower());
    QStringList missing;
    for (const QString &suffix : boardSuffixes()) {
        for (const QString &parameter : boardParameters()) {
            if (!present.contains((parameter + suffix).toLower()))
                missing << parameter + suffix;
        }
    }
    if (!missing.isEmpty())
        return failed(QStringLiteral("rows missing in cinrg.dbo.settings: %1 (the station never inserts them)")
                          .arg(missing.join(QStringLiteral(", "))));
    return passed(QStringLiteral("all %1 rows present for %2").arg(boardParameters().size())
                      .arg(boardSuffixes().join(QStringLiteral(" and "))));
}

// Per region: free (this station takes it when it starts), held by this machine's
// station, or by another station. Only asked: the lock is not taken.
Preflight::Outcome Preflight::checkTurn()
{
    if (!m_connected)
        return failed(QStringLiteral("not checked: the database connection did not open"));
    QStringList regions;
    try {
        for (const QString &suffix : boardSuffixes()) {
            const ResultSetPtr free = m_connection->execute(StationTurn::freeStatement(suffix));
            QString holder;
            if (free->field(QStringLiteral("FREE")).toInt32() == 1) {
                holder = QStringLiteral("free");
            } else {
                const ResultSetPtr rows = m_connection->execute(StationTurn::holderStatement(suffix));
                const QString host = rows->eof() ? QString() : rows->field(QStringLiteral("HOST_NAME")).toText().trimmed();
                holder = host.isEmpty() ? QStringLiteral("held by another station")
                    : host == QSysInfo::machineHostName() ? QStringLiteral("held by this station (%1)").arg(host)
                                                          : QStringLiteral("held by station %1").arg(host);
            }
            regions << StationTurn::lockName(suffix) + QStringLiteral(" ") + holder;
        }
    } catch (const Failure &failure) {
        return failed(QStringLiteral("the LIMS's application locks cannot be asked: %1").arg(failure.description()));
    }
    return passed(regions.join(QStringLiteral("; ")));
}

Preflight::Outcome Preflight::checkReportServer() const
{
    const QString address = reportPageAddress(m_settings.reportServer, m_settings.reportScheme);
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(address)};
    request.setTransferTimeout(kTimeoutSeconds * 1000);
    // HEAD: the page's own request would open a batch; the headers say enough.
    QNetworkReply *reply = network.head(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QString error = reply->errorString();
    reply->deleteLater();
    // Any HTTP answer means the server is there; only no answer at all fails.
    if (status.isValid())
        return passed(QStringLiteral("%1 answered HTTP %2").arg(address).arg(status.toInt()));
    return failed(QStringLiteral("%1 did not answer: %2").arg(address, error));
}

Preflight::Outcome Preflight::checkPdfFolder(const QString &folder)
{
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("the PDF folder %1 cannot be created").arg(shown));
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".hardcopy-check-XXXXXX")));
    if (!probe.open() || probe.write("%PDF-") != 5)
        return failed(QStringLiteral("the PDF folder %1 is not writable: %2").arg(shown, probe.errorString()));
    return passed(QStringLiteral("pages are printed as PDF files into %1, which is writable").arg(shown));
}

Preflight::Outcome Preflight::checkDiskSpace(const StationSettings &settings, qint64 minFreeBytes)
{
    const QString statusFile = settings.statusFile.isEmpty() ? defaultStatusFilePath() : settings.statusFile;
    const std::pair<QString, QString> folders[] = {
        { QStringLiteral("PDF folder"), settings.pdfFolder },
        { QStringLiteral("log"), settings.logFile.isEmpty() ? QString() : QFileInfo(settings.logFile).absolutePath() },
        { QStringLiteral("status record"), QFileInfo(statusFile).absolutePath() },
        { QStringLiteral("register"), QFileInfo(RegisterSettings::from(settings).file).absolutePath() },
        { QStringLiteral("metrics file"),
            settings.metricsFile.isEmpty() ? QString() : QFileInfo(settings.metricsFile).absolutePath() },
    };
    QStringList low;
    QStringList enough;
    for (const auto &[what, folder] : folders) {
        if (folder.isEmpty())
            continue;
        const qint64 free = freeBytesAt(folder);
        const QString line = QStringLiteral("%1 %2: %3 bytes free").arg(what, QDir::toNativeSeparators(folder)).arg(free);
        (free >= 0 && free < minFreeBytes ? low : enough) << line;
    }
    if (!low.isEmpty()) {
        Outcome outcome = passed(QStringLiteral("less than %1 bytes (%2 MiB) free, what a few runs' pages and "
                                                "records need: %3")
                                     .arg(minFreeBytes)
                                     .arg(minFreeBytes / (1024 * 1024))
                                     .arg(low.join(QStringLiteral("; "))));
        outcome.warning = true;
        return outcome;
    }
    return passed(QStringLiteral("at least %1 bytes free for %2").arg(minFreeBytes).arg(enough.join(QStringLiteral("; "))));
}

Preflight::Outcome Preflight::checkRegister(const StationSettings &settings)
{
    const RegisterCommands::CheckOutcome outcome = RegisterCommands::check(RegisterSettings::from(settings));
    return outcome.passed ? passed(outcome.text) : failed(outcome.text);
}

QVector<Preflight::Outcome> Preflight::checkPdfFolderOrPrinter(const StationSettings &settings)
{
    if (!settings.pdfFolder.isEmpty())
        return { checkPdfFolder(settings.pdfFolder) };
#if defined(HARDCOPY_HAVE_CUPS)
    // The same checks a page goes through before its job is made, each call bounded.
    CupsBackend cups(settings.printer, settings.cupsServer);
    QString queue;
    QString problem;
    QString detail;
    if (!cups.checkReady(&queue, &problem, &detail))
        return { failed(detail.isEmpty() ? problem : QStringLiteral("%1 (%2)").arg(problem, detail)) };
    QVector<Outcome> outcomes { passed(QStringLiteral("CUPS queue %1%2 exists and accepts jobs")
            .arg(queue, settings.printer.isEmpty() ? QStringLiteral(" (the default printer)") : QString())) };
    for (const PageType page : { PageType::Cover, PageType::Samples })
        outcomes << checkPrintOptions(cups, queue, page, settings.printOptionsFor(page));
    return outcomes;
#else
    return { passed(QStringLiteral("printer %1: this system has no CUPS; the spooler is asked when a page is printed")
            .arg(settings.printer.isEmpty() ? QStringLiteral("(default)") : settings.printer)) };
#endif
}

QStringList Preflight::unsupportedPrintOptions(const StationSettings &settings, QString *error)
{
    QStringList lines;
#if defined(HARDCOPY_HAVE_CUPS)
    const bool noneSet
        = settings.printOptionsFor(PageType::Cover).isEmpty() && settings.printOptionsFor(PageType::Samples).isEmpty();
    if (!settings.pdfFolder.isEmpty() || noneSet)
        return lines;
    CupsBackend cups(settings.printer, settings.cupsServer);
    QString queue;
    QString detail;
    if (!cups.checkReady(&queue, error, &detail))
        return lines;
    for (const PageType page : { PageType::Cover, PageType::Samples }) {
        for (const Outcome &outcome : checkPrintOptions(cups, queue, page, settings.printOptionsFor(page))) {
            if (!outcome.passed)
                lines << outcome.text;
        }
    }
#else
    Q_UNUSED(settings);
    Q_UNUSED(error);
#endif
    return lines;
}

#if defined(HARDCOPY_HAVE_CUPS)
// A line for the options a page type's jobs are sent with and those left to the queue,
// or a failed line for each the queue does not support.
QVector<Preflight::Outcome> Preflight::checkPrintOptions(
    CupsBackend &cups, const QString &queue, PageType page, const JobOptions &options)
{
    const QString name = page == PageType::Cover ? QStringLiteral("cover page") : QStringLiteral("samples page");
    QStringList unsupported;
    QString error;
    if (!cups.checkOptions(queue, options, &unsupported, &error))
        return { failed(QStringLiteral("%1: %2").arg(name, error)) };
    QVector<Outcome> outcomes;
    for (const QString &problem : std::as_const(unsupported))
        outcomes << failed(QStringLiteral("%1: %2").arg(name, problem));
    if (!outcomes.isEmpty())
        return outcomes;
    const QStringList notSet = attributesNotSet(options);
    QString text = QStringLiteral("%1 printed with %2").arg(name,
        options.isEmpty() ? QStringLiteral("no print option of its own") : describeOptions(options));
    if (!notSet.isEmpty())
        text += QStringLiteral("; not set, the queue's default decides: %1").arg(notSet.join(QStringLiteral(", ")));
    return { passed(text) };
}
#endif
