#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "common/StationFixture.h"
#include "dispatch/DispatchText.h"
#include "register/DistributionRegister.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Failure.h"

Q_DECLARE_METATYPE(DbValue)

namespace {

const QString kBase =
    QStringLiteral("http://reports.test/CommonFiles/reports/RPT_LBX_Distrib.asp?wui=KOVANE_40527");
const QString kFailedRequestMessage = QStringLiteral(
    "Attempts to contact Quorviks WebServer failed.  This application will be shutdown.\r\n\r\n"
    "Please confirm your internet connection.  If this problem persists, please contact your network administrator");
const QString kRequestUrl = kBase + QStringLiteral("&labCode=AB&eid=E1&cid=17");

const QStringList kWorkListColumns = {QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"),
                                      QStringLiteral("ENDUSER_ID"),  QStringLiteral("REC_DATE"),
                                      QStringLiteral("RATING"),      QStringLiteral("SAMPLES"),
                                      QStringLiteral("TOTAL_REPORTS")};

ResultSet::Row clientRow(qint64 contactId, const QString &name, const QString &endUser, const QDateTime &recDate,
                         qint64 samples, qint64 totalReports)
{
    return {DbValue::fromInt(contactId), DbValue::fromText(name), DbValue::fromText(endUser),
            DbValue::fromDateTime(recDate), DbValue::fromInt(7), DbValue::fromInt(samples),
            DbValue::fromInt(totalReports)};
}

QDateTime day(int d) { return QDateTime(QDate(2026, 3, d), QTime(0, 0)); }

FakePage page(const QString &batchId, const std::optional<QString> &printType, int eventsUntilLoaded = 1)
{
    FakePage p;
    p.elements.insert(QStringLiteral("BATCH_ID"), batchId);
    if (printType)
        p.elements.insert(QStringLiteral("PrintType"), *printType);
    p.eventsUntilLoaded = eventsUntilLoaded;
    return p;
}

// A logged-in station over a scripted LIMS: the work list, the status board and the
// cleanup answer as the test sets them.
struct Station
{
    explicit Station(ThreadedRegister *distributionRegister = nullptr)
    {
        f.scripted->responder = [this](const QString &sql) { return answer(sql); };
        f.distributionRegister = distributionRegister;
        f.load();
        form().sLabCode = QStringLiteral("AB");
        form().sEmpNum = QStringLiteral("42");
    }

    Form_HardCopy &form() { return *f.form; }

    ScriptedDbConnection::Reply answer(const QString &sql)
    {
        if (sql.contains(QLatin1String("Distrib_ActiveSamples_DelBatch")))
            return deletion;
        if (sql.startsWith(QLatin1String("exec labrack.dbo.distrib_cleanup")))
            return cleanupFails ? ScriptedDbConnection::error() : ScriptedDbConnection::ok();
        if (sql.contains(QLatin1String("tbl_Distrib_ActiveClients")))
            return workListFails ? ScriptedDbConnection::error()
                                 : ScriptedDbConnection::rows(kWorkListColumns, workList);
        if (sql.startsWith(QLatin1String("select")) && sql.contains(QLatin1String("cinrg.dbo.settings"))) {
            const QString holder = boardGivesTurn ? QStringLiteral("HARD_COPY") : QStringLiteral("AUTO_EXPORT");
            const QString now = QStringLiteral("3/2/2026 09:05");
            const QStringList columns = {QStringLiteral("PARAMETER"), QStringLiteral("VALUE")};
            return ScriptedDbConnection::rows(
                columns, {{DbValue::fromText(QStringLiteral("Zentrab_CurrApp_CA")), DbValue::fromText(holder)},
                          {DbValue::fromText(QStringLiteral("Zentrab_LastPing_CA")), DbValue::fromText(now)},
                          {DbValue::fromText(QStringLiteral("Zentrab_LastUpd_CA")), DbValue::fromText(now)},
                          {DbValue::fromText(QStringLiteral("Zentrab_Delay_CA")), DbValue::fromText("15")},
                          {DbValue::fromText(QStringLiteral("Zentrab_Freq_CA")), DbValue::fromText("1")}});
        }
        return ScriptedDbConnection::ok();
    }

    QStringList executed(const QString &containing) const
    {
        QStringList hits;
        for (const QString &sql : f.scripted->executed) {
            if (sql.contains(containing))
                hits << sql;
        }
        return hits;
    }
    QStringList deletes() const { return executed(QStringLiteral("Distrib_ActiveSamples_DelBatch")); }

    // A loaded work list with the grid in the given mode, rows current from the first.
    void loadList(const QString &caption, bool gridEnabled)
    {
        form().Load_WorkList(QString());
        f.control<QPushButton>("cmd_Automation")->setText(caption);
        f.control<DataGrid>("DataGrid1")->setEnabled(gridEnabled);
    }

    // Every report page is final and loads at the next event processing.
    void serveFinalPages(const QString &batchId = QStringLiteral("B1"))
    {
        f.browser.server = [batchId](const QString &) { return page(batchId, QStringLiteral("SAMPLES")); };
    }

    StationFixture f;
    std::vector<ResultSet::Row> workList;
    bool cleanupFails = false;
    bool workListFails = false;
    ScriptedDbConnection::Reply deletion = ScriptedDbConnection::ok();
    bool boardGivesTurn = true;
};

} // namespace

class tst_Dispatch : public QObject
{
    Q_OBJECT

private slots:
    // Statements and URL
    void workListStatementFollowsTheRatingFilter_data();
    void workListStatementFollowsTheRatingFilter();
    void skipListsBecomeExclusionClauses_data();
    void skipListsBecomeExclusionClauses();
    void cleanupStatementDoublesQuotesOfTheLabCode();
    void deleteStatementCarriesTheTrimmedQuotedBatchId_data();
    void deleteStatementCarriesTheTrimmedQuotedBatchId();
    void statusStatementJoinsItsPieces_data();
    void statusStatementJoinsItsPieces();
    void reportUrlCarriesTheQueryKeysInOrder_data();
    void reportUrlCarriesTheQueryKeysInOrder();
    void httpsReportServerChangesOnlyTheScheme();
    void urlValuesCannotCutTheQuery_data();
    void urlValuesCannotCutTheQuery();

    // Work list
    void workListTotalIsShownOnlyWhileIdle_data();
    void workListTotalIsShownOnlyWhileIdle();
    void emptyWorkListBindsAnEmptyGridAndLeavesThePanel();
    void gridShowsExactlyTheFourNamedColumns();
    void failedWorkListQueryPassesAFailureToTheCaller();
    void cleanupFailureStopsTheLoad();

