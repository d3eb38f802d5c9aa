// How the soak judges what the station left: a page printed again is accepted only for the
// client in hand at a kill or hang, one per fault; and a register written with the station's
// encoding is read without it (numbers, chain, documents, deletions in order).
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include "PrintedOnce.h"
#include "RegisterAudit.h"
#include "register/RegisterRow.h"

namespace {

const QDateTime kStart = QDateTime::fromSecsSinceEpoch(1796000000);
const QString kBatch = QStringLiteral("70001");

// A document is its name's bytes.
QString digestOf(const QString &name)
{
    return QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex());
}

// A register as the station writes it, its rows "kind/outcome/page/document" (a prune row
// names its document's digest, or none in the older form), then changed by a statement.
bool writeRegister(const QString &file, const QStringList &rows, const QString &change)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        db.setDatabaseName(file);
        QStringList columns;
        for (const RegisterRow::Field &field : RegisterRow::fields())
            columns << QLatin1String(field.name);
        QSqlQuery query(db);
        ok = db.open() && query.exec(QStringLiteral("CREATE TABLE register_rows (%1, hash)").arg(columns.join(u',')))
            && query.exec(QStringLiteral("CREATE TABLE documents (sha256, pruned_by)"));
        QString previous = RegisterRow::noPreviousHash();
        for (qsizetype i = 0; ok && i < rows.size(); ++i) {
            const QStringList parts = rows.at(i).split(u'/');
            RegisterRow row;
            row.seq = row.jobId = i + 1;
            row.kind = parts.at(0);
            row.outcome = parts.at(1);
            row.clientName = QStringLiteral("Client ' \u00e9"); // a netstring counts bytes
            row.batchId = kBatch + u' ';
            if (row.kind == RegisterRow::Page) {
                row.printType = parts.at(2);
                row.jobState = QStringLiteral("completed");
                row.bytes = parts.at(3).size();
                row.sha256 = digestOf(parts.at(3));
            } else if (row.kind == RegisterRow::Prune) {
                row.detail = QStringLiteral("1 documents (1 bytes) kept before 2026-09-09T08:00:00.000Z (KeepDays 90) "
                                            "or beyond 12 MB (KeepMegabytes)")
                    + (parts.at(3).isEmpty() ? QString() : QStringLiteral(": ") + digestOf(parts.at(3)));
            }
            previous = row.hash = row.chainHash(previous);
            query.prepare(QStringLiteral("INSERT INTO register_rows VALUES (%1?)")
                              .arg(QStringLiteral("?,").repeated(columns.size())));
            for (const RegisterRow::Field &field : RegisterRow::fields())
                query.addBindValue(field.text ? QVariant(row.value(field)) : QVariant(row.*field.number));
            query.addBindValue(row.hash);
            ok = query.exec();
        }
        ok = ok && (change.isEmpty() || query.exec(change));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    return ok;
}

} // namespace

class tst_SoakAudit : public QObject
{
    Q_OBJECT

private slots:
    void pagePrintedAgainOnlyForTheClientInHand_data();
    void pagePrintedAgainOnlyForTheClientInHand();
    void registerIsReadWithoutTheStation_data();
    void registerIsReadWithoutTheStation();
};

void tst_SoakAudit::pagePrintedAgainOnlyForTheClientInHand_data()
{
    // "client batch submitted completed" a print, "kill at" a kill or hang, in seconds from the start
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QList<int>>("counts"); // printed again, accepted at kills, not accepted
    QTest::newRow("one killed while its job ran, one killed long after it printed") << QStringList { "1 B1 0 20",
        "kill 10", "1 B3 100 102", "2 B2 300 302", "kill 390", "2 B4 500 502" } << QList<int> { 2, 1, 1 };
    QTest::newRow("two clients around one kill, a third printed once") << QStringList { "1 B1 0 2", "2 B2 5 7",
        "kill 8", "3 B5 9 10", "1 B3 100 102", "2 B4 105 107" } << QList<int> { 2, 1, 1 };
    QTest::newRow("two clients, a kill and a hang") << QStringList { "1 B1 0 2", "2 B2 5 7", "kill 8", "kill 40",
        "1 B3 100 102", "2 B4 105 107" } << QList<int> { 2, 2, 0 };
}

void tst_SoakAudit::pagePrintedAgainOnlyForTheClientInHand()
{
    QFETCH(QStringList, events);
    QFETCH(QList<int>, counts);
    QList<PrintedOnce::Print> printed;
    QList<QDateTime> kills;
    for (const QString &event : events) {
        const QStringList parts = event.split(u' ');
        if (parts.at(0) == QLatin1String("kill"))
            kills << kStart.addSecs(parts.at(1).toInt());
        else
            printed << PrintedOnce::Print { parts.at(0), parts.at(1), kStart.addSecs(parts.at(2).toInt()),
                kStart.addSecs(parts.at(3).toInt()) };
    }
    const PrintedOnce::Judgement judgement = PrintedOnce::judge(printed, kills);
    QCOMPARE(
        (QList<int> { judgement.duplicates, judgement.acceptedAtKills, int(judgement.unexplained.size()) }), counts);
}

