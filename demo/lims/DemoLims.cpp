#include "demo/lims/DemoLims.h"

#include <iterator>

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QRandomGenerator>
#include <QSqlQuery>

#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLimsEngine.h"
#include "demo/lims/DemoSql.h"

namespace DemoLims {

namespace {

const QStringList kSchema = {
    QStringLiteral("CREATE TABLE demo_meta(key TEXT PRIMARY KEY, value TEXT)"),
    QStringLiteral("CREATE TABLE clients(contact_id INTEGER PRIMARY KEY, contact_name TEXT NOT NULL, "
                   "enduser_id TEXT, lab_code TEXT NOT NULL)"),
    QStringLiteral("CREATE TABLE samples(sample_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "contact_id INTEGER NOT NULL REFERENCES clients(contact_id), sample_no TEXT, matrix TEXT, "
                   "analysis TEXT, result TEXT, rec_date TEXT NOT NULL, severity INTEGER NOT NULL DEFAULT 0, "
                   "custom_flag INTEGER NOT NULL DEFAULT 0, distribution_type TEXT NOT NULL DEFAULT 'HARD_COPY', "
                   "status TEXT NOT NULL DEFAULT 'DUE', batch_id TEXT, distributed_at TEXT)"),
    QStringLiteral("CREATE INDEX samples_due ON samples(status, distribution_type, contact_id, rec_date)"),
    QStringLiteral("CREATE INDEX samples_batch ON samples(batch_id)"),
    QStringLiteral("CREATE INDEX clients_lab ON clients(lab_code)"),
    QStringLiteral("CREATE TABLE batches(batch_id TEXT PRIMARY KEY, contact_id INTEGER NOT NULL, "
                   "rec_date TEXT NOT NULL, distribution_type TEXT NOT NULL, created_at TEXT NOT NULL)"),
    QStringLiteral("CREATE TABLE operators(password TEXT NOT NULL, fg_custsrv_res INTEGER, labcode TEXT, "
                   "emp_num TEXT, operator_name TEXT)"),
    QStringLiteral("CREATE TABLE settings(parameter TEXT, value TEXT)"),
    QStringLiteral("CREATE TABLE demo_journal(id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, "
                   "statement TEXT NOT NULL, outcome TEXT)"),
    QStringLiteral("CREATE TABLE demo_faults(kind TEXT PRIMARY KEY, remaining INTEGER NOT NULL)"),
    QStringLiteral("CREATE TABLE demo_requests(id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, "
                   "url TEXT NOT NULL)"),
};

struct SeedClient
{
    qint64 id;
    const char *name;
    const char *endUserId;
    bool usLab;
};

// Names chosen to exercise what the station must carry through unchanged: a quote,
// an ampersand, trailing blanks and letters outside ASCII. The names and end-user ids are
// varchar columns in code page 1252 on the LIMS, so every letter is one that code page
// holds, those it has beyond Latin-1 (Š, Ž) included.
const SeedClient kSeedClients[] = {
    {1001, "Acme Water Utility", "ACME01", false},
    {1002, "O'Brien Environmental", "OBRIEN", false},
    {1003, "M\u00fcller Wasserlabor GmbH", "MUELLER", false},
    {1004, "R&D Consulting", "R&D LAB  ", false},
    {1005, "Soci\u00e9t\u00e9 des Eaux du Nord", "SEN-7", false},
    {1006, "Riverside Brewing Co.", "RIVBREW", false},
    {1007, "Hill County Health Dept.", "HCHD", false},
    {1008, "\u00c5ngstr\u00f6m Analytics AB", "ANGSTROM", false},
    {1009, "Blue Ridge Dairy", "BRDAIRY", false},
    {1010, "Cedar Falls Municipal", "CEDARF", false},
    {1011, "Northwind Foods", "NWFOODS", false},
    {1012, "\u0160kofja Loka Water Works", "SKOFJA", false},
    {1013, "Pine Valley Golf Club", "PVGOLF", false},
    {1014, "Summit Engineering", "SUMMIT", false},
    {1015, "Greenfield School District", "GFSD", false},
    {1016, "Lakeshore Marina", "LAKEMAR", false},
    {1017, "S\u00e3o Paulo Imports", "SPIMP", false},
    {1018, "Harbor Point Hospital", "HPHOSP", false},
    {1019, "Prairie Farms Co-op", "PRAIRIE", false},
    {1020, "Westgate Apartments", "WESTGATE", false},
    {1021, "Canyon Ridge Winery", "CANYON", false},
    {1022, "Maple Leaf Bakery", "MAPLE", false},
    {1023, "Iron Mountain Mining", "IRONMTN", false},
    {1024, "Sunset Senior Living", "SUNSET", false},
    {2001, "Kepler Aquatics", "KEPLER", true},
    {2002, "Fjord Seafood AS", "FJORD", true},
    {2003, "Z\u00fcrich Chemicals", "ZURICH", true},
    {2004, "Delta Irrigation District", "DELTA", true},
    {2005, "Oakwood Pharmacy", "OAKWOOD", true},
    {2006, "Bayview Hotel", "BAYVIEW", true},
    {2007, "Crescent City Labs", "CRESCENT", true},
    {2008, "Timberline Lodge", "TIMBER", true},
    {2009, "Dubois & Fils", "DUBOIS&F ", true},
    {2010, "Redstone Quarry", "REDSTONE", true},
    {2011, "Alpine Springs Water", "ALPINE", true},
    {2012, "\u017datec Hop Growers", "ZATEC", true},
};

struct Analysis
{
    const char *matrix;
    const char *analysis;
};
const Analysis kAnalyses[] = {
    {"Drinking water", "Total coliforms"}, {"Drinking water", "Lead"},       {"Waste water", "BOD5"},
    {"Surface water", "Nitrate"},          {"Soil", "Petroleum hydrocarbons"}, {"Food", "Salmonella"},
    {"Swab", "Listeria"},                  {"Drinking water", "Arsenic"},     {"Pool water", "Free chlorine"},
};
const int kSeverities[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 4, 5, 6, 8, 10, 12};

// The standard seed's groups are fixed enough that the filters always tell apart:
// these clients are severe, abnormal only, custom only and twice due.
bool forcedSevere(qint64 id) { return id == 1002 || id == 2003; }
bool forcedAbnormal(qint64 id) { return id == 1004 || id == 2009; }
bool forcedCustom(qint64 id) { return id == 1003 || id == 2005; }
bool forcedTwoDates(qint64 id) { return id == 1001 || id == 1012 || id == 2001; }
// These clients' reports were stamped with the time of entry, as a LIMS that takes the
// current time stamps them: SQL Server keeps the fraction of a second, which the station's
// date text leaves out. An invalid time for the others.
QTime stampedTime(qint64 id)
{
    if (id == 1006)
        return QTime(10, 52, 29, 123);
    if (id == 2004)
        return QTime(14, 7, 41, 587);
    return {};
}

class Seeder
{
public:
    Seeder(DemoDatabase &db, quint32 seed, const QDateTime &now) : m_db(db), m_random(seed), m_now(now) {}