    // Row dispatch
    void dispatchOutcomeFollowsTheServiceState_data();
    void dispatchOutcomeFollowsTheServiceState();
    void rowActionAsksTheOperatorOnlyWhileStopped_data();
    void rowActionAsksTheOperatorOnlyWhileStopped();
    void holdShowsTheStatusStatementWithoutSendingIt();
    void dispatchWithoutCurrentRowFails_data();
    void dispatchWithoutCurrentRowFails();

    // Report request
    void noTurnOnTheBoardRequestsNothing();
    void firstRequestOfARunBecomesEntryZero();
    void sameContactAndDateIsRequestedOncePerRun();
    void addressBoxKeepsOnlyTheLatestHundredAddresses();
    void requestUrlTakesRowOptionsAndSwitches();
    void batchMaximumAndReloadFollowWhoDispatched_data();
    void batchMaximumAndReloadFollowWhoDispatched();

    // Browser wait, printing, deletion
    void coverThenSamplesPrintsBothAndDeletesOnce();
    void emptyPrintTypeIsReloadedWithTheBatchId();
    void pageSequenceWithoutFinalPageFailsAtTheEleventhLoad();
    void pageThatNeverLoadsTimesOut();
    void unreachableServerIsReloadedAfterGrowingPauses_data();
    void unreachableServerIsReloadedAfterGrowingPauses();
    void windowClosedDuringAWaitAbandonsTheRequestSilently_data();
    void windowClosedDuringAWaitAbandonsTheRequestSilently();
    void pauseIsFourTenthsOfASecondPerReport_data();
    void pauseIsFourTenthsOfASecondPerReport();
    void printSwitchOffPrintsAndDeletesNothing();
    void failedPrintKeepsTheBatch_data();
    void failedPrintKeepsTheBatch();
    void pageNotOnRecordKeepsTheBatch();
    void deletionIsRecordedAsWhatHappened_data();
    void deletionIsRecordedAsWhatHappened();
    void samplesPageLoadsWhileTheCoverJobPrints();
    void printerTroubleIsShownUntilPagesPrintAgain();
    void deleteStatementTakesTheBatchIdFromThePage_data();
    void deleteStatementTakesTheBatchIdFromThePage();
};

// ---- Statements and URL ----

void tst_Dispatch::workListStatementFollowsTheRatingFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("ending");

    QTest::newRow("All") << QString() << "'HARD_COPY', 'AB', 0, 0) " << " order by contact_id ";
    QTest::newRow("Severe") << "Severe" << "'HARD_COPY', 'AB', 10, 0) " << "";
    QTest::newRow("Abnormal") << "Abnormal" << "'HARD_COPY', 'AB', 5, 0) " << "";
    QTest::newRow("CUSTOM") << "CUSTOM" << "'HARD_COPY', 'AB', 0, 1) " << "";
    QTest::newRow("other case") << "severe" << "'HARD_COPY', 'AB', 0, 0) " << "";
}

void tst_Dispatch::workListStatementFollowsTheRatingFilter()
{
    QFETCH(QString, filter);
    QFETCH(QString, arguments);
    QFETCH(QString, ending);

    QCOMPARE(workListStatement(QStringLiteral("AB"), filter, {}, {}),
             "select   * from     labrack.dbo.tbl_Distrib_ActiveClients(" + arguments + ending);
}

void tst_Dispatch::skipListsBecomeExclusionClauses_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("labCode");
    QTest::addColumn<QStringList>("contacts");
    QTest::addColumn<QStringList>("dates");
    QTest::addColumn<QString>("tail");

    const QString clause = QStringLiteral(" not(contact_id = %1 and rec_date = '%2') ");
    QTest::newRow("no entries") << "Severe" << "AB" << QStringList() << QStringList() << "";
    QTest::newRow("one entry: where, no and")
        << "Severe" << "AB" << QStringList{"17"} << QStringList{"3/1/2026"}
        << "  where " + clause.arg("17", "3/1/2026");
    QTest::newRow("three entries: where, then and twice")
        << "Abnormal" << "AB" << QStringList{"17", "25", "31"} << QStringList{"D1", "D2", "D3"}
        << "  where " + clause.arg("17", "D1") + "  and " + clause.arg("25", "D2") + "  and " + clause.arg("31", "D3");
    QTest::newRow("ordering after the clauses for All")
        << "" << "AB" << QStringList{"17", "25"} << QStringList{"D1", "D2"}
        << "  where " + clause.arg("17", "D1") + "  and " + clause.arg("25", "D2") + " order by contact_id ";
    QTest::newRow("dates shorter than contacts: clauses end there")
        << "CUSTOM" << "AB" << QStringList{"17", "25"} << QStringList{"D1"} << "  where " + clause.arg("17", "D1");
    QTest::newRow("quotes doubled in lab code and date")
        << "Severe" << "A'B" << QStringList{"17"} << QStringList{"D'1"} << "  where " + clause.arg("17", "D''1");
    QTest::newRow("a contact id that is no number is quoted")
        << "Severe" << "A'B" << QStringList{"17 or 1=1"} << QStringList{"D1"}
        << "  where " + clause.arg("'17 or 1=1'", "D1");
}

void tst_Dispatch::skipListsBecomeExclusionClauses()
{
    QFETCH(QString, filter);
    QFETCH(QString, labCode);
    QFETCH(QStringList, contacts);
    QFETCH(QStringList, dates);
    QFETCH(QString, tail);

    const WorkListFilter f = workListFilter(filter);
    const QString head = "select   * from     labrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', '"
        + QString(labCode).replace("'", "''") + "', " + f.severity + ", " + f.custom + ") ";
    QCOMPARE(workListStatement(labCode, filter, contacts, dates), head + tail);
}

