// The register window's model and its "Print again" on a register of the suite's own,
// offscreen, and a page printed again on the suite's own cupsd.
#include <QAccessible>
#include <QDir>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "common/PrivateCups.h"
#include "register/DistributionRegister.h"
#include "registerwindow/PrintAgain.h"
#include "registerwindow/RegisterModel.h"
#include "registerwindow/RegisterWindow.h"

namespace {

RegisterRow page(const QString &client, const QString &name, const QString &batch, const QString &printType)
{
    RegisterRow row;
    row.labCode = QStringLiteral("QVLAB");
    row.empNum = QStringLiteral("1001");
    row.clientId = client;
    row.clientName = name;
    row.batchId = batch;
    row.printType = printType;
    row.destination = RegisterRow::Cups;
    row.queue = QStringLiteral("OK");
    row.jobId = 7;
    row.outcome = RegisterRow::Printed;
    return row;
}

// Each page's document differs, as each report does.
QByteArray documentOf(const RegisterRow &row)
{
    return "%PDF-1.4 " + (row.batchId + row.printType).toUtf8();
}

RegisterSettings registerWith(const QString &folder, const std::vector<RegisterRow> &pages)
{
    RegisterSettings settings;
    settings.file = folder + QStringLiteral("/register.sqlite");
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Write, &error))
        qFatal("%s", qPrintable(error));
    std::vector<RegisterPage> ended;
    for (const RegisterRow &row : pages)
        ended.push_back({ row, documentOf(row) });
    if (!reg.appendPages(ended).durable)
        qFatal("the register's pages were not written");
    return settings;
}

QStringList shown(const RegisterModel &model)
{
    QStringList rows;
    for (int i = 0; i < model.rowCount(); ++i)
        rows << model.index(i, RegisterModel::Batch).data().toString() + QLatin1Char(' ')
                + model.index(i, RegisterModel::Page).data().toString();
    return rows;
}

} // namespace

class tst_RegisterWindow : public QObject
{
    Q_OBJECT

private slots:
    void searchShowsMatchingPagesLatestFirst_data();
    void searchShowsMatchingPagesLatestFirst();
    void rowsLoadAPageAtATimeAsTheViewAsks();
    void damagedRegisterIsSaidPlainlyAndLeftInPlace_data();
    void damagedRegisterIsSaidPlainlyAndLeftInPlace();
    void printAgainSendsTheKeptDocumentAndRegistersIt_data();
    void printAgainSendsTheKeptDocumentAndRegistersIt();
    void everyControlTabReachesHasAnAccessibleName();
};

void tst_RegisterWindow::searchShowsMatchingPagesLatestFirst_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("batch");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("everything") << ""
                                << ""
                                << QStringList { "70009 SAMPLES", "70008 SAMPLES", "70007 SAMPLES", "70007 COVER" };
    QTest::newRow("client id") << "1003"
                               << "" << QStringList { "70007 SAMPLES", "70007 COVER" };
    QTest::newRow("part of the name, any case") << "ACME"
                                                << "" << QStringList { "70007 SAMPLES", "70007 COVER" };
    QTest::newRow("LIKE's characters match themselves") << "t_W"
                                                        << "" << QStringList { "70009 SAMPLES" };
    QTest::newRow("batch with blanks") << ""
                                       << " 70008 " << QStringList { "70008 SAMPLES" };
    QTest::newRow("client and batch that do not meet") << "1003"
                                                       << "70008" << QStringList {};
}

void tst_RegisterWindow::searchShowsMatchingPagesLatestFirst()
{
    QFETCH(QString, client);
    QFETCH(QString, batch);
    QFETCH(QStringList, rows);

    QTemporaryDir dir;
    RegisterModel model(registerWith(dir.path(),
        { page("1003", "Acme Ltd", "70007", "COVER"), page("1003", "Acme Ltd", "70007", "SAMPLES"),
            page("1004", "Bolt Works", "70008", "SAMPLES"), page("1005", "Bolt_Works", "70009", "SAMPLES") }));
    model.search({ client, batch, {}, {} });
    QCOMPARE(shown(model), rows);
    QVERIFY2(model.state().contains(QStringLiteral("rows verify")), qPrintable(model.state()));
}

void tst_RegisterWindow::rowsLoadAPageAtATimeAsTheViewAsks()
{
    const int pages = 2 * RegisterModel::kRowsAtATime + 50;
    std::vector<RegisterRow> rows;
    for (int i = 0; i < pages; ++i)
        rows.push_back(page("1003", "Acme Ltd", QString::number(i), "SAMPLES"));
    QTemporaryDir dir;
    RegisterModel model(registerWith(dir.path(), rows));
    model.search({});
    for (int expected : { RegisterModel::kRowsAtATime, 2 * RegisterModel::kRowsAtATime, pages }) {
        QCOMPARE(model.rowCount(), expected);
        model.fetchMore({});
    }
    QVERIFY(!model.canFetchMore({}));
    QCOMPARE(model.index(0, RegisterModel::Batch).data().toString(), QString::number(pages - 1));
    QCOMPARE(model.index(pages - 1, RegisterModel::Batch).data().toString(), QStringLiteral("0"));
}