    void client(qint64 id, const QString &name, const QString &endUserId, const QString &lab)
    {
        m_db.run(QStringLiteral("INSERT INTO clients(contact_id, contact_name, enduser_id, lab_code) VALUES(?,?,?,?)"),
                 {id, name, endUserId, lab});
    }

    QDateTime recDate(int daysAgo, bool withTime)
    {
        const QDate date = m_now.date().addDays(-daysAgo);
        if (!withTime)
            return date.startOfDay();
        return QDateTime(date, QTime(7 + int(m_random.bounded(10)), int(m_random.bounded(60)), int(m_random.bounded(60))));
    }

    void sample(qint64 contactId, const QDateTime &recDate, int severity, bool custom, const QString &type,
                const QString &status)
    {
        const Analysis &analysis = kAnalyses[m_random.bounded(int(std::size(kAnalyses)))];
        const QString sampleNo = QStringLiteral("S%1-%2").arg(recDate.date().year() % 100, 2, 10, QLatin1Char('0'))
                                     .arg(++m_sampleCounter, 6, 10, QLatin1Char('0'));
        m_db.run(QStringLiteral("INSERT INTO samples(contact_id, sample_no, matrix, analysis, result, rec_date, "
                                "severity, custom_flag, distribution_type, status, distributed_at) "
                                "VALUES(?,?,?,?,?,?,?,?,?,?,?)"),
                 {contactId, sampleNo, QString::fromUtf8(analysis.matrix), QString::fromUtf8(analysis.analysis),
                  resultText(severity), demoDateText(recDate), severity, custom ? 1 : 0, type, status,
                  status == QLatin1String("DISTRIBUTED") ? QVariant(demoDateText(m_now)) : QVariant()});
    }