void tst_Dispatch::cleanupStatementDoublesQuotesOfTheLabCode()
{
    QCOMPARE(distribCleanupStatement(QStringLiteral("AB")),
             QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY', @labCode = 'AB'"));
    QCOMPARE(distribCleanupStatement(QStringLiteral("A'B")),
             QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY', @labCode = 'A''B'"));
}

void tst_Dispatch::deleteStatementCarriesTheTrimmedQuotedBatchId_data()
{
    QTest::addColumn<QString>("batchId");
    QTest::addColumn<QString>("literal");
    QTest::newRow("plain") << "B1" << "'B1'";
    QTest::newRow("blanks around") << "  B 1  " << "'B 1'";
    QTest::newRow("quote") << "B'1; drop table x --" << "'B''1; drop table x --'";
}

void tst_Dispatch::deleteStatementCarriesTheTrimmedQuotedBatchId()
{
    QFETCH(QString, batchId);
    QFETCH(QString, literal);
    QCOMPARE(deleteBatchStatement(batchId), "exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = " + literal);
}

void tst_Dispatch::statusStatementJoinsItsPieces_data()
{
    QTest::addColumn<QString>("rating");
    QTest::addColumn<DbValue>("contact");
    QTest::addColumn<QString>("action");
    QTest::addColumn<DbValue>("date");
    QTest::addColumn<QString>("expected");

    QTest::newRow("HOLD with filter All")
        << "" << DbValue::fromInt(1234) << "HOLD" << DbValue::fromText("D")
        << "exec labrack.dbo.distrib_UPD_status @ratingString = '', @contactId = 1234, @status = 'HOLD', "
           "@shipmentDate = 'D'";
    QTest::newRow("DELETE with a date value")
        << "Severe" << DbValue::fromInt(17) << "DELETE" << DbValue::fromDateTime(day(1))
        << "exec labrack.dbo.distrib_UPD_status @ratingString = 'Severe', @contactId = 17, @status = 'DELETE', "
           "@shipmentDate = '3/1/2026'";
    QTest::newRow("nulls contribute nothing")
        << "CUSTOM" << DbValue::null() << "HOLD" << DbValue::null()
        << "exec labrack.dbo.distrib_UPD_status @ratingString = 'CUSTOM', @contactId = , @status = 'HOLD', "
           "@shipmentDate = ''";
    QTest::newRow("quotes doubled, text contact quoted")
        << "Se'v" << DbValue::fromText("12 x") << "HOLD" << DbValue::fromText("D'1")
        << "exec labrack.dbo.distrib_UPD_status @ratingString = 'Se''v', @contactId = '12 x', @status = 'HOLD', "
           "@shipmentDate = 'D''1'";
}

void tst_Dispatch::statusStatementJoinsItsPieces()
{
    QFETCH(QString, rating);
    QFETCH(DbValue, contact);
    QFETCH(QString, action);
    QFETCH(DbValue, date);
    QFETCH(QString, expected);
    QCOMPARE(statusUpdateStatement(rating, contact, action, date), expected);
}

void tst_Dispatch::reportUrlCarriesTheQueryKeysInOrder_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("frequency");
    QTest::addColumn<bool>("print");
    QTest::addColumn<QString>("query");

    QTest::newRow("All, print off, once only")
        << "" << "Once only" << false
        << "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=D&rating=0&cr=0&dt=HARD_COPY&setFrequency=Once only";
    QTest::newRow("print on ends in cb")
        << "" << "5 Minutes" << true
        << "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=D&rating=0&cr=0&dt=HARD_COPY&setFrequency=5 Minutes&cb=Y";
    QTest::newRow("Severe")
        << "Severe" << "1 Minute" << false
        << "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=D&rating=10&cr=0&dt=HARD_COPY&setFrequency=1 Minute";
    QTest::newRow("Abnormal")
        << "Abnormal" << "1 Minute" << false
        << "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=D&rating=5&cr=0&dt=HARD_COPY&setFrequency=1 Minute";
    QTest::newRow("CUSTOM")
        << "CUSTOM" << "1 Minute" << false
        << "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=D&rating=0&cr=1&dt=HARD_COPY&setFrequency=1 Minute";
}

void tst_Dispatch::reportUrlCarriesTheQueryKeysInOrder()
{
    QFETCH(QString, tag);
    QFETCH(QString, frequency);
    QFETCH(bool, print);
    QFETCH(QString, query);

    ReportRequestValues values;
    values.server = QStringLiteral("reports.test");
    values.labCode = QStringLiteral("AB");
    values.endUserId = QStringLiteral("A&B  ");
    values.contactId = QStringLiteral("17");
    values.empNum = QStringLiteral("42");
    values.recDate = QStringLiteral("D");
    values.codes = reportRating(tag);
    values.frequency = frequency;
    values.print = print;
    QCOMPARE(reportRequestUrl(values), kBase + query);
}

void tst_Dispatch::httpsReportServerChangesOnlyTheScheme()
{
    ReportRequestValues values;
    values.server = QStringLiteral("reports.test");
    values.scheme = ReportScheme::Https;
    values.labCode = QStringLiteral("AB");
    QVERIFY(reportRequestUrl(values).startsWith(QStringLiteral("https") + kBase.mid(4) + QStringLiteral("&labCode=AB&")));
}

void tst_Dispatch::urlValuesCannotCutTheQuery_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("inUrl");
    QTest::newRow("date with blanks and slashes stays") << "3/2/2009 9:05:00 AM" << "3/2/2009 9:05:00 AM";
    QTest::newRow("hash would end the query") << "A#1" << "A%231";
    QTest::newRow("ampersand would start a key") << "R&D" << "R%26D";
    QTest::newRow("percent stays a percent") << "%41" << "%2541";
}

void tst_Dispatch::urlValuesCannotCutTheQuery()
{
    QFETCH(QString, value);
    QFETCH(QString, inUrl);
    QCOMPARE(urlValue(value), inUrl);
    QCOMPARE(batchPageUrl(QStringLiteral("U"), value), QStringLiteral("U&bid=") + inUrl);
}

// ---- Work list ----

void tst_Dispatch::workListTotalIsShownOnlyWhileIdle_data()
{
    QTest::addColumn<QString>("serviceState");
    QTest::addColumn<bool>("totalShown");
    QTest::newRow("idle") << "IDLE" << true;
    QTest::newRow("active") << "ACTIVE" << false;
}

void tst_Dispatch::workListTotalIsShownOnlyWhileIdle()
{
    QFETCH(QString, serviceState);
    QFETCH(bool, totalShown);

    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 3, 120), clientRow(25, "Client B", "E2", day(1), 5, 120)};
    s.form().sServiceState = serviceState;
    s.form().lblStatsValue[0]->setText(QStringLiteral("before"));

    s.form().Load_WorkList(QStringLiteral("Severe"));

    // The panel words the total its own way; only whether it shows this list's total counts.
    const QString total = s.form().lblStatsValue[0]->text();
    QCOMPARE(total != QLatin1String("before"), totalShown);
    if (totalShown)
        QVERIFY2(total.startsWith(QLatin1String("120")), qPrintable(total));
    QCOMPARE(s.form().sQueryRating, QStringLiteral("Severe"));
    QCOMPARE(s.form().sRatingFilter, QStringLiteral("Severe"));
    QCOMPARE(s.f.scripted->executed.value(0),
             QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY', @labCode = 'AB'"));
    QCOMPARE(s.f.control<DataGrid>("DataGrid1")->model()->rowCount(), 2);
}

