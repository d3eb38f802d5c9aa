// The register on the real path: an SQLite file in a temporary folder, its kept
// documents, a second process writing at once, and a reprint on the suite's own cupsd.
#include <sys/stat.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "common/PrivateCups.h"
#include "register/DistributionRegister.h"
#include "register/RegisterCommands.h"
#include "register/RegisterTable.h"
#include "register/ThreadedRegister.h"

namespace {

const char kAppendRows[] = "--append-rows";

RegisterSettings settingsIn(const QString &folder)
{
    RegisterSettings settings;
    settings.file = folder + QStringLiteral("/register.sqlite");
    return settings;
}

RegisterRow printedPage(const QString &batchId, const QString &printType)
{
    RegisterRow row;
    row.labCode = QStringLiteral("MAIN");
    row.empNum = QStringLiteral("1234");
    row.clientId = QStringLiteral("501");
    row.clientName = QStringLiteral("Acme Ltd");
    row.batchId = batchId;
    row.printType = printType;
    row.destination = RegisterRow::Cups;
    row.queue = QStringLiteral("OK");
    row.jobId = 7;
    row.jobState = QStringLiteral("completed");
    row.outcome = RegisterRow::Printed;
    return row;
}

// A real one-page PDF, as the browser renders a report page; n makes it a document of its own.
QByteArray pagePdf(int n)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    painter.drawText(QPointF(100, 100), QStringLiteral("Certificate of Analysis %1").arg(n));
    painter.end();
    return bytes;
}

// The second process of twoProcessesAppendingKeepOneChain.
int appendRows(const QString &file, int rows)
{
    RegisterSettings settings;
    settings.file = file;
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Write, &error))
        return 2;
    for (int i = 0; i < rows; ++i) {
        RegisterRow row;
        row.batchId = QString::number(i);
        row.outcome = RegisterRow::Deleted;
        if (!reg.appendBatch(row).durable)
            return 3;
        // Between two rows of its own a writer lets go of the lock (SQLite's busy wait
        // polls it; a writer that took it again at once would have it to itself).
        QThread::msleep(3);
    }
    return 0;
}

int modeOf(const QString &path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 0777) : -1;
}

void edit(const QString &file, const QString &sql)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("by hand"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("by hand"));
}

} // namespace

class tst_Register : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { m_cups.stop(); }
    void editedRowFailsVerificationAtThatRow_data();
    void editedRowFailsVerificationAtThatRow();
    void damagedRegisterIsMovedAsideAndNamed_data();
    void damagedRegisterIsMovedAsideAndNamed();
    void pruningKeepsRowsAndMarksThemPruned_data();
    void pruningKeepsRowsAndMarksThemPruned();
    void twoProcessesAppendingKeepOneChain();
    void valuesAreStoredAndShownExactly_data();
    void valuesAreStoredAndShownExactly();
    void pageOnAFullDiskIsNotDurable();
    void reprintSendsOnlyAnIntactKeptDocument_data();
    void reprintSendsOnlyAnIntactKeptDocument();

private:
    PrivateCups m_cups;
    bool m_cupsStarted = false;
};