    // One due group with 1-5 samples, some of them of another distribution type.
    void dueGroup(qint64 contactId, const QDateTime &recDate, int forcedSeverity, bool forcedCustomFlag)
    {
        const int count = 1 + int(m_random.bounded(4));
        for (int i = 0; i < count; ++i) {
            int severity = kSeverities[m_random.bounded(int(std::size(kSeverities)))];
            bool custom = m_random.bounded(5) == 0;
            if (forcedSeverity >= 0) {
                severity = i == 0 ? forcedSeverity : qMin(severity, forcedSeverity);
                custom = false;
            }
            if (forcedCustomFlag) {
                severity = qMin(severity, 2);
                custom = i == 0;
            }
            const QString type = i > 0 && m_random.bounded(8) == 0 ? QStringLiteral("EMAIL") : QStringLiteral("HARD_COPY");
            sample(contactId, recDate, severity, custom, type, QStringLiteral("DUE"));
        }
    }

    int randomBelow(int n) { return int(m_random.bounded(n)); }

private:
    static QString resultText(int severity)
    {
        if (severity >= 10)
            return QStringLiteral("Exceeds the action level");
        if (severity >= 5)
            return QStringLiteral("Above the guideline value");
        return QStringLiteral("Within limits");
    }

    DemoDatabase &m_db;
    QRandomGenerator m_random;
    QDateTime m_now;
    int m_sampleCounter = 0;
};

void seedStandard(Seeder &seeder)
{
    for (const SeedClient &client : kSeedClients) {
        seeder.client(client.id, QString::fromUtf8(client.name), QString::fromUtf8(client.endUserId),
                      client.usLab ? kUsLab : kMainLab);
        // Every client has a printed history; most have reports due now.
        seeder.sample(client.id, seeder.recDate(20 + seeder.randomBelow(10), false), 0, false,
                      QStringLiteral("HARD_COPY"), QStringLiteral("DISTRIBUTED"));
        const bool nothingDue = client.id == 1020 || client.id == 2010;
        if (nothingDue)
            continue;
        int forcedSeverity = -1;
        if (forcedSevere(client.id))
            forcedSeverity = 12;
        else if (forcedAbnormal(client.id))
            forcedSeverity = 6;
        const bool withTime = seeder.randomBelow(3) == 0 || client.id == 1002;
        QDateTime due = seeder.recDate(seeder.randomBelow(7), withTime);
        if (const QTime stamp = stampedTime(client.id); stamp.isValid())
            due = QDateTime(due.date(), stamp);
        seeder.dueGroup(client.id, due, forcedSeverity, forcedCustom(client.id));
        if (forcedTwoDates(client.id))
            seeder.dueGroup(client.id, seeder.recDate(8 + seeder.randomBelow(5), true), -1, false);
    }
}

void seedGenerated(Seeder &seeder, int clients)
{
    for (int i = 1; i <= clients; ++i) {
        const qint64 id = 100000 + i;
        seeder.client(id, QStringLiteral("Client %1").arg(i, 5, 10, QLatin1Char('0')),
                      QStringLiteral("EID%1").arg(i, 5, 10, QLatin1Char('0')), i % 3 == 0 ? kUsLab : kMainLab);
        seeder.dueGroup(id, seeder.recDate(seeder.randomBelow(7), seeder.randomBelow(3) == 0), -1, false);
    }
}

void seedOperators(DemoDatabase &db)
{
    const QVariantList rows[] = {
        {kPasswordMainLab, 100, kMainLab, QStringLiteral("1001"), QStringLiteral("Demo operator")},
        {kPasswordUsLab, 100, kUsLab, QStringLiteral("2002"), QStringLiteral("US operator")},
        {kPasswordNoRights, 250, kMainLab, QStringLiteral("3003"), QStringLiteral("Viewer without rights")},
        {kPasswordWithQuote, 200, kMainLab, QStringLiteral("1004"), QStringLiteral("Operator with a quote")},
    };
    for (const QVariantList &row : rows) {
        db.run(QStringLiteral("INSERT INTO operators(password, fg_custsrv_res, labcode, emp_num, operator_name) "
                              "VALUES(?,?,?,?,?)"),
               row);
    }
}

void seedBoard(DemoDatabase &db, const QDateTime &now)
{
    const QString stamp = boardTimestamp(now);
    for (const QString &suffix : {QStringLiteral("_CA"), QStringLiteral("_US")}) {
        const QPair<QString, QString> rows[] = {
            {QStringLiteral("Zentrab_CurrApp"), QStringLiteral("HARD_COPY")},
            {QStringLiteral("Zentrab_LastPing"), stamp},
            {QStringLiteral("Zentrab_LastUpd"), stamp},
            {QStringLiteral("Zentrab_Function"), QStringLiteral("HardCopy Distribution")},
            {QStringLiteral("Zentrab_Delay"), QStringLiteral("15")},
            {QStringLiteral("Zentrab_Freq"), QStringLiteral("5")},
        };
        for (const auto &row : rows)
            db.run(QStringLiteral("INSERT INTO settings(parameter, value) VALUES(?, ?)"), {row.first + suffix, row.second});
    }
}

QString faultName(Fault kind)
{
    switch (kind) {
    case Fault::Timeout:
        return QStringLiteral("timeout");
    case Fault::Error:
        return QStringLiteral("error");
    case Fault::Message:
        return QStringLiteral("message");
    case Fault::Broken:
        return QStringLiteral("broken");
    case Fault::Cut:
        return QStringLiteral("cut");
    case Fault::Mute:
        return QStringLiteral("mute");
    case Fault::Refused:
        return QStringLiteral("refused");
    case Fault::Unanswered:
        return QStringLiteral("unanswered");
    }
    return {};
}

// Runs fn on an open connection to an existing demo LIMS file; false (logged) when the
// file cannot be opened or SQLite refuses.
template<typename Fn>
bool withDatabase(const QString &path, Fn &&fn)
{
    DemoDatabase db(path);
    QString error;
    if (!db.open(true, &error)) {
        qCWarning(lcDemo).noquote() << error;
        return false;
    }
    try {
        fn(db);
        return true;
    } catch (const DemoSql::Error &failure) {
        qCWarning(lcDemo).noquote() << "demo LIMS:" << failure.message();
        return false;
    }
}

} // namespace

bool ensureDatabase(const QString &path, QString *error)
{
    if (!QFileInfo::exists(path))
        return createDatabase(path, {}, error);
    DemoDatabase db(path);
    return db.open(true, error);
}

QString connectionText(const QString &path)
{
    return QStringLiteral("Driver=DemoLIMS;Database=") + path + QLatin1Char(';');
}

bool createDatabase(const QString &path, const CreateOptions &options, QString *error)
{
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        if (QFileInfo::exists(path + suffix) && !QFile::remove(path + suffix)) {
            if (error)
                *error = QStringLiteral("%1 cannot be replaced.").arg(path + suffix);
            return false;
        }
    }
    const QFileInfo info(path);
    if (!info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath())) {
        if (error)
            *error = QStringLiteral("The folder %1 cannot be created.").arg(info.absolutePath());
        return false;
    }
    DemoDatabase db(path);
    if (!db.open(false, error))
        return false;
    const QDateTime now = options.now.isValid() ? options.now : QDateTime::currentDateTime();
    try {
        // WAL lets the report server and a test read while the station writes.
        db.run(QStringLiteral("PRAGMA journal_mode=WAL"));
        db.begin();
        for (const QString &statement : kSchema)
            db.run(statement);
        db.run(QStringLiteral("INSERT INTO demo_meta(key, value) VALUES('schema', '1')"));
        db.run(QStringLiteral("INSERT INTO demo_meta(key, value) VALUES('next_batch_id', '70001')"));
        seedOperators(db);
        seedBoard(db, now);
        Seeder seeder(db, options.randomSeed, now);
        if (options.clients < 0)
            seedStandard(seeder);
        else
            seedGenerated(seeder, options.clients);
        db.commit();
    } catch (const DemoSql::Error &failure) {
        db.rollback();
        if (error)
            *error = failure.message();
        return false;
    }
    qCInfo(lcDemo).noquote() << "demo LIMS created:" << path;
    return true;
}

