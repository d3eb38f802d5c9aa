// How the soak judges what the station left behind: a report page printed again is
// accepted only for the client in hand at a kill or hang, one per fault; and the register,
// written here with the station's own encoding, is read without it: rows numbered 1 to N,
// the chain, every named document kept or pruned by a later row, and every deleted batch
// with its printed final page before the row of its deletion.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "PrintedOnce.h"
#include "RegisterAudit.h"
#include "register/RegisterRow.h"

namespace {

const QDateTime kStart = QDateTime::fromSecsSinceEpoch(1796000000);
const QString kBatch = QStringLiteral("70001");

QByteArray documentOf(const QString &name)
{
    return QByteArrayLiteral("%PDF- document ") + name.toUtf8();
}

QString digestOf(const QString &name)
{
    return QString::fromLatin1(QCryptographicHash::hash(documentOf(name), QCryptographicHash::Sha256).toHex());
}

// A register as the station writes it: "kind/outcome/page/document", one a row; a prune
// row names its document's digest, unless it has none (the older form).
bool writeRegister(const QString &file, const QStringList &rows, QString *error)
{
    const QString connection = QStringLiteral("writer");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        QStringList columns;
        for (const RegisterRow::Field &field : RegisterRow::fields())
            columns << QLatin1String(field.name);
        QSqlQuery query(db);
        ok = db.open()
            && query.exec(QStringLiteral("CREATE TABLE register_rows (%1, hash TEXT)").arg(columns.join(u',')))
            && query.exec(QStringLiteral("CREATE TABLE documents (sha256 TEXT PRIMARY KEY, pruned_by INTEGER)"));
        QString previous = RegisterRow::noPreviousHash();
        for (qsizetype i = 0; ok && i < rows.size(); ++i) {
            const QStringList parts = rows.at(i).split(u'/');
            RegisterRow row;
            row.seq = i + 1;
            row.kind = parts.value(0);
            row.outcome = parts.value(1);
            row.recordedUtc = kStart.addSecs(i).toString(Qt::ISODateWithMs);
            row.clientName = QStringLiteral("Client ' \u00e9");
            if (row.kind == RegisterRow::Page || row.kind == RegisterRow::Batch)
                row.batchId = kBatch + QLatin1Char(' ');
            if (row.kind == RegisterRow::Page) {
                row.printType = parts.value(2);
                row.jobId = row.seq;
                row.jobState = QStringLiteral("completed");
                row.bytes = documentOf(parts.value(3)).size();
                row.sha256 = digestOf(parts.value(3));
            }
            if (row.kind == RegisterRow::Prune)
                row.detail = QStringLiteral("1 documents (20 bytes) kept before 2026-09-09T08:00:00.000Z (KeepDays 90) or "
                                            "beyond 12 MB (KeepMegabytes)")
                    + (parts.value(3).isEmpty() ? QString() : QStringLiteral(": ") + digestOf(parts.value(3)));
            row.hash = row.chainHash(previous);
            previous = row.hash;
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO register_rows VALUES (%1?)").arg(QStringLiteral("?,").repeated(
                int(columns.size()))));
            for (const RegisterRow::Field &field : RegisterRow::fields())
                insert.addBindValue(field.text ? QVariant(row.value(field)) : QVariant(row.*field.number));
            insert.addBindValue(row.hash);
            ok = insert.exec();
            if (!ok)
                *error = insert.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

bool changeRegister(const QString &file, const QString &statement)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("changer"));
        db.setDatabaseName(file);
        ok = statement.isEmpty() || (db.open() && QSqlQuery(db).exec(statement));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("changer"));
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
    QTest::addColumn<QStringList>("prints"); // "client batch submitted completed", seconds from the start
    QTest::addColumn<QList<int>>("kills"); // when each kill or hang began
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<int>("accepted");
    QTest::newRow("each client once") << QStringList{"1 B1 0 2", "2 B2 10 12"} << QList<int>{30} << 0 << 0;
    QTest::newRow("killed while its job ran") << QStringList{"1 B1 0 20", "1 B3 100 102"} << QList<int>{10} << 1 << 1;
    QTest::newRow("killed shortly after it printed") << QStringList{"1 B1 0 2", "1 B3 100 102"} << QList<int>{50} << 1
                                                     << 1;
    QTest::newRow("killed long after it printed") << QStringList{"1 B1 0 2", "1 B3 200 202"} << QList<int>{90} << 1
                                                  << 0;
    QTest::newRow("printed again without a kill") << QStringList{"1 B1 0 2", "1 B3 100 102"} << QList<int>{} << 1
                                                  << 0;
    QTest::newRow("two clients around one kill")
        << QStringList{"1 B1 0 2", "2 B2 5 7", "1 B3 100 102", "2 B4 105 107"} << QList<int>{8} << 2 << 1;
    QTest::newRow("two clients, a kill and a hang")
        << QStringList{"1 B1 0 2", "2 B2 5 7", "1 B3 100 102", "2 B4 105 107"} << QList<int>{8, 40} << 2 << 2;
}

void tst_SoakAudit::pagePrintedAgainOnlyForTheClientInHand()
{
    QFETCH(QStringList, prints);
    QFETCH(QList<int>, kills);
    QFETCH(int, duplicates);
    QFETCH(int, accepted);
    QList<PrintedOnce::Print> printed;
    for (const QString &print : prints) {
        const QStringList parts = print.split(u' ');
        printed << PrintedOnce::Print{parts.at(0), parts.at(1), kStart.addSecs(parts.at(2).toInt()),
                                      kStart.addSecs(parts.at(3).toInt())};
    }
    QList<QDateTime> faults;
    for (const int kill : kills)
        faults << kStart.addSecs(kill);
    const PrintedOnce::Judgement judgement = PrintedOnce::judge(printed, faults);
    QCOMPARE(judgement.duplicates, duplicates);
    QCOMPARE(judgement.acceptedAtKills, accepted);
    QCOMPARE(judgement.unexplained.size(), duplicates - accepted);
}