void tst_Register::editedRowFailsVerificationAtThatRow_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("rehash");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("lastTwo"); // what a walk over the last two rows (--check) says; empty: it passes
    QTest::addColumn<int>("documentRemoved"); // the row whose kept document is removed from the folder

    QTest::newRow("a field changed")
        << "UPDATE register_rows SET client_name = 'Other Ltd' WHERE seq = 3" << false
        << "row 3 does not match: its fields, or the hash of row 2 before it, were changed" << "" << 0;
    QTest::newRow("a field changed and its hash made to fit")
        << "UPDATE register_rows SET job_state = 'aborted' WHERE seq = 3" << true
        << "row 4 does not match: its fields, or the hash of row 3 before it, were changed"
        << "row 4 does not match" << 0;
    QTest::newRow("a row deleted") << "DELETE FROM register_rows WHERE seq = 3" << false
                                   << "row 4 does not match: row 3 is missing"
                                   << "row 4 does not match: row 3 is missing" << 0;
    QTest::newRow("the first row deleted") << "DELETE FROM register_rows WHERE seq = 1" << false
                                           << "row 2 does not match: row 1 is missing"
                                           << "the register holds 4 rows numbered up to 5: a row before row 3 was removed" << 0;
    QTest::newRow("the first row changed") << "UPDATE register_rows SET host = 'elsewhere' WHERE seq = 1" << false
                                           << "row 1 does not match: its fields were changed" << "" << 0;
    QTest::newRow("the last row changed")
        << "UPDATE register_rows SET bytes = 1 WHERE seq = 5" << false << "row 5 does not match" << "row 5 does not match" << 0;
    QTest::newRow("a copy of a row put before the first")
        << "CREATE TABLE forged AS SELECT * FROM register_rows WHERE seq = 2;"
           "UPDATE forged SET seq = 0, client_name = 'Forged Ltd', batch_id = '99999';"
           "INSERT INTO register_rows SELECT * FROM forged"
        << false << "row 0 does not belong: the register's rows are numbered from 1"
        << "row 0 does not belong" << 0;
    QTest::newRow("a kept document removed with its entry")
        << "DELETE FROM documents WHERE sha256 = (SELECT sha256 FROM register_rows WHERE seq = 2)" << false
        << "row 2: its document" << "" << 2;
    QTest::newRow("a kept document marked pruned by hand")
        << "UPDATE documents SET pruned_utc = '2026-01-01T00:00:00.000Z', pruned_by = 3 "
           "WHERE sha256 = (SELECT sha256 FROM register_rows WHERE seq = 2)"
        << false << "row 2: its document" << "" << 2;
}

void tst_Register::editedRowFailsVerificationAtThatRow()
{
    QFETCH(QString, sql);
    QFETCH(bool, rehash);
    QFETCH(QString, expected);
    QFETCH(QString, lastTwo);
    QFETCH(int, documentRemoved);

    QTemporaryDir dir;
    const RegisterSettings settings = settingsIn(dir.path());
    {
        DistributionRegister reg(settings);
        QString error;
        QVERIFY2(reg.open(DistributionRegister::Mode::Write, &error), qPrintable(error));
        for (int i = 0; i < 4; ++i)
            QVERIFY(reg.appendPage(printedPage(QStringLiteral("70001"), QStringLiteral("COVER")), pagePdf(i)).durable);
    }
    QString text;
    QTextStream out(&text);
    QCOMPARE(RegisterCommands::verify(settings, out), 0);

    for (const QString &statement : sql.split(QLatin1Char(';')))
        edit(settings.file, statement);
    if (documentRemoved > 0) {
        DistributionRegister reg(settings);
        QString error;
        QVERIFY(reg.open(DistributionRegister::Mode::Read, &error));
        QVERIFY(QFile::remove(reg.documents().pathOf(reg.row(documentRemoved, &error)->sha256)));
    }
    if (rehash) {
        DistributionRegister reg(settings);
        QString error;
        QVERIFY(reg.open(DistributionRegister::Mode::Read, &error));
        const RegisterRow edited = reg.row(3, &error).value();
        edit(settings.file,
            QStringLiteral("UPDATE register_rows SET hash = '%1' WHERE seq = 3")
                .arg(edited.chainHash(reg.row(2, &error)->hash)));
    }
    text.clear();
    QCOMPARE(RegisterCommands::verify(settings, out), 1);
    QVERIFY2(text.contains(expected), qPrintable(text));
    const RegisterCommands::CheckOutcome lastRows = RegisterCommands::check(settings, 2);
    QCOMPARE(lastRows.passed, lastTwo.isEmpty());
    QVERIFY2(lastRows.text.contains(lastTwo), qPrintable(lastRows.text));
}