void tst_Dispatch::emptyWorkListBindsAnEmptyGridAndLeavesThePanel()
{
    Station s;
    s.form().lblStatsValue[0]->setText(QStringLiteral("before"));

    s.form().Load_WorkList(QString());

    auto *grid = s.f.control<DataGrid>("DataGrid1");
    QCOMPARE(grid->dataSource(), s.form().rsWorkList);
    QCOMPARE(grid->model()->rowCount(), 0);
    QCOMPARE(s.form().lblStatsValue[0]->text(), QStringLiteral("before"));
}

void tst_Dispatch::gridShowsExactlyTheFourNamedColumns()
{
    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 3, 120)};
    auto *grid = s.f.control<DataGrid>("DataGrid1");

    s.form().Load_WorkList(QString());

    QStringList visible;
    for (int column = 0; column < grid->columnCount(); ++column) {
        if (grid->isColumnVisible(column))
            visible << grid->dataField(column);
    }
    QCOMPARE(visible, (QStringList{"CONTACT_NAME", "ENDUSER_ID", "REC_DATE", "SAMPLES"}));
}

void tst_Dispatch::failedWorkListQueryPassesAFailureToTheCaller()
{
    Station s;
    s.workListFails = true;
    try {
        s.form().Load_WorkList(QString());
        QFAIL("a failed work-list query must reach the caller");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(Failure::ObjectClosed));
    }
    QVERIFY(!s.form().rsWorkList->isOpen());
}

void tst_Dispatch::cleanupFailureStopsTheLoad()
{
    Station s;
    s.cleanupFails = true;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 3, 120)};

    QVERIFY_THROWS_EXCEPTION(Failure, s.form().Load_WorkList(QStringLiteral("Severe")));

    QVERIFY(s.executed(QStringLiteral("tbl_Distrib_ActiveClients")).isEmpty());
    QVERIFY(!s.form().rsWorkList);
    QCOMPARE(s.form().sQueryRating, QString());
}

// ---- Row dispatch ----

void tst_Dispatch::dispatchOutcomeFollowsTheServiceState_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("gridEnabled");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("requested");
    QTest::addColumn<bool>("statusShown");

    QTest::newRow("stopped, grid disabled") << "Start Services" << false << "PRINT" << false << false << false;
    QTest::newRow("stopped, operator prints") << "Start Services" << true << "PRINT" << true << true << false;
    QTest::newRow("stopped, operator holds") << "Start Services" << true << "HOLD" << true << false << true;
    QTest::newRow("stopped, operator deletes") << "Start Services" << true << "DELETE" << true << false << true;
    QTest::newRow("stopped, operator cancels") << "Start Services" << true << "" << true << false << false;
    QTest::newRow("running") << "Stop Services" << false << "HOLD" << false << true << false;
    QTest::newRow("running, grid enabled") << "Stop Services" << true << "HOLD" << false << true << false;
    QTest::newRow("stopping, grid disabled") << "Stopping Services" << false << "PRINT" << false << false << false;
    QTest::newRow("other caption, grid enabled") << "Stopping Services" << true << "HOLD" << false << true << false;
}

void tst_Dispatch::dispatchOutcomeFollowsTheServiceState()
{
    QFETCH(QString, caption);
    QFETCH(bool, gridEnabled);
    QFETCH(QString, answer);
    QFETCH(bool, asked);
    QFETCH(bool, requested);
    QFETCH(bool, statusShown);

    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 1, 120)};
    s.serveFinalPages();
    s.loadList(caption, gridEnabled);
    s.f.dialogs.actions = {answer};

    s.form().Dispatch_Row();

    QCOMPARE(s.f.dialogs.clientsAsked, asked ? QStringList{"Client A"} : QStringList());
    QCOMPARE(!s.f.browser.navigations.isEmpty(), requested);
    QCOMPARE(s.f.messages.shown.size(), statusShown ? 1 : 0);
    if (statusShown)
        QVERIFY(s.f.messages.shown.first().startsWith("exec labrack.dbo.distrib_UPD_status"));
}

void tst_Dispatch::rowActionAsksTheOperatorOnlyWhileStopped_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("questions");

    QTest::newRow("stopped, HOLD") << "Start Services" << "HOLD" << "HOLD" << 1;
    QTest::newRow("stopped, OK with print preselected") << "Start Services" << "PRINT" << "PRINT" << 1;
    QTest::newRow("stopped, cancel") << "Start Services" << "" << "" << 1;
    QTest::newRow("running") << "Stop Services" << "HOLD" << "PRINT" << 0;
    QTest::newRow("stopping") << "Stopping Services" << "HOLD" << "PRINT" << 0;
}

void tst_Dispatch::rowActionAsksTheOperatorOnlyWhileStopped()
{
    QFETCH(QString, caption);
    QFETCH(QString, answer);
    QFETCH(QString, action);
    QFETCH(int, questions);

    Station s;
    s.f.control<QPushButton>("cmd_Automation")->setText(caption);
    s.f.dialogs.actions = {answer};

    QCOMPARE(s.form().Get_Row_Action(DbValue::fromText("Client A")), action);
    QCOMPARE(s.f.dialogs.clientsAsked.size(), questions);
}

void tst_Dispatch::holdShowsTheStatusStatementWithoutSendingIt()
{
    Station s;
    const QDateTime recDate(QDate(2026, 3, 1), QTime(9, 30));
    s.workList = {clientRow(1234, "Client A", "E1", recDate, 3, 120)};
    s.loadList(QStringLiteral("Start Services"), true);
    s.f.dialogs.actions = {QStringLiteral("HOLD")};
    const int statementsBefore = s.f.scripted->executed.size();

    s.form().Dispatch_Row();

    QCOMPARE(s.f.messages.shown,
             QStringList{"exec labrack.dbo.distrib_UPD_status @ratingString = '', @contactId = 1234, "
                         "@status = 'HOLD', @shipmentDate = '3/1/2026 9:30:00 AM'"});
    QCOMPARE(s.f.scripted->executed.size(), statementsBefore);
}

void tst_Dispatch::dispatchWithoutCurrentRowFails_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::newRow("empty list") << true;
    QTest::newRow("never loaded") << false;
}

void tst_Dispatch::dispatchWithoutCurrentRowFails()
{
    QFETCH(bool, loaded);
    Station s;
    if (loaded)
        s.form().Load_WorkList(QString());
    s.f.control<QPushButton>("cmd_Automation")->setText(QStringLiteral("Start Services"));
    s.f.control<DataGrid>("DataGrid1")->setEnabled(true);

    QVERIFY_THROWS_EXCEPTION(Failure, s.form().Dispatch_Row());
    QVERIFY(s.f.dialogs.clientsAsked.isEmpty());
    QVERIFY(s.f.browser.navigations.isEmpty());
}

// ---- Report request ----