bool faultFromName(const QString &name, Fault *kind)
{
    for (const Fault candidate : {Fault::Timeout, Fault::Error, Fault::Message, Fault::Broken, Fault::Cut, Fault::Mute,
                                  Fault::Refused, Fault::Unanswered}) {
        if (faultName(candidate) == name.trimmed().toLower()) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

bool injectFault(const QString &path, Fault kind, int count)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.run(QStringLiteral("INSERT OR REPLACE INTO demo_faults(kind, remaining) VALUES(?, ?)"),
               {faultName(kind), qMax(0, count)});
    });
}

bool injectFault(const QString &path, const QString &kind, int count)
{
    Fault fault;
    return faultFromName(kind, &fault) && injectFault(path, fault, count);
}

int pendingFaults(const QString &path, Fault kind)
{
    int remaining = 0;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(QStringLiteral("SELECT remaining FROM demo_faults WHERE kind = ?"), {faultName(kind)});
        if (query.next())
            remaining = query.value(0).toInt();
    });
    return remaining;
}

void clearFaults(const QString &path)
{
    withDatabase(path, [](DemoDatabase &db) { db.run(QStringLiteral("DELETE FROM demo_faults")); });
}

QStringList journal(const QString &path)
{
    QStringList statements;
    for (const JournalEntry &entry : journalEntries(path))
        statements << entry.statement;
    return statements;
}