void tst_Register::damagedRegisterIsMovedAsideAndNamed_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("someRowsGood");

    QTest::newRow("cut short") << "cut"
                               << "is cut short" << true;
    QTest::newRow("not an SQLite file") << "text"
                                        << "is not an SQLite database" << false;
    QTest::newRow("another application's database") << "foreign"
                                                    << "is not a register" << false;
    QTest::newRow("empty") << "empty"
                           << "is empty" << false;
}

void tst_Register::damagedRegisterIsMovedAsideAndNamed()
{
    QFETCH(QString, damage);
    QFETCH(QString, words);
    QFETCH(bool, someRowsGood);

    QTemporaryDir dir;
    const RegisterSettings settings = settingsIn(dir.path());
    QStringList hashes { QString() }; // by row number
    if (damage == QLatin1String("cut")) {
        DistributionRegister reg(settings);
        QString error;
        QVERIFY(reg.open(DistributionRegister::Mode::Write, &error));
        hashes << reg.row(1, &error)->hash;
        for (int i = 0; i < 300; ++i)
            hashes << reg.appendBatch(printedPage(QString::number(i), QString())).hash;
    } else if (damage == QLatin1String("foreign")) {
        edit(settings.file, QStringLiteral("CREATE TABLE samples (id INTEGER)"));
    }
    QFile file(settings.file);
    QVERIFY(file.open(QIODevice::ReadWrite));
    if (damage == QLatin1String("cut"))
        QVERIFY(file.resize(file.size() * 3 / 5));
    else if (damage == QLatin1String("text"))
        file.write("Nothing but text\n");
    file.seek(0);
    const QByteArray before = file.readAll();
    file.close();

    DistributionRegister reg(settings);
    QString error;
    QVERIFY2(reg.open(DistributionRegister::Mode::Write, &error), qPrintable(error));
    QVERIFY2(reg.notice().contains(words) && reg.notice().contains(QLatin1String("moved aside to")),
        qPrintable(reg.notice()));
    const QStringList moved = QDir(dir.path()).entryList({ QStringLiteral("register.sqlite.damaged-*") });
    QCOMPARE(moved.size(), 1);
    QFile aside(dir.filePath(moved.first()));
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), before);

    const RegisterRow start = reg.row(1, &error).value();
    QCOMPARE(start.kind, QString(RegisterRow::Start));
    QCOMPARE(start.outcome, QString(RegisterRow::Replaces));
    QVERIFY2(start.detail.contains(aside.fileName()), qPrintable(start.detail));
    // The start row names the last row of an unbroken chain from row 1 that the damaged
    // file still holds (a row's hash is in its own row only), and that row's hash.
    qint64 lastHeld = 0;
    while (lastHeld + 1 < hashes.size() && before.contains(hashes.at(lastHeld + 1).toLatin1()))
        ++lastHeld;
    QCOMPARE(lastHeld > 1 && lastHeld < 300, someRowsGood);
    QCOMPARE(start.refersTo, lastHeld);
    QCOMPARE(start.previousHead, hashes.value(start.refersTo));
    QVERIFY(reg.verify().intact);
    QCOMPARE(modeOf(settings.file), 0600);
    QCOMPARE(modeOf(settings.documentsFolder()), 0700);
}

void tst_Register::pruningKeepsRowsAndMarksThemPruned_data()
{
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<int>("keepMegabytes");
    QTest::addColumn<int>("pruned"); // the oldest so many of four documents of 400 KB, 100, 50, 10 and 1 days old

    QTest::newRow("by days") << 30 << 2000 << 2;
    QTest::newRow("by megabytes") << 365 << 1 << 2;
    QTest::newRow("by both") << 60 << 1 << 2;
    QTest::newRow("neither") << 365 << 2000 << 0;
}