void tst_Dispatch::noTurnOnTheBoardRequestsNothing()
{
    Station s;
    s.boardGivesTurn = false;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 3, 120)};
    s.serveFinalPages();
    s.loadList(QStringLiteral("Stop Services"), false);
    s.form().iClientReports = 9;

    s.form().Dispatch_Row();

    QVERIFY(!s.executed(QStringLiteral("cinrg.dbo.settings")).isEmpty());
    QVERIFY(s.f.browser.navigations.isEmpty());
    QCOMPARE(s.form().iClientReports, 9);
    QCOMPARE(s.f.control<QComboBox>("cboAddress")->count(), 0);
    QVERIFY(s.form().sSkipContactId.isEmpty());
}

void tst_Dispatch::firstRequestOfARunBecomesEntryZero()
{
    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 3, 120)};
    s.serveFinalPages();
    s.loadList(QStringLiteral("Stop Services"), false);

    s.form().Dispatch_Row();

    QCOMPARE(s.form().sSkipContactId, QStringList{"17"});
    QCOMPARE(s.form().sSkipRecDate, QStringList{"3/1/2026"});
    QCOMPARE(s.form().iSkipCount, qint16(0));
    QCOMPARE(s.form().iClientReports, 3);
    QCOMPARE(s.form().lblStatsValue[4]->text(), QStringLiteral("3"));
    QCOMPARE(s.f.browser.navigations.size(), 1);
    auto *address = s.f.control<QComboBox>("cboAddress");
    QCOMPARE(address->count(), 1);
    QCOMPARE(address->currentText(), s.f.browser.navigations.first());
}

void tst_Dispatch::sameContactAndDateIsRequestedOncePerRun()
{
    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 1, 120)};
    s.serveFinalPages();
    s.loadList(QStringLiteral("Stop Services"), false);

    s.form().Dispatch_Row();
    s.form().Dispatch_Row();

    QCOMPARE(s.f.browser.navigations.size(), 1);
    QCOMPARE(s.form().sSkipContactId, QStringList{"17"});
    QCOMPARE(s.form().iSkipCount, qint16(0));

    // The same contact with another record date is another client's request.
    s.workList = {clientRow(17, "Client A", "E1", day(2), 1, 120)};
    s.form().Load_WorkList(QString());
    s.form().Dispatch_Row();

    QCOMPARE(s.f.browser.navigations.size(), 2);
    QCOMPARE(s.form().sSkipContactId, (QStringList{"17", "17"}));
    QCOMPARE(s.form().sSkipRecDate, (QStringList{"3/1/2026", "3/2/2026"}));
    QCOMPARE(s.form().iSkipCount, qint16(1));
}

// An unattended station makes a request every few seconds for months: the box would
// otherwise hold every address it ever asked for.
void tst_Dispatch::addressBoxKeepsOnlyTheLatestHundredAddresses()
{
    Station s;
    s.serveFinalPages();
    s.f.control<QCheckBox>("chk_Print")->setChecked(false);
    s.form().lblStatsValue[4]->setText(QStringLiteral("0"));
    const auto address = [](int contact) { return kBase + QStringLiteral("&labCode=AB&eid=E1&cid=%1").arg(contact); };

    for (int contact = 1; contact <= 150; ++contact)
        s.form().Navigate_Report(address(contact));

    auto *box = s.f.control<QComboBox>("cboAddress");
    QCOMPARE(box->count(), 100);
    QCOMPARE(box->itemText(0), address(51));
    QCOMPARE(box->itemText(99), address(150));
    QCOMPARE(box->currentText(), address(150));
    QCOMPARE(s.f.browser.navigations.size(), 150);
    QCOMPARE(s.f.browser.navigations.last(), address(150));
}

void tst_Dispatch::requestUrlTakesRowOptionsAndSwitches()
{
    Station s;
    s.workList = {clientRow(17, "Client A", "A&B  ", day(1), 1, 120)};
    s.serveFinalPages();
    s.loadList(QStringLiteral("Stop Services"), false);
    s.form().opt_FilterRating[3]->setChecked(true);
    s.f.control<QComboBox>("cbo_Freq_HardCopy")->setCurrentText(QStringLiteral("Once only"));
    s.f.control<QCheckBox>("chk_Print")->setChecked(false);

    s.form().Dispatch_Row();

    QCOMPARE(s.f.browser.navigations.value(0),
             kBase + "&labCode=AB&eid=A+32B&cid=17&pc=Y&en=42&sd=3/1/2026&rating=0&cr=1&dt=HARD_COPY"
                     "&setFrequency=Once only");
}

void tst_Dispatch::batchMaximumAndReloadFollowWhoDispatched_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("gridEnabled");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<int>("batchMaximum");
    QTest::newRow("operator dispatch") << "Start Services" << true << true << 250;
    QTest::newRow("service run") << "Stop Services" << false << false << 100;
}

void tst_Dispatch::batchMaximumAndReloadFollowWhoDispatched()
{
    QFETCH(QString, caption);
    QFETCH(bool, gridEnabled);
    QFETCH(bool, manual);
    QFETCH(int, batchMaximum);

    Station s;
    s.workList = {clientRow(17, "Client A", "E1", day(1), 1, 250)};
    s.serveFinalPages();
    s.loadList(caption, gridEnabled);
    s.f.dialogs.actions = {QStringLiteral("PRINT")};
    const int loadsBefore = s.executed(QStringLiteral("tbl_Distrib_ActiveClients")).size();

    s.form().Dispatch_Row();

    QCOMPARE(s.f.browser.navigations.size(), 1);
    QCOMPARE(s.form().bManualDispatch, manual);
    auto *batchBar = s.f.control<QProgressBar>("pb_BatchStatus");
    QCOMPARE(batchBar->maximum(), batchMaximum);
    QCOMPARE(batchBar->isVisible(), !manual);
    // After an operator's request the grid shows the remaining clients without this one.
    const QStringList loads = s.executed(QStringLiteral("tbl_Distrib_ActiveClients"));
    QCOMPARE(loads.size(), loadsBefore + (manual ? 1 : 0));
    if (manual)
        QVERIFY(loads.last().contains(QStringLiteral(" where  not(contact_id = 17 and rec_date = '3/1/2026') ")));
}

// ---- Browser wait, printing, deletion ----