QList<JournalEntry> journalEntries(const QString &path)
{
    QList<JournalEntry> entries;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(QStringLiteral("SELECT at, statement, outcome FROM demo_journal ORDER BY id"));
        while (query.next()) {
            entries.push_back({QDateTime::fromString(query.value(0).toString(), Qt::ISODateWithMs),
                               query.value(1).toString(), query.value(2).toString()});
        }
    });
    return entries;
}

void clearJournal(const QString &path)
{
    withDatabase(path, [](DemoDatabase &db) { db.run(QStringLiteral("DELETE FROM demo_journal")); });
}

QStringList requests(const QString &path)
{
    QStringList urls;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(QStringLiteral("SELECT url FROM demo_requests ORDER BY id"));
        while (query.next())
            urls << query.value(0).toString();
    });
    return urls;
}

void clearRequests(const QString &path)
{
    withDatabase(path, [](DemoDatabase &db) { db.run(QStringLiteral("DELETE FROM demo_requests")); });
}

bool recordRequest(const QString &path, const QString &url)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.run(QStringLiteral("INSERT INTO demo_requests(at, url) VALUES(?, ?)"),
               {QDateTime::currentDateTime().toString(Qt::ISODateWithMs), url});
    });
}

bool setBoardRow(const QString &path, const QString &parameter, const QString &value)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.begin();
        QSqlQuery existing = db.run(QStringLiteral("SELECT COUNT(*) FROM settings WHERE parameter = ?"), {parameter});
        const bool present = existing.next() && existing.value(0).toInt() > 0;
        existing.finish();
        if (present)
            db.run(QStringLiteral("UPDATE settings SET value = ? WHERE parameter = ?"), {value, parameter});
        else
            db.run(QStringLiteral("INSERT INTO settings(parameter, value) VALUES(?, ?)"), {parameter, value});
        db.commit();
    });
}

bool removeBoardRow(const QString &path, const QString &parameter)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.run(QStringLiteral("DELETE FROM settings WHERE parameter = ?"), {parameter});
    });
}

QString boardValue(const QString &path, const QString &parameter)
{
    QString value;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(QStringLiteral("SELECT value FROM settings WHERE parameter = ? ORDER BY rowid"),
                                 {parameter});
        if (query.next()) {
            value = query.value(0).toString();
            if (value.isNull())
                value = QStringLiteral(""); // the row is there, its value empty or null
        }
    });
    return value;
}

bool setCurrentApp(const QString &path, const QString &app, const QString &suffix)
{
    return setBoardRow(path, QStringLiteral("Zentrab_CurrApp") + suffix, app);
}

QString boardTimestamp(const QDateTime &value)
{
    return value.toString(QStringLiteral("M/d/yyyy HH:mm"));
}

int dueClientCount(const QString &path, const QString &lab)
{
    return int(workList(path, lab).size());
}

QList<WorkListRow> workList(const QString &path, const QString &lab, int threshold, bool custom)
{
    QList<WorkListRow> rows;
    withDatabase(path, [&](DemoDatabase &db) {
        DemoLimsEngine engine(db);
        for (const DemoLimsEngine::ClientRow &row :
             engine.activeClients(QStringLiteral("HARD_COPY"), lab, threshold, custom))
            rows.push_back({row.contactId, row.contactName, row.endUserId, row.recDate, row.samples});
    });
    return rows;
}