void tst_SoakAudit::registerIsReadWithoutTheStation_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("change"); // a statement run on the register afterwards
    QTest::addColumn<QString>("removed"); // the document taken out of the folder
    QTest::addColumn<QString>("numbering");
    QTest::addColumn<bool>("chainIntact");
    QTest::addColumn<QList<int>>("documents"); // kept, pruned by a row naming it, by the older form, without
    QTest::addColumn<int>("deletionsWithout");
    const QStringList printed{"start/new", "page/submitted/SAMPLES/b", "page/printed/COVER/a",
                              "page/printed/SAMPLES/b", "batch/deleted"};
    QTest::newRow("intact") << printed << QString() << QString() << QString() << true << QList<int>{3, 0, 0, 0} << 0;
    QTest::newRow("a field changed") << printed
                                     << QStringLiteral("UPDATE register_rows SET client_name = 'x' WHERE seq = 3")
                                     << QString() << QString() << false << QList<int>{3, 0, 0, 0} << 0;
    QTest::newRow("a row numbered 0") << printed << QStringLiteral("UPDATE register_rows SET seq = 0 WHERE seq = 1")
                                      << QString() << QStringLiteral("row 0 does not belong") << false
                                      << QList<int>{3, 0, 0, 0} << 0;
    QTest::newRow("a gap") << printed << QStringLiteral("DELETE FROM register_rows WHERE seq = 3") << QString()
                           << QStringLiteral("row 3 is missing") << false << QList<int>{2, 0, 0, 0} << 0;
    QTest::newRow("a document removed without a prune")
        << printed << QString() << QStringLiteral("b") << QString() << true << QList<int>{1, 0, 0, 2} << 0;
    QTest::newRow("a document pruned by a later row naming it")
        << printed + QStringList{"prune/pruned//b"} << QString() << QStringLiteral("b") << QString() << true
        << QList<int>{1, 2, 0, 0} << 0;
    QTest::newRow("a prune row before the page does not cover it")
        << QStringList{"start/new", "prune/pruned//b", "page/printed/COVER/a", "page/printed/SAMPLES/b",
                       "batch/deleted"}
        << QString() << QStringLiteral("b") << QString() << true << QList<int>{1, 0, 0, 1} << 0;
    QTest::newRow("a document pruned by a row of the older form")
        << printed + QStringList{"prune/pruned//"}
        << QStringLiteral("INSERT INTO documents VALUES ('%1', 6)").arg(digestOf(QStringLiteral("b")))
        << QStringLiteral("b") << QString() << true << QList<int>{1, 0, 2, 0} << 0;
    QTest::newRow("the final page registered after the batch's deletion")
        << QStringList{"start/new", "page/printed/COVER/a", "batch/deleted", "page/printed/SAMPLES/b"} << QString()
        << QString() << QString() << true << QList<int>{2, 0, 0, 0} << 1;
    QTest::newRow("no final page registered")
        << QStringList{"start/new", "page/printed/COVER/a"} << QString() << QString() << QString() << true
        << QList<int>{1, 0, 0, 0} << 1;
}

void tst_SoakAudit::registerIsReadWithoutTheStation()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, change);
    QFETCH(QString, removed);
    QFETCH(QString, numbering);
    QFETCH(bool, chainIntact);
    QFETCH(QList<int>, documents);
    QFETCH(int, deletionsWithout);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("register.sqlite"));
    QString error;
    QVERIFY2(writeRegister(file, rows, &error), qPrintable(error));
    QVERIFY(changeRegister(file, change));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("register-documents")));
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")}) {
        QFile document(dir.filePath(QStringLiteral("register-documents/%1.pdf").arg(digestOf(name))));
        QVERIFY(name == removed || (document.open(QIODevice::WriteOnly) && document.write(documentOf(name)) > 0));
    }
    // cupsd completed every page's job: the row's number is its job's.
    QHash<int, PrintJob> jobs;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QStringList parts = rows.at(i).split(u'/');
        jobs.insert(int(i + 1), PrintJob{int(i + 1), kBatch, parts.value(2), 9, kStart, kStart.addSecs(i)});
    }

    const RegisterAudit audit
        = RegisterAudit::of(file, {Deletion{kBatch, kStart.addSecs(60), true}, Deletion{kBatch, kStart, false}}, jobs);
    QVERIFY2(audit.error.isEmpty(), qPrintable(audit.error));
    QVERIFY2(audit.numberingProblem.startsWith(numbering) && numbering.isEmpty() == audit.numberingProblem.isEmpty(),
             qPrintable(audit.numberingProblem));
    QCOMPARE(audit.chainIntact(), chainIntact);
    QCOMPARE((QList<int>{int(audit.documentsKept), int(audit.documentsPruned), int(audit.documentsPrunedOlderForm),
                         int(audit.documentProblems.size())}),
             documents);
    QCOMPARE(audit.deletions, 1);
    QVERIFY2(audit.unregistered.size() == deletionsWithout, qPrintable(audit.unregistered.join(u'\n')));
}

QTEST_GUILESS_MAIN(tst_SoakAudit)
#include "tst_soakaudit.moc"