void tst_Dispatch::coverThenSamplesPrintsBothAndDeletesOnce()
{
    Station s;
    const QString batchUrl = kRequestUrl + "&bid=B7";
    const QString samplesUrl = kRequestUrl + "&pt=SAMPLES&bid=B7";
    s.f.browser.server = [&](const QString &url) {
        if (url == samplesUrl)
            return page("B7", QStringLiteral("SAMPLES"), 3);
        if (url == batchUrl)
            return page("B7", QStringLiteral("WRONG"));
        return page("B7", QStringLiteral("COVER"), 2);
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));
    s.form().iReportsDone = 4;
    s.form().iClientReports = 3;

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.f.browser.navigations, (QStringList{kRequestUrl, batchUrl, samplesUrl}));
    QCOMPARE(s.f.browser.printedUrls, (QStringList{kRequestUrl, samplesUrl}));
    QCOMPARE(s.deletes(), QStringList{"exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = 'B7'"});
    QVERIFY(s.form().bBatchDeleted);
    QCOMPARE(s.form().sBatchId, QStringLiteral("B7"));
    QVERIFY(!s.executed(QStringLiteral("Zentrab_LastUpd_CA")).isEmpty());

    auto *readyLabel = s.f.control<QLabel>("lbl_ReadyStatus");
    QCOMPARE(readyLabel->text(), QStringLiteral("System Idle"));
    QVERIFY(readyLabel->isVisible());
    QVERIFY(!s.f.control<QProgressBar>("pb_ReadyStatus")->isVisible());
    QCOMPARE(s.f.control<QProgressBar>("pb_BatchStatus")->value(), 7);
    QVERIFY(s.f.control<QProgressBar>("pb_BatchStatus")->isVisible());

    // The end of a run asks again: a deleted batch is not deleted twice.
    s.form().Delete_Batch(s.form().sBatchId);
    QCOMPARE(s.deletes().size(), 1);
}

void tst_Dispatch::emptyPrintTypeIsReloadedWithTheBatchId()
{
    Station s;
    const QString batchUrl = kRequestUrl + "&bid=B8";
    s.f.browser.server = [&](const QString &url) {
        return url == batchUrl ? page("B8", QStringLiteral("SAMPLES")) : page("B8", QString());
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.f.browser.navigations, (QStringList{kRequestUrl, batchUrl}));
    QCOMPARE(s.f.browser.printedUrls, QStringList{batchUrl});
    QCOMPARE(s.deletes().size(), 1);
}

void tst_Dispatch::pageSequenceWithoutFinalPageFailsAtTheEleventhLoad()
{
    Station s;
    s.f.browser.server = [](const QString &) { return page("B9", std::nullopt); };

    QVERIFY_THROWS_EXCEPTION(ShutdownRequested, s.form().Wait_And_Print(kRequestUrl));

    QCOMPARE(s.f.browser.navigations.size(), 11);
    QCOMPARE(s.f.browser.navigations.last(), kRequestUrl + "&bid=B9");
    QCOMPARE(s.f.messages.shown, QStringList{kFailedRequestMessage});
    QVERIFY(s.form().isUnloaded());
    QVERIFY(s.f.browser.printedUrls.isEmpty());
    QVERIFY(s.deletes().isEmpty());
}

void tst_Dispatch::pageThatNeverLoadsTimesOut()
{
    Station s;
    s.f.settings.pageLoadTimeoutSeconds = 30;
    s.f.create();
    s.f.load();
    FakePage stuck = page("B1", QStringLiteral("SAMPLES"));
    stuck.completes = false;
    s.f.browser.server = [stuck](const QString &) { return stuck; };
    const QDateTime start = s.f.clock.now();

    QVERIFY_THROWS_EXCEPTION(ShutdownRequested, s.form().Wait_And_Print(kRequestUrl));

    const qint64 waited = start.secsTo(s.f.clock.now());
    QVERIFY2(waited >= 30 && waited <= 31, qPrintable(QString::number(waited)));
    QCOMPARE(s.f.messages.shown, QStringList{kFailedRequestMessage});
    QVERIFY(s.form().isUnloaded());
    // The wait slept in the event loop instead of spinning.
    QCOMPARE(s.f.events.doEventsCalls, 0);
    QVERIFY(s.f.events.waitEventsCalls <= 30 * 4 + 1);
}

void tst_Dispatch::unreachableServerIsReloadedAfterGrowingPauses_data()
{
    // Per navigation: "U" the server is not reached, "E" a page without a print type, "."
    // the server's page for the URL (no batch id: the cover of B9; "&pt=SAMPLES&bid=": the
    // samples page; "&bid=" with an id: the report page).
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("pauseCap");          // [ReportServer] RetryPauseCap; 0: the default
    QTest::addColumn<QStringList>("requests");  // every navigation, after the request URL
    QTest::addColumn<QList<int>>("pauses");     // whole seconds from one navigation to the next
    QTest::addColumn<QStringList>("printed");   // print types handed to the printer
    QTest::addColumn<bool>("fails");

    QTest::newRow("server away: pauses grow to 20 s, the eleventh load fails")
        << QStringList(11, "U") << 0 << QStringList{""} + QStringList(10, "&bid=")
        << QList<int>{1, 2, 4, 8, 16, 20, 20, 20, 20, 20} << QStringList() << true;
    QTest::newRow("pages in between are reloaded at once and start the pauses anew")
        << QStringList{"U", "U", "U", "E", "U", "U", "."} << 0
        << QStringList{"", "&bid=", "&bid=", "&bid=", "&bid=B9", "&bid=B9", "&bid=B9"}
        << QList<int>{1, 2, 4, 0, 1, 2} << QStringList{"REPORT"} << false;
    QTest::newRow("server away after the cover: its batch goes on, no second cover")
        << QStringList{".", ".", "U", "U", "."} << 0
        << QStringList{"", "&bid=B9", "&pt=SAMPLES&bid=B9", "&bid=B9", "&bid=B9"} << QList<int>{0, 0, 1, 2}
        << QStringList{"COVER", "REPORT"} << false;
    QTest::newRow("pauses capped by the setting, then the client's first page")
        << QStringList{"U", "U", "U", "U", "U", ".", ".", "."} << 3
        << QStringList{""} + QStringList(5, "&bid=") + QStringList{"&bid=B9", "&pt=SAMPLES&bid=B9"}
        << QList<int>{1, 2, 3, 3, 3, 0, 0} << QStringList{"COVER", "SAMPLES"} << false;
}