QList<BatchInfo> batches(const QString &path)
{
    QList<BatchInfo> list;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(QStringLiteral(
            "SELECT b.batch_id, b.contact_id, b.rec_date, b.created_at, "
            "(SELECT COUNT(*) FROM samples s WHERE s.batch_id = b.batch_id AND s.status = 'DUE') "
            "FROM batches b ORDER BY b.created_at, b.batch_id"));
        while (query.next()) {
            list.push_back({query.value(0).toString(), query.value(1).toLongLong(),
                            demoDateFromText(query.value(2).toString()), demoDateFromText(query.value(3).toString()),
                            query.value(4).toInt()});
        }
    });
    return list;
}

QString createBatch(const QString &path, qint64 contactId, const QDateTime &recDate, QString *error,
                    const QDateTime &createdAt)
{
    QString batchId;
    QString failure;
    DemoDatabase db(path);
    if (!db.open(true, &failure)) {
        if (error)
            *error = failure;
        return {};
    }
    try {
        db.begin();
        DemoLimsEngine engine(db);
        batchId = engine.createBatch(contactId, recDate,
                                     createdAt.isValid() ? createdAt : QDateTime::currentDateTime());
        db.commit();
    } catch (const DemoSql::Error &sqlError) {
        db.rollback();
        if (error)
            *error = sqlError.message();
        return {};
    }
    return batchId;
}

bool addClient(const QString &path, const ClientInfo &client)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.run(QStringLiteral("INSERT INTO clients(contact_id, contact_name, enduser_id, lab_code) VALUES(?,?,?,?)"),
               {client.contactId, client.contactName, client.endUserId, client.labCode});
    });
}

qint64 addSample(const QString &path, const SampleInfo &sample)
{
    qint64 id = 0;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(
            QStringLiteral("INSERT INTO samples(contact_id, sample_no, matrix, analysis, result, rec_date, severity, "
                           "custom_flag, distribution_type, status, batch_id) VALUES(?,?,?,?,?,?,?,?,?,?,?)"),
            {sample.contactId, sample.sampleNo, sample.matrix, sample.analysis, sample.result,
             demoDateText(sample.recDate), sample.severity, sample.custom ? 1 : 0, sample.distributionType,
             sample.status, sample.batchId.isEmpty() ? QVariant() : QVariant(sample.batchId)});
        id = query.lastInsertId().toLongLong();
    });
    return id;
}

bool setRecordDate(const QString &path, qint64 contactId, const QDateTime &recDate, const QDateTime &newRecDate)
{
    bool moved = false;
    const bool done = withDatabase(path, [&](DemoDatabase &db) {
        const QVariantList bindings = { demoDateText(newRecDate), contactId, demoDateText(recDate) };
        db.begin();
        const QSqlQuery samples
            = db.run(QStringLiteral("UPDATE samples SET rec_date = ? WHERE contact_id = ? AND rec_date = ?"), bindings);
        moved = samples.numRowsAffected() > 0;
        db.run(QStringLiteral("UPDATE batches SET rec_date = ? WHERE contact_id = ? AND rec_date = ?"), bindings);
        db.commit();
    });
    return done && moved;
}

bool addOperator(const QString &path, const QString &password, int rights, const QString &labCode,
                 const QString &empNum)
{
    return withDatabase(path, [&](DemoDatabase &db) {
        db.run(QStringLiteral("INSERT INTO operators(password, fg_custsrv_res, labcode, emp_num) VALUES(?,?,?,?)"),
               {password, rights, labCode, empNum});
    });
}

QList<SampleInfo> samples(const QString &path, qint64 contactId)
{
    QList<SampleInfo> list;
    withDatabase(path, [&](DemoDatabase &db) {
        QSqlQuery query = db.run(
            QStringLiteral("SELECT sample_id, contact_id, sample_no, matrix, analysis, result, rec_date, severity, "
                           "custom_flag, distribution_type, status, batch_id FROM samples "
                           "WHERE ? < 0 OR contact_id = ? ORDER BY sample_id"),
            {contactId, contactId});
        while (query.next()) {
            SampleInfo sample;
            sample.sampleId = query.value(0).toLongLong();
            sample.contactId = query.value(1).toLongLong();
            sample.sampleNo = query.value(2).toString();
            sample.matrix = query.value(3).toString();
            sample.analysis = query.value(4).toString();
            sample.result = query.value(5).toString();
            sample.recDate = demoDateFromText(query.value(6).toString());
            sample.severity = query.value(7).toInt();
            sample.custom = query.value(8).toInt() != 0;
            sample.distributionType = query.value(9).toString();
            sample.status = query.value(10).toString();
            sample.batchId = query.value(11).toString();
            list.push_back(sample);
        }
    });
    return list;
}

} // namespace DemoLims