void tst_RegisterWindow::damagedRegisterIsSaidPlainlyAndLeftInPlace_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("words");

    QTest::newRow("not a database") << "not a database"
                                    << "is not an SQLite database";
    QTest::newRow("a row edited") << "UPDATE register_rows SET client_name = 'Other' WHERE seq = 2"
                                  << "does not verify: row 2 does not match";
}

void tst_RegisterWindow::damagedRegisterIsSaidPlainlyAndLeftInPlace()
{
    QFETCH(QString, damage);
    QFETCH(QString, words);

    QTemporaryDir dir;
    const RegisterSettings settings = registerWith(dir.path(), { page("1003", "Acme Ltd", "70007", "COVER") });
    if (damage.startsWith(QLatin1String("UPDATE"))) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("by hand"));
        db.setDatabaseName(settings.file);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(damage));
        db.close();
    } else {
        QFile file(settings.file);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(8192, 'x'));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("by hand"));
    RegisterModel model(settings);
    model.search({});
    QVERIFY2(model.state().contains(words), qPrintable(model.state()));
    QCOMPARE(QDir(dir.path()).entryList({ QStringLiteral("*.damaged-*") }), QStringList());
}

void tst_RegisterWindow::printAgainSendsTheKeptDocumentAndRegistersIt_data()
{
    QTest::addColumn<bool>("altered");
    QTest::addColumn<QString>("words");

    QTest::newRow("kept") << false << "batch 70007 SAMPLES (row 2) printed again: queue OK, job ";
    QTest::newRow("altered") << true
                             << "The kept document of batch 70007 SAMPLES (row 2) no longer matches its digest ";
}

void tst_RegisterWindow::printAgainSendsTheKeptDocumentAndRegistersIt()
{
    QFETCH(bool, altered);
    QFETCH(QString, words);

    if (const QString why = PrivateCups::unavailableReason(); !why.isEmpty())
        QSKIP(qPrintable(why));
    PrivateCups cups;
    QString error;
    QVERIFY2(cups.start(&error), qPrintable(error));
    QVERIFY(cups.addQueue(QStringLiteral("OK"), QStringLiteral("ok")));
    QTemporaryDir dir;
    const RegisterRow original = page("1003", "Acme Ltd", "70007", "SAMPLES");
    const RegisterSettings settings = registerWith(dir.path(), { original });
    if (altered) {
        QFile kept(KeptDocuments(settings.documentsFolder()).pathOf(KeptDocuments::digestOf(documentOf(original))));
        QVERIFY(kept.open(QIODevice::Append));
        kept.write("%% one more line\n");
    }
    RegisterModel model(settings);
    model.search({});
    PrintAgain printAgain(settings);
    QSignalSpy told(&printAgain, &PrintAgain::told);
    QSignalSpy finished(&printAgain, &PrintAgain::finished);
    printAgain.start({ { model.entry(0) }, QStringLiteral("OK"), cups.socketPath(), 10 });
    QVERIFY(!finished.isEmpty() || finished.wait(60000));
    QVERIFY2(told.first().first().toString().startsWith(words), qPrintable(told.first().first().toString()));
    QCOMPARE(finished.first().first().toBool(), !altered);
    QCOMPARE(cups.documentsPrinted(), altered ? 0 : 1);
    model.search({});
    QCOMPARE(model.entry(0).row.kind, QString(altered ? RegisterRow::Page : RegisterRow::Reprint));
    QCOMPARE(model.entry(0).row.refersTo, altered ? 0 : 2);
    cups.stop();
}

void tst_RegisterWindow::everyControlTabReachesHasAnAccessibleName()
{
    QTemporaryDir dir;
    RegisterWindow window({ registerWith(dir.path(), { page("1003", "Acme Ltd", "70007", "COVER") }), {}, {}, 10 });
    window.show();
    QCOMPARE(QAccessible::queryAccessibleInterface(&window)->role(), QAccessible::Window);
    for (QWidget *control : window.findChildren<QWidget *>()) {
        if (control->isVisible() && (control->focusPolicy() & Qt::TabFocus))
            QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
                control->metaObject()->className());
    }
}

QTEST_MAIN(tst_RegisterWindow)
#include "tst_registerwindow.moc"