void tst_Dispatch::unreachableServerIsReloadedAfterGrowingPauses()
{
    QFETCH(QStringList, answers);
    QFETCH(int, pauseCap);
    QFETCH(QStringList, requests);
    QFETCH(QList<int>, pauses);
    QFETCH(QStringList, printed);
    QFETCH(bool, fails);

    Station s;
    if (pauseCap > 0) {
        s.f.settings.retryPauseCapSeconds = pauseCap;
        s.f.create();
        s.f.load();
    }
    QList<qint64> navigatedAtMs;
    s.f.browser.server = [&](const QString &url) {
        navigatedAtMs << s.f.clock.steadyMilliseconds();
        const QString answer = answers.value(navigatedAtMs.size() - 1);
        FakePage answered = page("B9", std::nullopt, 0);
        if (answer == "U") {
            answered = page("", std::nullopt, 0);
            answered.elements.clear();
            answered.unreachable = QStringLiteral("connection refused");
        } else if (answer == ".") {
            const QString suffix = url.mid(kRequestUrl.size());
            const QString type = suffix.isEmpty() || suffix == "&bid=" ? "COVER"
                : suffix.startsWith("&pt=SAMPLES")                     ? "SAMPLES"
                                                                       : "REPORT";
            answered = page("B9", type, 0);
        }
        return answered;
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));
    for (int pause : std::as_const(pauses)) {
        if (pause > 0)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("report server not reachable (connection "
                                                                         "refused); next load in %1 s")
                                                              .arg(pause)));
    }

    if (fails)
        QVERIFY_THROWS_EXCEPTION(ShutdownRequested, s.form().Wait_And_Print(kRequestUrl));
    else
        s.form().Wait_And_Print(kRequestUrl);

    QStringList sent;
    for (const QString &url : std::as_const(s.f.browser.navigations))
        sent << url.mid(kRequestUrl.size());
    QCOMPARE(sent, requests);
    QList<int> slept;
    for (qsizetype i = 1; i < navigatedAtMs.size(); ++i)
        slept << int((navigatedAtMs.at(i) - navigatedAtMs.at(i - 1)) / 1000);
    QCOMPARE(slept, pauses);
    QStringList types;
    for (const PrintPage &page : std::as_const(s.f.browser.submitted))
        types << page.printType;
    QCOMPARE(types, printed);
    QCOMPARE(s.f.messages.shown, fails ? QStringList{kFailedRequestMessage} : QStringList());
    QCOMPARE(s.deletes().size(), fails ? 0 : 1);
}

void tst_Dispatch::windowClosedDuringAWaitAbandonsTheRequestSilently_data()
{
    QTest::addColumn<int>("eventsUntilLoaded");
    QTest::addColumn<int>("closeAtCall");
    QTest::addColumn<int>("printedPages");
    QTest::addColumn<bool>("serverUnreachable");
    QTest::newRow("during the page wait") << 5 << 1 << 0 << false;
    // The page is there at once; the second event processing is the print wait's.
    QTest::newRow("during the print wait") << 0 << 2 << 1 << false;
    // The error page is there at once; the second event processing is the pause's.
    QTest::newRow("during the pause before reloading") << 0 << 2 << 0 << true;
}

void tst_Dispatch::windowClosedDuringAWaitAbandonsTheRequestSilently()
{
    QFETCH(int, eventsUntilLoaded);
    QFETCH(int, closeAtCall);
    QFETCH(int, printedPages);
    QFETCH(bool, serverUnreachable);

    Station s;
    s.f.browser.server = [&](const QString &) {
        FakePage answer = page("B1", QStringLiteral("SAMPLES"), eventsUntilLoaded);
        if (serverUnreachable) {
            answer.elements.clear();
            answer.unreachable = QStringLiteral("connection refused");
        }
        return answer;
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("10"));
    s.f.events.script = [&](int call) {
        if (call == closeAtCall)
            s.form().close();
    };

    QVERIFY_THROWS_EXCEPTION(ShutdownRequested, s.form().Wait_And_Print(kRequestUrl));

    QVERIFY(s.f.messages.shown.isEmpty());
    QCOMPARE(s.f.browser.printedUrls.size(), printedPages);
    QVERIFY(s.deletes().isEmpty());
    QVERIFY(!s.form().bBatchDeleted);
    QCOMPARE(s.f.browser.navigations.size(), 1);
}

void tst_Dispatch::pauseIsFourTenthsOfASecondPerReport_data()
{
    QTest::addColumn<QString>("reports");
    QTest::addColumn<int>("seconds");
    QTest::newRow("1") << "1" << 0;
    QTest::newRow("3") << "3" << 1;
    QTest::newRow("4") << "4" << 2;
    QTest::newRow("10") << "10" << 4;
    QTest::newRow("not a number") << "many" << 0;
}

void tst_Dispatch::pauseIsFourTenthsOfASecondPerReport()
{
    QFETCH(QString, reports);
    QFETCH(int, seconds);

    Station s;
    s.f.browser.server = [](const QString &) { return page("B1", QStringLiteral("SAMPLES"), 0); };
    s.f.control<QCheckBox>("chk_Print")->setChecked(false); // no print wait in the measurement
    s.form().lblStatsValue[4]->setText(reports);
    const QDateTime start = s.f.clock.now();

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(start.secsTo(s.f.clock.now()), qint64(seconds));
    QCOMPARE(s.f.events.sleptMilliseconds, qint64(seconds) * 1000);
}

void tst_Dispatch::printSwitchOffPrintsAndDeletesNothing()
{
    Station s;
    s.f.browser.server = [](const QString &url) {
        const bool samples = url.contains("&pt=SAMPLES");
        return page("B1", samples ? QStringLiteral("SAMPLES") : QStringLiteral("COVER"));
    };
    s.f.control<QCheckBox>("chk_Print")->setChecked(false);
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.f.browser.navigations.size(), 3);
    QVERIFY(s.f.browser.printedUrls.isEmpty());
    QVERIFY(s.deletes().isEmpty());
    QVERIFY(!s.form().bBatchDeleted);
    QCOMPARE(s.f.control<QLabel>("lbl_ReadyStatus")->text(), QStringLiteral("System Idle"));
}

void tst_Dispatch::failedPrintKeepsTheBatch_data()
{
    QTest::addColumn<bool>("coverFails");
    QTest::addColumn<bool>("samplesFails");
    // A request whose cover did not print stops there: the next run prints it whole,
    // and a samples page printed now would be printed twice.
    QTest::addColumn<int>("pagesRendered");
    QTest::newRow("printer fails throughout") << true << true << 1;
    QTest::newRow("only the cover page fails") << true << false << 1;
    QTest::newRow("only the samples page fails") << false << true << 2;
}