void tst_SoakAudit::registerIsReadWithoutTheStation_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("change"); // a statement run on the register afterwards
    QTest::addColumn<QString>("removed"); // the document taken out of the folder
    QTest::addColumn<QString>("chain"); // the first problem of the rows' numbers, else of their hashes
    // documents kept, pruned by a row naming them, by a row of the older form, without; deletions without
    QTest::addColumn<QList<int>>("counts");
    const QStringList printed { "start/new", "page/submitted/SAMPLES/b", "page/printed/COVER/a",
        "page/printed/SAMPLES/b", "batch/deleted" };
    QTest::newRow("intact") << printed << QString() << QString() << QString() << QList<int> { 3, 0, 0, 0, 0 };
    QTest::newRow("a field changed") << printed
                                     << QStringLiteral("UPDATE register_rows SET client_name = 'x' WHERE seq = 3")
                                     << QString() << QStringLiteral("row 3 does not match")
                                     << QList<int> { 3, 0, 0, 0, 0 };
    QTest::newRow("a row numbered 0") << printed << QStringLiteral("UPDATE register_rows SET seq = 0 WHERE seq = 1")
                                      << QString() << QStringLiteral("row 0 does not belong")
                                      << QList<int> { 3, 0, 0, 0, 0 };
    QTest::newRow("a gap where the final page was")
        << printed << QStringLiteral("DELETE FROM register_rows WHERE seq = 4") << QString()
        << QStringLiteral("row 4 is missing") << QList<int> { 2, 0, 0, 0, 1 };
    QTest::newRow("a document pruned by a later row naming it")
        << printed + QStringList { "prune/pruned//b" } << QString() << QStringLiteral("b") << QString()
        << QList<int> { 1, 2, 0, 0, 0 };
    QTest::newRow("a document removed, a prune row naming it only before its rows") << QStringList { "start/new",
        "prune/pruned//b", "page/submitted/SAMPLES/b", "page/printed/COVER/a", "page/printed/SAMPLES/b",
        "batch/deleted" } << QString() << QStringLiteral("b") << QString() << QList<int> { 1, 0, 0, 2, 0 };
    QTest::newRow("a document pruned by a row of the older form")
        << printed + QStringList { "prune/pruned//" }
        << QStringLiteral("INSERT INTO documents VALUES ('%1', 6)").arg(digestOf(QStringLiteral("b")))
        << QStringLiteral("b") << QString() << QList<int> { 1, 0, 2, 0, 0 };
    QTest::newRow("the final page registered after the batch's deletion")
        << QStringList { "start/new", "page/printed/COVER/a", "batch/deleted", "page/printed/SAMPLES/b" } << QString()
        << QString() << QString() << QList<int> { 2, 0, 0, 0, 1 };
}

void tst_SoakAudit::registerIsReadWithoutTheStation()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, change);
    QFETCH(QString, removed);
    QFETCH(QString, chain);
    QFETCH(QList<int>, counts);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("register.sqlite"));
    QVERIFY(writeRegister(file, rows, change));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("register-documents")));
    for (const QString &name : { QStringLiteral("a"), QStringLiteral("b") }) {
        QFile document(dir.filePath(QStringLiteral("register-documents/%1.pdf").arg(digestOf(name))));
        QVERIFY(name == removed || (document.open(QIODevice::WriteOnly) && document.write(name.toUtf8()) > 0));
    }
    // cupsd completed every page's job: the row's number is its job's.
    QHash<int, PrintJob> jobs;
    for (int id = 1; id <= rows.size(); ++id)
        jobs.insert(id, PrintJob { id, kBatch, rows.at(id - 1).section(u'/', 2, 2), 9, kStart, kStart });

    const RegisterAudit audit = RegisterAudit::of(file, { Deletion { kBatch, kStart, true } }, jobs);
    const QString problem = audit.numberingProblem.isEmpty() ? audit.chainProblem : audit.numberingProblem;
    QVERIFY2(problem.startsWith(chain) && chain.isEmpty() == audit.chainIntact(), qPrintable(problem));
    QCOMPARE((QList<int> { int(audit.documentsKept), int(audit.documentsPruned), int(audit.documentsPrunedOlderForm),
                 int(audit.documentProblems.size()), int(audit.unregistered.size()) }),
        counts);
}

QTEST_GUILESS_MAIN(tst_SoakAudit)
#include "tst_soakaudit.moc"
