#include "settings/StationSettings.h"

#include <algorithm>
#include <numeric>
#include <variant>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include "platform/StateFolder.h"
#include "settings/IniFile.h"

namespace {

// Where a key's value goes, and so how it is read: a text (as written, or without the
// blanks around it), a list, a boolean, a count above 0, or one of a mode's words.
// One print option of one page type's set.
struct PrintOptionField
{
    PrintOptionSettings StationSettings::*set;
    QString PrintOptionSettings::*option;
};

using Field = std::variant<QString StationSettings::*, QStringList StationSettings::*, bool StationSettings::*,
    int StationSettings::*, EncryptionMode StationSettings::*, ReportScheme StationSettings::*, PrintOptionField>;

enum class Blanks { Kept, Trimmed };

struct KnownKey
{
    const char *section;
    const char *key;
    Field field;
    const char *unit = nullptr; // a count: what it counts
    Blanks blanks = Blanks::Kept;
};

// Every key the station reads, in the order of the example settings file. A new key is
// one line here (and one in the example file and docs/installing.md).
const KnownKey kKnownKeys[] = {
    { "Database", "Server", &StationSettings::databaseServer },
    { "Database", "Driver", &StationSettings::odbcDriver },
    { "Database", "User", &StationSettings::databaseUser },
    { "Database", "Password", &StationSettings::databasePassword },
    { "Database", "ExtraOptions", &StationSettings::connectionOptions },
    { "Database", "Encryption", &StationSettings::encryption },
    { "Database", "CaFile", &StationSettings::caFile, nullptr, Blanks::Trimmed },
    { "Database", "CheckHostName", &StationSettings::checkHostName },
    { "Database", "HostNameInCertificate", &StationSettings::hostNameInCertificate, nullptr, Blanks::Trimmed },
    { "ReportServer", "Address", &StationSettings::reportServer },
    { "ReportServer", "Scheme", &StationSettings::reportScheme },
    { "ReportServer", "AllowedOrigins", &StationSettings::allowedOrigins },
    { "ReportServer", "PageLoadTimeout", &StationSettings::pageLoadTimeoutSeconds, "seconds" },
    { "ReportServer", "RetryPauseCap", &StationSettings::retryPauseCapSeconds, "seconds" },
    { "ReportServer", "PrintIncompletePages", &StationSettings::printIncompletePages },
    { "Printing", "Printer", &StationSettings::printer },
    { "Printing", "PdfFolder", &StationSettings::pdfFolder },
    { "Printing", "JobTimeout", &StationSettings::jobTimeoutSeconds, "seconds" },
    { "Printing", "CupsServer", &StationSettings::cupsServer },
    { "Printing", "MediaSource", PrintOptionField { &StationSettings::printOptions, &PrintOptionSettings::mediaSource }, nullptr,
        Blanks::Trimmed },
    { "Printing", "Sides", PrintOptionField { &StationSettings::printOptions, &PrintOptionSettings::sides }, nullptr,
        Blanks::Trimmed },
    { "Printing", "Copies", PrintOptionField { &StationSettings::printOptions, &PrintOptionSettings::copies }, nullptr,
        Blanks::Trimmed },
    { "Printing", "PrintQuality", PrintOptionField { &StationSettings::printOptions, &PrintOptionSettings::printQuality }, nullptr,
        Blanks::Trimmed },
    { "Printing", "Media", PrintOptionField { &StationSettings::printOptions, &PrintOptionSettings::media }, nullptr,
        Blanks::Trimmed },
    { "Printing", "CoverMediaSource", PrintOptionField { &StationSettings::coverPrintOptions, &PrintOptionSettings::mediaSource }, nullptr,
        Blanks::Trimmed },
    { "Printing", "CoverSides", PrintOptionField { &StationSettings::coverPrintOptions, &PrintOptionSettings::sides }, nullptr,
        Blanks::Trimmed },
    { "Printing", "CoverCopies", PrintOptionField { &StationSettings::coverPrintOptions, &PrintOptionSettings::copies }, nullptr,
        Blanks::Trimmed },
    { "Printing", "CoverPrintQuality", PrintOptionField { &StationSettings::coverPrintOptions, &PrintOptionSettings::printQuality }, nullptr,
        Blanks::Trimmed },
    { "Printing", "CoverMedia", PrintOptionField { &StationSettings::coverPrintOptions, &PrintOptionSettings::media }, nullptr,
        Blanks::Trimmed },
    { "Printing", "SamplesMediaSource", PrintOptionField { &StationSettings::samplesPrintOptions, &PrintOptionSettings::mediaSource }, nullptr,
        Blanks::Trimmed },
    { "Printing", "SamplesSides", PrintOptionField { &StationSettings::samplesPrintOptions, &PrintOptionSettings::sides }, nullptr,
        Blanks::Trimmed },
    { "Printing", "SamplesCopies", PrintOptionField { &StationSettings::samplesPrintOptions, &PrintOptionSettings::copies }, nullptr,
        Blanks::Trimmed },
    { "Printing", "SamplesPrintQuality", PrintOptionField { &StationSettings::samplesPrintOptions, &PrintOptionSettings::printQuality }, nullptr,
        Blanks::Trimmed },
    { "Printing", "SamplesMedia", PrintOptionField { &StationSettings::samplesPrintOptions, &PrintOptionSettings::media }, nullptr,
        Blanks::Trimmed },
    { "Display", "DateFormat", &StationSettings::dateFormat },
    { "Display", "TimeFormat", &StationSettings::timeFormat },
    { "Log", "File", &StationSettings::logFile },
    { "Monitoring", "StatusFile", &StationSettings::statusFile },
    { "Monitoring", "MetricsFile", &StationSettings::metricsFile },
    { "Monitoring", "WarningMinutes", &StationSettings::warningMinutes, "minutes" },
    { "Monitoring", "CriticalMinutes", &StationSettings::criticalMinutes, "minutes" },
    { "Station", "ResumeAfterRestart", &StationSettings::resumeAfterRestart },
    { "Station", "ResumeWithinHours", &StationSettings::resumeWithinHours, "hours" },
    { "Register", "File", &StationSettings::registerFile, nullptr, Blanks::Trimmed },
    { "Register", "KeepDays", &StationSettings::registerKeepDays, "days" },
    { "Register", "KeepMegabytes", &StationSettings::registerKeepMegabytes, "megabytes" },
    { "Demo", "Enabled", &StationSettings::demo },
    { "Demo", "Database", &StationSettings::demoDatabase },
    { "Demo", "ReportServer", &StationSettings::demoReportServer },
    { "Demo", "DatabaseServer", &StationSettings::demoDatabaseServer },
};

QString shownKey(const QString &section, const QString &key)
{
    return QStringLiteral("[%1] %2").arg(section, key);
}

template <class Mode> struct Word
{
    const char *word;
    Mode mode;
};

const Word<bool> kBooleans[] = { { "true", true }, { "false", false }, { "yes", true }, { "no", false }, { "on", true },
    { "off", false }, { "1", true }, { "0", false } };
const Word<EncryptionMode> kEncryptionModes[] = { { "require", EncryptionMode::Require },
    { "request", EncryptionMode::Request }, { "off", EncryptionMode::Off } };
const Word<ReportScheme> kSchemes[] = { { "http", ReportScheme::Http }, { "https", ReportScheme::Https } };

// The mode a word names, case and blanks aside; false for any other word.
template <class Mode, size_t N> bool parseWord(const Word<Mode> (&words)[N], const QString &value, Mode *mode)
{
    const QString word = value.trimmed().toLower();
    for (const Word<Mode> &candidate : words) {
        if (word == QLatin1String(candidate.word)) {
            *mode = candidate.mode;
            return true;
        }
    }
    return false;
}

template <class Mode, size_t N> QString wordsOf(const Word<Mode> (&words)[N])
{
    QStringList list;
    for (const Word<Mode> &word : words)
        list << QLatin1String(word.word);
    return list.mid(0, list.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") + list.last();
}

template <class Mode, size_t N> QString nameOf(const Word<Mode> (&words)[N], Mode mode)
{
    for (const Word<Mode> &word : words) {
        if (word.mode == mode)
            return QLatin1String(word.word);
    }
    return {};
}

// An origin as a browser tells them apart: http or https, a host, perhaps a port, and
// nothing after them.
bool isOrigin(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty() && url.userInfo().isEmpty() && (url.path().isEmpty() || url.path() == u'/')
        && !url.hasQuery() && !url.hasFragment();
}

// Reads one key that the file has into its field; a value that cannot be used leaves
// the field as it was and says what the key takes.
void readKey(const QString &value, const KnownKey &known, StationSettings &s)
{
    const QString section = QLatin1String(known.section);
    const QString key = QLatin1String(known.key);
    const auto refuse = [&](const QString &takes) {
        s.badValues
            << QStringLiteral("%1 = \"%2\" is not accepted: it takes %3").arg(shownKey(section, key), value, takes);
    };
    if (const auto *field = std::get_if<QString StationSettings::*>(&known.field)) {
        s.*(*field) = known.blanks == Blanks::Trimmed ? value.trimmed() : value;
    } else if (const auto *list = std::get_if<QStringList StationSettings::*>(&known.field)) {
        s.*(*list) = value.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
        for (const QString &entry : std::as_const(s.*(*list))) {
            if (!isOrigin(entry))
                s.badValues << QStringLiteral("%1: \"%2\" is not an origin: write scheme://host or "
                                              "scheme://host:port, with http or https (such as https://cdn.lab.local)")
                                   .arg(shownKey(section, key), entry);
        }
    } else if (const auto *option = std::get_if<PrintOptionField>(&known.field)) {
        (s.*(option->set)).*(option->option) = value.trimmed();
    } else if (const auto *flag = std::get_if<bool StationSettings::*>(&known.field)) {
        if (!parseWord(kBooleans, value, &(s.*(*flag))))
            refuse(wordsOf(kBooleans));
    } else if (const auto *count = std::get_if<int StationSettings::*>(&known.field)) {
        bool ok = false;
        const int number = value.trimmed().toInt(&ok);
        if (ok && number > 0)
            s.*(*count) = number;
        else
            refuse(QStringLiteral("a whole number of %1 above 0").arg(QLatin1String(known.unit)));
    } else if (const auto *encryption = std::get_if<EncryptionMode StationSettings::*>(&known.field)) {
        if (!parseWord(kEncryptionModes, value, &(s.*(*encryption))))
            refuse(wordsOf(kEncryptionModes));
    } else if (const auto *scheme = std::get_if<ReportScheme StationSettings::*>(&known.field)) {
        if (!parseWord(kSchemes, value, &(s.*(*scheme))))
            refuse(wordsOf(kSchemes));
    }
}

// How many single-letter edits turn one name into the other, case aside.
int editDistance(const QString &a, const QString &b)
{
    const QString x = a.toLower();
    const QString y = b.toLower();
    QVector<int> row(y.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({ row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row[y.size()];
}

// The candidate a mistyped name most likely meant; empty when none is close.
QString nearest(const QString &name, const QStringList &candidates)
{
    QString best;
    int bestDistance = std::max<int>(2, int(name.size() / 3)) + 1;
    for (const QString &candidate : candidates) {
        const int distance = editDistance(name, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

// "[Printing] Pritner: unknown key; did you mean Printer?"
QString unknownKeyText(const QString &section, const QString &key)
{
    QStringList sections;
    QStringList keys;
    for (const KnownKey &known : kKnownKeys) {
        if (!sections.contains(QLatin1String(known.section)))
            sections << QLatin1String(known.section);
        if (section == QLatin1String(known.section))
            keys << QLatin1String(known.key);
    }
    const QString shown = shownKey(section, key);
    if (!keys.isEmpty()) {
        const QString meant = nearest(key, keys);
        return meant.isEmpty()
            ? QStringLiteral("%1: unknown key; [%2] has %3").arg(shown, section, keys.join(QStringLiteral(", ")))
            : QStringLiteral("%1: unknown key; did you mean %2?").arg(shown, meant);
    }
    const QString meant = nearest(section, sections);
    return meant.isEmpty()
        ? QStringLiteral("%1: unknown section; the sections are %2").arg(shown, sections.join(QStringLiteral(", ")))
        : QStringLiteral("%1: unknown section; did you mean [%2]?").arg(shown, meant);
}

// The link's settings that cannot be used together, as badValues words them.
QStringList linkProblems(const StationSettings &settings)
{
    QStringList problems;
    if (!settings.caFile.isEmpty() && settings.caFile != QLatin1String("system")
        && !QFileInfo(settings.caFile).isReadable())
        problems << QStringLiteral("[Database] CaFile = a readable PEM file or system (%1 cannot be read)")
                        .arg(settings.caFile);
    static const QRegularExpression own(QStringLiteral("(^|;)\\s*(Encryption|Encrypt|TrustServerCertificate)\\s*="),
        QRegularExpression::CaseInsensitiveOption);
    if (own.match(settings.connectionOptions).hasMatch())
        problems << QStringLiteral("[Database] ExtraOptions without Encryption, Encrypt or TrustServerCertificate "
                                   "([Database] Encryption and CaFile set them)");
    // FreeTDS checks the certificate for the host it connects to and takes no other name.
    if (!settings.usesMicrosoftDriver() && !settings.hostNameInCertificate.isEmpty())
        problems << QStringLiteral("[Database] HostNameInCertificate = \"%1\" is not accepted: FreeTDS checks the "
                                   "certificate for the host of [Database] Server and takes no other name (the key is "
                                   "for Microsoft's driver)")
                        .arg(settings.hostNameInCertificate);
    return problems;
}

// Keys that set how the link and the pages are protected: one written in another case is
// refused rather than taken, so that a slip can never lower protection unnoticed.
bool setsProtection(const KnownKey &known)
{
    static const char *const protective[] = { "Encryption", "CaFile", "CheckHostName", "HostNameInCertificate",
        "Scheme", "AllowedOrigins", "PrintIncompletePages" };
    return std::any_of(std::begin(protective), std::end(protective),
        [&](const char *key) { return qstrcmp(key, known.key) == 0; });
}

const KnownKey *knownKey(const IniFile::Entry &entry, Qt::CaseSensitivity cs)
{
    for (const KnownKey &known : kKnownKeys) {
        if (entry.section.compare(QLatin1String(known.section), cs) == 0
            && entry.key.compare(QLatin1String(known.key), cs) == 0)
            return &known;
    }
    return nullptr;
}

void readAll(const IniFile &ini, StationSettings &s)
{
    s.badValues << ini.problems();
    for (const IniFile::Entry &entry : ini.entries()) {
        if (const KnownKey *known = knownKey(entry, Qt::CaseSensitive)) {
            readKey(entry.value, *known, s);
            continue;
        }
        const KnownKey *known = knownKey(entry, Qt::CaseInsensitive);
        if (!known) {
            s.unknownKeys << unknownKeyText(entry.section, entry.key);
            continue;
        }
        const QString meant = shownKey(QLatin1String(known->section), QLatin1String(known->key));
        if (setsProtection(*known)) {
            s.badValues << QStringLiteral("%1 is not taken: the key is spelled %2, and a key that sets protection is "
                                          "taken only as spelled")
                               .arg(shownKey(entry.section, entry.key), meant);
            continue;
        }
        s.unknownKeys << QStringLiteral("%1 is taken as %2: write it so").arg(shownKey(entry.section, entry.key), meant);
        readKey(entry.value, *known, s);
    }
}

} // namespace

QString encryptionModeName(EncryptionMode mode)
{
    return nameOf(kEncryptionModes, mode);
}

QString reportSchemeName(ReportScheme scheme)
{
    return nameOf(kSchemes, scheme);
}

QStringList StationSettings::missingRequired() const
{
    QStringList missing;
    if (demo)
        return missing;
    if (databaseServer.trimmed().isEmpty())
        missing << QStringLiteral("[Database] Server");
    if (databaseUser.trimmed().isEmpty())
        missing << QStringLiteral("[Database] User");
    if (databasePassword.isEmpty())
        missing << QStringLiteral("[Database] Password");
    if (reportServer.trimmed().isEmpty())
        missing << QStringLiteral("[ReportServer] Address");
    return missing;
}

bool StationSettings::usesMicrosoftDriver() const
{
    return odbcDriver.contains(QLatin1String("ODBC Driver"), Qt::CaseInsensitive);
}

QStringList StationSettings::unusable() const
{
    return badValues + linkProblems(*this);
}

QString StationSettings::exposureWarning() const
{
    if (!sourceReadableByOthers)
        return {};
    const QString path = QDir::toNativeSeparators(sourcePath);
    const QString what = databasePassword.isEmpty() ? QStringLiteral("it is meant for the station's user only")
                                                    : QStringLiteral("it holds the database password");
    return QStringLiteral("the settings file %1 can be read by other users, and %2: make it readable by the "
                          "station's user only (chmod 600 %1)")
        .arg(path, what);
}

StationSettings loadStationSettings(const QString &iniPath)
{
    StationSettings s;
    s.sourcePath = iniPath;
    const QFileInfo file(iniPath);
    s.sourceReadableByOthers =
        file.exists() && (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    s.logFile = defaultLogPath();
    s.statusFile = defaultStatusFilePath();
    s.registerFile = defaultRegisterFilePath();
    s.demoDatabase = defaultDemoDatabasePath();
    readAll(IniFile::read(iniPath), s);
    return s;
}

QList<QPair<QString, QString>> StationSettings::printOptionsFor(PageType page) const
{
    static const std::pair<const char *, QString PrintOptionSettings::*> kAttributes[] = {
        { "media-source", &PrintOptionSettings::mediaSource },
        { "sides", &PrintOptionSettings::sides },
        { "copies", &PrintOptionSettings::copies },
        { "print-quality", &PrintOptionSettings::printQuality },
        { "media", &PrintOptionSettings::media },
    };
    const PrintOptionSettings &own = page == PageType::Cover ? coverPrintOptions : samplesPrintOptions;
    QList<QPair<QString, QString>> options;
    for (const auto &[attribute, option] : kAttributes) {
        const QString value = (own.*option).isEmpty() ? printOptions.*option : own.*option;
        if (!value.isEmpty())
            options.append({ QLatin1String(attribute), value });
    }
    return options;
}