void tst_Register::pruningKeepsRowsAndMarksThemPruned()
{
    QFETCH(int, keepDays);
    QFETCH(int, keepMegabytes);
    QFETCH(int, pruned);

    QTemporaryDir dir;
    RegisterSettings settings = settingsIn(dir.path());
    settings.keepDays = keepDays;
    settings.keepMegabytes = keepMegabytes;
    DistributionRegister reg(settings);
    QString error;
    QVERIFY(reg.open(DistributionRegister::Mode::Write, &error));
    const QDateTime now = QDateTime::currentDateTime();
    QStringList digests;
    for (const int age : { 100, 50, 10, 1 }) {
        reg.setClock([=] { return now.addDays(-age); });
        const QByteArray pdf = pagePdf(age) + QByteArray(400 * 1000, ' ');
        // As the print path keeps them: with the row of the page's submission.
        RegisterRow page = printedPage(QString::number(age), QStringLiteral("COVER"));
        const RegisterWrite submitted = reg.appendSubmission(page, pdf);
        QVERIFY(submitted.durable);
        page.refersTo = submitted.seq;
        QVERIFY(reg.appendPage(page, pdf).durable);
        digests << KeptDocuments::digestOf(pdf);
    }
    reg.setClock([=] { return now; });
    // A page that failed before the print system took it: nothing reached paper, nothing is kept.
    RegisterRow failed = printedPage(QStringLiteral("7"), QStringLiteral("COVER"));
    failed.outcome = RegisterRow::Failed;
    const QByteArray failedPdf = pagePdf(7);
    QVERIFY(reg.appendPage(failed, failedPdf).durable);
    QCOMPARE(reg.prune(&error), pruned);
    QVERIFY(!QFileInfo::exists(reg.documents().pathOf(KeptDocuments::digestOf(failedPdf))));

    const std::vector<RegisterEntry> rows = reg.lookup({}, &error);
    QCOMPARE(rows.size(), size_t(10 + (pruned > 0 ? 1 : 0)));
    for (int i = 0; i < 4; ++i) {
        const RegisterEntry &page = rows[size_t(2 * i) + 2];
        QCOMPARE(page.document, i < pruned ? QStringLiteral("pruned") : QStringLiteral("kept"));
        QCOMPARE(page.prunedUtc.isEmpty(), i >= pruned);
        QCOMPARE(QFileInfo::exists(reg.documents().pathOf(digests[i])), i >= pruned);
    }
    QVERIFY(reg.verify().intact);
    // Every removed document is named by the prune row that removed it.
    qint64 checked = 0;
    QCOMPARE(reg.damagedDocuments(&checked), QStringList());
}

// The station (through ThreadedRegister, as its print path writes) and a second process
// (this test run again) append at once.
void tst_Register::twoProcessesAppendingKeepOneChain()
{
    constexpr int kPages = 30;
    constexpr int kOtherRows = 300;
    QTemporaryDir dir;
    const RegisterSettings settings = settingsIn(dir.path());
    std::vector<QByteArray> pdfs;
    for (int i = 0; i < kPages; ++i)
        pdfs.push_back(pagePdf(i));
    ThreadedRegister station(settings);
    QVERIFY(QTest::qWaitFor([&] { return station.summary().rows == 1; }, 30000));

    QProcess other;
    other.start(QCoreApplication::applicationFilePath(),
        { QString::fromLatin1(kAppendRows), settings.file, QString::number(kOtherRows) });
    QVERIFY(QTest::qWaitFor([&] { return RegisterCommands::summary(settings).rows > 1; }, 30000));
    ThreadedRegister::Ticket last = 0;
    for (int i = 0; i < kPages; ++i)
        last = station.recordPages({ { printedPage(QString::number(i), QStringLiteral("COVER")), pdfs[size_t(i)] } });
    QVERIFY(QTest::qWaitFor([&] { return station.result(last).has_value(); }, 120000));
    QVERIFY(QTest::qWaitFor([&] { return other.state() == QProcess::NotRunning; }, 120000));
    QCOMPARE(other.exitCode(), 0);
    for (ThreadedRegister::Ticket ticket = 1; ticket <= last; ++ticket)
        QVERIFY2(station.result(ticket)->durable, qPrintable(station.result(ticket)->error));

    DistributionRegister reg(settings);
    QString error;
    QVERIFY2(reg.open(DistributionRegister::Mode::Read, &error), qPrintable(error));
    const RegisterVerification chain = reg.verify();
    QVERIFY2(chain.intact, qPrintable(chain.problem));
    QCOMPARE(chain.rowsChecked, 1 + kPages + kOtherRows);
    // The two writers' rows are interleaved: they did write at once.
    QString kinds;
    for (const RegisterEntry &entry : reg.lookup({}, &error))
        kinds += entry.row.kind.front();
    QVERIFY2(kinds.contains(QLatin1String("bp")) && kinds.contains(QLatin1String("pb")), qPrintable(kinds));
}