void tst_Dispatch::failedPrintKeepsTheBatch()
{
    QFETCH(bool, coverFails);
    QFETCH(bool, samplesFails);
    QFETCH(int, pagesRendered);

    Station s;
    s.f.browser.printSucceeds = !coverFails;
    s.f.browser.server = [&](const QString &url) {
        if (url.contains("&pt=SAMPLES")) {
            s.f.browser.printSucceeds = !samplesFails;
            return page("B5", QStringLiteral("SAMPLES"));
        }
        return page("B5", QStringLiteral("COVER"));
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("3"));
    const QDateTime start = s.f.clock.now();

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.f.browser.printedUrls.size(), pagesRendered);
    QVERIFY(s.deletes().isEmpty());
    QVERIFY(!s.form().bBatchDeleted);
    QCOMPARE(s.form().printedBatchId(), QString());
    QCOMPARE(s.form().sBatchId, QStringLiteral("B5"));
    // The request went on as usual: idle display and the pause.
    QCOMPARE(s.f.control<QLabel>("lbl_ReadyStatus")->text(), QStringLiteral("System Idle"));
    QVERIFY(start.secsTo(s.f.clock.now()) >= 1);

    // The end of the run deletes an undeleted batch: not this one.
    s.form().Delete_Batch(s.form().sBatchId);
    QVERIFY(s.deletes().isEmpty());
    QVERIFY(!s.form().bBatchDeleted);
}

// No distribution without its record: a register that cannot be written (here its folder
// cannot be made) leaves the printed page counted as not printed, and says why.
void tst_Dispatch::pageNotOnRecordKeepsTheBatch()
{
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("file"));
    QFile(notAFolder).open(QIODevice::WriteOnly);
    RegisterSettings where;
    where.file = notAFolder + QStringLiteral("/register.sqlite");
    ThreadedRegister reg(where);
    Station s(&reg);
    // The register answers from its thread; each fake event processing lets it.
    s.f.events.addTicker([&] { (void)QTest::qWaitFor([&] { return reg.idle(); }, 10000); });
    s.serveFinalPages(QStringLiteral("B9"));
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.f.browser.printedUrls.size(), 1);
    QVERIFY(s.deletes().isEmpty());
    const QString shown = s.f.control<QLabel>("lbl_StationTrouble")->toolTip();
    QVERIFY2(shown.startsWith(QStringLiteral("The register %1 cannot be written: ").arg(where.file)), qPrintable(shown));
}

void tst_Dispatch::deletionIsRecordedAsWhatHappened_data()
{
    QTest::addColumn<QString>("answer"); // what the LIMS answers the deletion
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("detail");
    QTest::newRow("taken") << "ok" << "deleted" << "the LIMS took the deletion";
    QTest::newRow("refused by the procedure")
        << "error" << "pending" << "the deletion failed: error -2147467259: Batch 70001 is locked";
    QTest::newRow("no answer") << "timeout" << "pending"
                               << "the deletion failed: no answer within the time-out, 5 attempts";
}

// The batch row says whether the LIMS took the deletion, not merely that it was sent: a
// batch whose deletion failed is still in the LIMS.
void tst_Dispatch::deletionIsRecordedAsWhatHappened()
{
    QFETCH(QString, answer);
    QFETCH(QString, outcome);
    QFETCH(QString, detail);
    QTemporaryDir dir;
    RegisterSettings where;
    where.file = dir.filePath(QStringLiteral("register.sqlite"));
    ThreadedRegister reg(where);
    Station s(&reg);
    s.f.events.addTicker([&] { (void)QTest::qWaitFor([&] { return reg.idle(); }, 10000); });
    if (answer == QLatin1String("error"))
        s.deletion = ScriptedDbConnection::error(QStringLiteral("Batch 70001 is locked"));
    else if (answer == QLatin1String("timeout"))
        s.deletion = ScriptedDbConnection::timeout();
    s.serveFinalPages(QStringLiteral("70001"));
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);
    QVERIFY(QTest::qWaitFor([&] { return reg.idle(); }, 10000));

    DistributionRegister read(where);
    QString error;
    QVERIFY2(read.open(DistributionRegister::Mode::Read, &error), qPrintable(error));
    const std::optional<RegisterRow> last = read.row(read.summary().rows, &error);
    QVERIFY2(last, qPrintable(error));
    QCOMPARE(last->batchId, QStringLiteral("70001"));
    QCOMPARE(last->outcome, outcome);
    QCOMPARE(last->detail, detail);
    QVERIFY(!s.deletes().isEmpty());
}

void tst_Dispatch::samplesPageLoadsWhileTheCoverJobPrints()
{
    Station s;
    const QString samplesUrl = kRequestUrl + "&pt=SAMPLES&bid=B3";
    QVector<PrintSpooler::JobState> coverJobWhenSamplesRequested;
    s.f.browser.server = [&](const QString &url) {
        if (url != samplesUrl)
            return page("B3", QStringLiteral("COVER"));
        coverJobWhenSamplesRequested << s.f.browser.report(1).state;
        return page("B3", QStringLiteral("SAMPLES"));
    };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(coverJobWhenSamplesRequested, QVector<PrintSpooler::JobState>{PrintSpooler::JobState::Queued});
    QCOMPARE(s.f.browser.submitted.size(), 2);
    QCOMPARE(s.f.browser.submitted.at(0).printType, QStringLiteral("COVER"));
    QCOMPARE(s.deletes().size(), 1);
}

void tst_Dispatch::printerTroubleIsShownUntilPagesPrintAgain()
{
    Station s;
    s.f.browser.server = [](const QString &) { return page("B4", QStringLiteral("SAMPLES")); };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));
    auto *trouble = s.f.control<QLabel>("lbl_PrinterTrouble");
    QCOMPARE(trouble->text(), QString());

    s.f.browser.printSucceeds = false;
    s.form().Wait_And_Print(kRequestUrl);
    QCOMPARE(trouble->text(), QStringLiteral("printer failed"));
    QVERIFY(s.deletes().isEmpty());

    s.f.browser.printSucceeds = true;
    s.form().Wait_And_Print(kRequestUrl);
    QCOMPARE(trouble->text(), QString());
    QCOMPARE(s.deletes().size(), 1);
}

void tst_Dispatch::deleteStatementTakesTheBatchIdFromThePage_data()
{
    QTest::addColumn<QString>("batchId");
    QTest::addColumn<QString>("statement");
    QTest::newRow("blanks around") << "  B 12  " << "exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = 'B 12'";
    QTest::newRow("quote inside") << "B'12" << "exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = 'B''12'";
}

void tst_Dispatch::deleteStatementTakesTheBatchIdFromThePage()
{
    QFETCH(QString, batchId);
    QFETCH(QString, statement);

    Station s;
    s.f.browser.server = [&](const QString &) { return page(batchId, QStringLiteral("SAMPLES")); };
    s.form().lblStatsValue[4]->setText(QStringLiteral("1"));

    s.form().Wait_And_Print(kRequestUrl);

    QCOMPARE(s.form().sBatchId, batchId);
    QCOMPARE(s.deletes(), QStringList{statement});
}

QTEST_MAIN(tst_Dispatch)
#include "tst_dispatch.moc"