void tst_Register::valuesAreStoredAndShownExactly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown"); // in the table
    QTest::addColumn<QString>("csv");

    QTest::newRow("quotes") << "O'Brien \"Labs\", Ltd"
                            << "O'Brien \"Labs\", Ltd"
                            << "\"O'Brien \"\"Labs\"\", Ltd\"";
    QTest::newRow("terminal controls") << "A\x1b[2J\aB\r\nC"
                                       << "A\u241b[2J\u2407B\u240d\u240aC"
                                       << "\"A\x1b[2J\aB\r\nC\"";
    QTest::newRow("right-to-left override") << "report\u202Efdp.exe"
                                            << "report<U+202E>fdp.exe"
                                            << "report\u202Efdp.exe";
    QTest::newRow("script") << "<script>alert(1)</script>"
                            << "<script>alert(1)</script>"
                            << "<script>alert(1)</script>";
    QTest::newRow("SQL") << "x'); DROP TABLE register_rows; --"
                         << "x'); DROP TABLE register_rows; --"
                         << "x'); DROP TABLE register_rows; --";
}

void tst_Register::valuesAreStoredAndShownExactly()
{
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QFETCH(QString, csv);

    QTemporaryDir dir;
    DistributionRegister reg(settingsIn(dir.path()));
    QString error;
    QVERIFY(reg.open(DistributionRegister::Mode::Write, &error));
    RegisterRow row = printedPage(name, QStringLiteral("COVER"));
    row.clientName = name;
    QVERIFY(reg.appendPage(row, pagePdf(1)).durable);

    const std::vector<RegisterEntry> rows = reg.lookup({ QString(), name, {}, {} }, &error);
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows.front().row.clientName, name);
    const QString table = RegisterTable::table(rows);
    QVERIFY2(table.contains(shown), qPrintable(table));
    QVERIFY(std::none_of(table.cbegin(), table.cend(), [](QChar c) { return c < u' ' && c != u'\n'; }));
    QVERIFY(RegisterTable::csv(rows).contains(QLatin1Char(',') + csv + QLatin1Char(',')));
    QVERIFY(reg.verify().intact);
}

// As a PDF folder on a full disk: the page's row is not durable, so the page counts as
// not printed and its batch is kept.
void tst_Register::pageOnAFullDiskIsNotDurable()
{
    QTemporaryDir dir;
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QDir().mkpath(disk);
    if (QProcess::execute(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=400k"),
                QStringLiteral("tmpfs"), disk })
        != 0)
        QSKIP("no tmpfs can be mounted here (the suite mounts one where it runs as root)");
    const auto unmount = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), disk });
    });
    {
        ThreadedRegister station(settingsIn(disk));
        QVERIFY(QTest::qWaitFor([&] { return station.summary().rows == 1; }, 30000));
        QFile filler(disk + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) { }
        filler.close();
        const ThreadedRegister::Ticket ticket
            = station.recordPages({ { printedPage(QStringLiteral("70001"), QStringLiteral("COVER")), pagePdf(1) } });
        QVERIFY(QTest::qWaitFor([&] { return station.result(ticket).has_value(); }, 30000));
        QVERIFY(!station.result(ticket)->durable);
        QVERIFY2(station.trouble().contains(QLatin1String("is full (No space left on device)")),
            qPrintable(station.trouble()));
        QCOMPARE(station.summary().rows, 1);
    }
}

void tst_Register::reprintSendsOnlyAnIntactKeptDocument_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words");

    QTest::newRow("kept") << "kept" << 0 << "batch 70001 COVER (row 2) printed again: queue OK, job ";
    QTest::newRow("pruned") << "pruned" << 1 << "The document of batch 70001 COVER (row 2) was pruned on ";
    QTest::newRow("altered") << "altered" << 1
                             << "The kept document of batch 70001 COVER (row 2) no longer matches its digest ";
    // The running station may have it open: only the station moves it aside.
    QTest::newRow("register damaged") << "register damaged" << 1 << "is not an SQLite database: nothing is added to it";
}

void tst_Register::reprintSendsOnlyAnIntactKeptDocument()
{
    QFETCH(QString, document);
    QFETCH(int, exitCode);
    QFETCH(QString, words);

    if (const QString why = PrivateCups::unavailableReason(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QString error;
    if (!m_cupsStarted) {
        QVERIFY2(m_cups.start(&error), qPrintable(error));
        QVERIFY(m_cups.addQueue(QStringLiteral("OK"), QStringLiteral("ok")));
        m_cupsStarted = true;
    }
    PrivateCups &cups = m_cups;
    QTemporaryDir dir;
    RegisterSettings settings = settingsIn(dir.path());
    settings.keepDays = 30;
    const QByteArray pdf = pagePdf(1);
    {
        DistributionRegister reg(settings);
        QVERIFY(reg.open(DistributionRegister::Mode::Write, &error));
        if (document == QLatin1String("pruned"))
            reg.setClock([] { return QDateTime::currentDateTime().addDays(-31); });
        QVERIFY(reg.appendPage(printedPage(QStringLiteral("70001"), QStringLiteral("COVER")), pdf).durable);
        reg.setClock([] { return QDateTime::currentDateTime(); });
        QCOMPARE(reg.prune(&error), document == QLatin1String("pruned") ? 1 : 0);
        if (document == QLatin1String("altered")) {
            QFile kept(reg.documents().pathOf(KeptDocuments::digestOf(pdf)));
            QVERIFY(kept.open(QIODevice::WriteOnly | QIODevice::Append));
            kept.write("%% one more line\n");
        }
    }
    if (document == QLatin1String("register damaged")) {
        QFile file(settings.file);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(100, 'x'));
    }
    const int printedBefore = cups.documentsPrinted();
    ReprintRequest request { QStringLiteral("70001"), QString(), QStringLiteral("OK"), cups.socketPath(), 10 };
    QString text;
    QTextStream out(&text);
    QCOMPARE(RegisterCommands::reprint(settings, request, out), exitCode);
    QVERIFY2(text.contains(words), qPrintable(text));
    QCOMPARE(cups.documentsPrinted(), printedBefore + (exitCode == 0 ? 1 : 0));
    if (document == QLatin1String("register damaged")) {
        QCOMPARE(QDir(dir.path()).entryList({ QStringLiteral("*.damaged-*") }), QStringList());
        return;
    }

    DistributionRegister reg(settings);
    QVERIFY(reg.open(DistributionRegister::Mode::Read, &error));
    const std::vector<RegisterEntry> rows = reg.lookup({}, &error);
    const RegisterRow &last = rows.back().row;
    if (exitCode == 0) {
        QCOMPARE(last.kind, QString(RegisterRow::Reprint));
        QCOMPARE(last.refersTo, 2);
        QCOMPARE(last.jobState, QStringLiteral("completed"));
        QCOMPARE(last.sha256, KeptDocuments::digestOf(pdf));
        QVERIFY2(text.contains(QStringLiteral("registered as row %1.").arg(last.seq)), qPrintable(text));
    } else {
        QVERIFY(last.kind != RegisterRow::Reprint);
    }
    QVERIFY(reg.verify().intact);
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], kAppendRows) == 0) {
        QCoreApplication app(argc, argv);
        return appendRows(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    }
    QGuiApplication app(argc, argv);
    tst_Register test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_register.moc"
