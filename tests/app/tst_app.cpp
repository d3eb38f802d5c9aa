// The main window, the service run and the schedule, driven through the window's
// controls with a scripted LIMS, a fake browser and a fake clock.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/ServiceText.h"
#include "common/StationFixture.h"
#include "platform/desktop/Controls.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Failure.h"
#include "platform/desktop/ShapeLamp.h"
#include "register/ThreadedRegister.h"
#include "tests/app/MiniLims.h"

namespace {

// A window after a successful login: controls unlocked, "1 Minute" chosen, list loaded.
struct Station
{
    explicit Station(int clients = 0, qint64 samples = 2, ThreadedRegister *distributionRegister = nullptr,
        bool printIncompletePages = false)
    {
        lims.addClients(clients, samples);
        f.distributionRegister = distributionRegister;
        f.settings.printIncompletePages = printIncompletePages;
        // The register answers from its thread; each fake event processing lets it.
        if (distributionRegister)
            f.events.addTicker([distributionRegister] {
                (void)QTest::qWaitFor([&] { return distributionRegister->idle(); }, 10000);
            });
        f.scripted->responder = [this](const QString &sql) { return lims.answer(sql); };
        f.browser.server = &MiniLims::page;
        f.clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 0, 0)));
        f.load();
        Form_HardCopy &w = *f.form;
        w.sLabCode = QStringLiteral("QVLAB");
        w.sEmpNum = QStringLiteral("42");
        for (const char *name : {"cmd_Automation", "cmd_Printer", "cmd_View", "DataGrid1", "cbo_Freq_HardCopy",
                                 "opt_FilterRating_0", "opt_FilterRating_1", "opt_FilterRating_2", "opt_FilterRating_3"})
            f.control<QWidget>(name)->setEnabled(true);
        f.timer.setEnabled(false); // the first tick after start-up switched it off
        chooseFrequency(0);
        option(3)->setChecked(true);
        w.Load_WorkList(QStringLiteral("CUSTOM"));
    }

    Form_HardCopy &w() { return *f.form; }
    QPushButton *automation() { return f.control<QPushButton>("cmd_Automation"); }
    QPushButton *restart() { return f.control<QPushButton>("cmd_ManualRestart"); }
    QLabel *status() { return f.control<QLabel>("lbl_ServDesc"); }
    QColor lamp() { return f.control<ShapeLamp>("shp_runMode")->fillColor(); }
    QRadioButton *option(int i) { return f.control<QRadioButton>(qPrintable(QStringLiteral("opt_FilterRating_%1").arg(i))); }
    QString statistic(int i) { return w().lblStatsValue[size_t(i)]->text(); }
    bool gridEnabled() { return f.control<DataGrid>("DataGrid1")->isEnabled(); }
    void chooseFrequency(int index)
    {
        auto *list = f.control<QComboBox>("cbo_Freq_HardCopy");
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    void clickStartStop() { QTest::mouseClick(automation(), Qt::LeftButton); }

    StationFixture f;
    MiniLims lims;
};

} // namespace

class tst_App : public QObject
{
    Q_OBJECT

private slots:
    // Start-up, exit and preview
    void startupShowsTheStoppedLook();
    void windowReachesAccessibilityToolsAsANamedWindow();
    void startupOpensTheConnectionWithItsTimeOuts();
    void failedStartupConnectionReachesTheCaller();
    void statisticsValuesStartAtTheRightEdgeOfTheirCaptions();
    void previewToggleRoundTrip();
    void emptyPreviewTagShowsThePreview();
    void exitClosesWithoutTouchingTheDatabase();
    void unhandledFailureIsShownAndTheStationKeepsRunning();

    // Service run
    void emptyListEndsTheRunAtOnceInWaitMode();
    void runPrintsEveryClientThenWaits();
    void stopDuringPageLoadFinishesTheClient();
    void stopInWaitModeDisablesTheServices();
    void closingTheWindowDuringARunEndsItSafely();
    void otherHolderIsAskedAtMostOncePerSecond();
    void otherHolderIsTakenOverAfterTheDelay();
    void servicesLooksIgnoreOtherNames_data();
    void servicesLooksIgnoreOtherNames();
    void tenMinutesSetsTheNextRunAndLeavesTheTimerFlag();
    void noMatchingOptionTagUsesTheFirstOption();
    void clientWithoutReportsDoesNotEndTheRun();
    void passWithoutDispatchDoesNotCountTheLastClientAgain();
    void largeWorkListDoesNotOverflowTheCounts();
    void failedReloadAtAScheduledStartWaitsForTheNextCycle();

    // Schedule
    void countdownStartsTheNextRunAfterTheChosenMinutes();
    void nextRunComesAMinuteAfterTheLastWhateverTheWallClock_data();
    void nextRunComesAMinuteAfterTheLastWhateverTheWallClock();
    void newFrequencyRestartsTheCountdown();
    void onceOnlyWhileStoppedRunsOnceThenStops();
    void onceOnlyDuringTheCountdownStops();
    void onceOnlyDuringARunStopsAfterTheCurrentClient();
    void tickWhileStoppedSwitchesTheTimerOff();
    void manualRestartRunsAtOnceWithAFreshList();
    void printedBatchIsDeletedBeforeItsClientIsAskedAgain_data();
    void printedBatchIsDeletedBeforeItsClientIsAskedAgain();
    void pageWithAPartMissingIsNotPrinted_data();
    void pageWithAPartMissingIsNotPrinted();
    void registerThatCannotBeReadHoldsEveryClient();
    void browserThatCannotRenderEndsTheStation_data();
    void browserThatCannotRenderEndsTheStation();
    void frequencyMinutesParsesTheItems_data();
    void frequencyMinutesParsesTheItems();
};

void tst_App::startupShowsTheStoppedLook()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvik HardCopy Distribution System"));
    QCOMPARE(f.control<QLabel>("lbl_ServDesc")->text(), QStringLiteral("Hardcopy services disabled"));
    QCOMPARE(f.control<QPushButton>("cmd_Automation")->text(), QStringLiteral("Start Services"));
    QVERIFY(!f.control<QPushButton>("cmd_Automation")->isEnabled());
    QCOMPARE(f.control<ShapeLamp>("shp_runMode")->fillColor(), QColor(255, 0, 0));
    QCOMPARE(f.control<QLabel>("lbl_ReadyStatus")->text(), QStringLiteral("Browser is idle"));
    QCOMPARE(f.control<QLabel>("lbl_BatchStatus")->text(), QStringLiteral("Not active"));
    QCOMPARE(w.sServiceState, QStringLiteral("IDLE"));
    for (const char *name : {"cmd_Printer", "cmd_View", "cbo_Freq_HardCopy", "opt_FilterRating_0", "opt_FilterRating_3"})
        QVERIFY2(!f.control<QWidget>(name)->isEnabled(), name);
    QVERIFY(f.control<QPushButton>("cmd_Access")->isEnabled());
    QVERIFY(f.control<QPushButton>("cmd_ManualRestart")->isHidden());
    QVERIFY(f.control<QPushButton>("cmdGo")->isHidden());
    QCOMPARE(f.control<QComboBox>("cbo_Freq_HardCopy")->count(), 7);
    QCOMPARE(f.control<QComboBox>("cbo_Freq_HardCopy")->currentIndex(), -1);
    // Preview hidden: the window ends where the browser begins.
    QCOMPARE(f.control<QPushButton>("cmd_View")->text(), QStringLiteral("Preview >>"));
    QCOMPARE(w.width(), f.control<QWidget>("WebBrowser1")->x());
    QCOMPARE(w.width(), 6540 / 15);
    // Timer1 starts enabled; its first tick while stopped switches it off.
    QVERIFY(f.timer.enabled());
    QCOMPARE(f.timer.interval(), 210);
    QVERIFY(f.timer.fire());
    QVERIFY(!f.timer.enabled());
}

void tst_App::windowReachesAccessibilityToolsAsANamedWindow()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&w);
    QVERIFY(window);
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Quorvik HardCopy Distribution System"));
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(f.control<QPushButton>("cmd_Automation"));
    QCOMPARE(button->role(), QAccessible::Button);
    QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Start Services"));
}

void tst_App::startupOpensTheConnectionWithItsTimeOuts()
{
    StationFixture f;
    f.load();
    QCOMPARE(f.scripted->settingsOrder,
             QStringList({QStringLiteral("CommandTimeout"), QStringLiteral("ConnectionTimeout"), QStringLiteral("CursorLocation")}));
    QCOMPARE(f.scripted->commandTimeout, 20);
    QCOMPARE(f.scripted->connectionTimeout, 300);
    QCOMPARE(f.scripted->cursorLocation, 3);
    QCOMPARE(f.scripted->openedWith,
             QStringList(QStringLiteral("Driver={SQL Server};SERVER=db.test,1433;UID=station;PWD=secret;Encryption=require;")));
    QCOMPARE(f.db->dbConnectString, f.scripted->openedWith.first());
    QVERIFY(f.scripted->executed.isEmpty());
}

void tst_App::failedStartupConnectionReachesTheCaller()
{
    StationFixture f;
    f.scripted->openFails = true;
    f.create();
    QVERIFY_THROWS_EXCEPTION(Failure, f.form->Form_Load());
}

void tst_App::statisticsValuesStartAtTheRightEdgeOfTheirCaptions()
{
    StationFixture f;
    f.create();
    f.form->lblStats[2]->resize(f.form->lblStats[2]->width() + 37, f.form->lblStats[2]->height());
    f.form->Form_Load();
    for (size_t i = 0; i < 5; ++i) {
        QCOMPARE(f.form->lblStatsValue[i]->y(), f.form->lblStats[i]->y());
        QCOMPARE(f.form->lblStatsValue[i]->x(), f.form->lblStats[i]->x() + f.form->lblStats[i]->width());
    }
}

void tst_App::previewToggleRoundTrip()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    auto *view = f.control<QPushButton>("cmd_View");
    view->setEnabled(true);
    const int hiddenWidth = w.width();
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(view->text(), QStringLiteral("<< Hide Preview"));
    QCOMPARE(tagOf(view), QStringLiteral("ON"));
    QCOMPARE(w.width(), 17310 / 15);
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(view->text(), QStringLiteral("Preview >>"));
    QCOMPARE(tagOf(view), QStringLiteral("OFF"));
    QCOMPARE(w.width(), hiddenWidth);
}

void tst_App::emptyPreviewTagShowsThePreview()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    auto *view = f.control<QPushButton>("cmd_View");
    setTag(view, QString());
    const int height = w.height();
    w.cmd_View_Click();
    QCOMPARE(tagOf(view), QStringLiteral("ON"));
    QCOMPARE(w.width(), 1154);
    QCOMPARE(w.height(), height);
}

void tst_App::exitClosesWithoutTouchingTheDatabase()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    QTest::mouseClick(f.control<QPushButton>("cmd_Exit"), Qt::LeftButton);
    QVERIFY(w.isUnloaded());
    QVERIFY(!w.isVisible());
    QCOMPARE(w.openWindowCount(), 0);
    QVERIFY(f.scripted->executed.isEmpty());
    QVERIFY(f.messages.shown.isEmpty());
}

void tst_App::unhandledFailureIsShownAndTheStationKeepsRunning()
{
    StationFixture f;
    Form_HardCopy &w = f.load();
    w.runEvent("Some_Click", [] { throw Failure::overflow(); });
    QCOMPARE(f.messages.shown.size(), 1);
    QVERIFY(f.messages.shown.first().contains(QStringLiteral("Overflow")));
    QVERIFY(!w.isUnloaded());
    QCOMPARE(w.openWindowCount(), 1);
}

void tst_App::emptyListEndsTheRunAtOnceInWaitMode()
{
    Station s(0);
    s.clickStartStop();
    QCOMPARE(s.automation()->text(), QStringLiteral("Stop Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
    QCOMPARE(s.w().sServiceState, QStringLiteral("IDLE"));
    QVERIFY(s.f.timer.enabled());
    QCOMPARE(s.f.timer.interval(), 1000);
    QCOMPARE(s.w().dtNextRun, s.f.clock.now().addSecs(60));
    QCOMPARE(s.lamp(), QColor(0, 255, 0));
    QVERIFY(!s.gridEnabled());
    QCOMPARE(s.statistic(1), QStringLiteral("00:00:00"));
    QCOMPARE(s.statistic(4), QStringLiteral("0"));
    QVERIFY(s.f.messages.shown.isEmpty());
}

void tst_App::runPrintsEveryClientThenWaits()
{
    Station s(3, 2);
    s.clickStartStop();
    QCOMPARE(s.lims.deletedBatches, QStringList({QStringLiteral("100"), QStringLiteral("101"), QStringLiteral("102")}));
    QCOMPARE(s.f.browser.printedUrls.size(), 6); // cover and samples page of each client
    QCOMPARE(s.w().iReportsDone, 6);
    QCOMPARE(s.statistic(0), QStringLiteral("6 reports"));
    QCOMPARE(s.statistic(2), QStringLiteral("6"));
    QCOMPARE(s.automation()->text(), QStringLiteral("Stop Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
    QVERIFY(s.w().sSkipContactId.isEmpty());
    QVERIFY(s.f.timer.enabled());
}

void tst_App::stopDuringPageLoadFinishesTheClient()
{
    Station s(3, 1);
    bool clicked = false;
    QString captionWhileStopping;
    QColor lampWhileStopping;
    s.f.events.script = [&](int) {
        if (!clicked && !s.f.browser.navigations.isEmpty()) {
            clicked = true;
            s.clickStartStop(); // nested stop request during the page wait
            captionWhileStopping = s.automation()->text();
            lampWhileStopping = s.lamp();
        }
    };
    s.clickStartStop();
    QVERIFY(clicked);
    QCOMPARE(captionWhileStopping, QStringLiteral("Stopping Services"));
    QCOMPARE(lampWhileStopping, QColor(255, 255, 0));
    QCOMPARE(s.lims.deletedBatches, QStringList(QStringLiteral("100")));
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services disabled"));
    QCOMPARE(s.lamp(), QColor(0, 255, 0));
    QVERIFY(s.gridEnabled());
    QVERIFY(!s.f.timer.enabled());
}

void tst_App::stopInWaitModeDisablesTheServices()
{
    Station s(0);
    s.clickStartStop();
    QCOMPARE(s.automation()->text(), QStringLiteral("Stop Services"));
    s.w().lblStatsValue[2]->setText(QStringLiteral("12"));
    s.w().sSkipContactId = QStringList(QStringLiteral("1"));
    s.w().sSkipRecDate = QStringList(QStringLiteral("3/1/2026"));
    s.clickStartStop();
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services disabled"));
    QCOMPARE(s.lamp(), QColor(255, 0, 0));
    QVERIFY(!s.f.timer.enabled());
    QCOMPARE(s.f.timer.interval(), 0);
    QVERIFY(!s.gridEnabled()); // left disabled as wait mode left it
    QCOMPARE(s.statistic(2), QString());
    QVERIFY(s.w().sSkipContactId.isEmpty());
    QVERIFY(s.restart()->isHidden());
}

void tst_App::closingTheWindowDuringARunEndsItSafely()
{
    Station s(3, 1);
    s.f.events.script = [&](int) {
        if (s.f.browser.navigations.size() == 1 && !s.w().isUnloaded())
            s.w().close();
    };
    s.clickStartStop();
    QVERIFY(s.w().isUnloaded());
    QVERIFY(s.lims.deletedBatches.isEmpty()); // nothing printed, nothing deleted
    QVERIFY(s.f.messages.shown.isEmpty());
    QCOMPARE(s.f.browser.navigations.size(), 1);
}

void tst_App::otherHolderIsAskedAtMostOncePerSecond()
{
    Station s(2, 1);
    s.lims.holder = QStringLiteral("AUTO_EXPORT");
    s.lims.lastUpdate = QStringLiteral("3/2/2026 09:59");
    QString statusWhileRefused;
    bool highlighted = false;
    bool barsHidden = false;
    const QDateTime start = s.f.clock.now();
    s.f.events.script = [&](int) {
        if (s.lims.boardQueries == 3 && statusWhileRefused.isEmpty()) {
            statusWhileRefused = s.status()->text();
            highlighted = labelIsOpaque(s.status()) && labelHasBorder(s.status())
                && labelBackground(s.status()) == QColor(255, 255, 0);
            barsHidden = s.f.control<QProgressBar>("pb_BatchStatus")->isHidden();
        }
        if (s.f.clock.now() >= start.addSecs(30) && s.automation()->text() == QStringLiteral("Stop Services"))
            s.clickStartStop();
    };
    s.clickStartStop();
    QCOMPARE(statusWhileRefused, QStringLiteral("LIMS Distribution running...  "));
    QVERIFY(highlighted);
    QVERIFY(barsHidden);
    QVERIFY2(s.lims.boardQueries <= 31, qPrintable(QString::number(s.lims.boardQueries)));
    QVERIFY(s.lims.boardQueries >= 25);
    QVERIFY(s.lims.deletedBatches.isEmpty());
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QVERIFY(!labelIsOpaque(s.status()));
}

void tst_App::otherHolderIsTakenOverAfterTheDelay()
{
    Station s(2, 1);
    s.lims.holder = QStringLiteral("AUTO_EXPORT");
    s.lims.lastUpdate = QStringLiteral("3/2/2026 09:50"); // 10 minutes old, delay 15
    s.clickStartStop();
    QCOMPARE(s.lims.holder, QStringLiteral("HARD_COPY"));
    QCOMPARE(s.lims.deletedBatches.size(), 2);
    QVERIFY(s.f.clock.now() >= QDateTime(QDate(2026, 3, 2), QTime(10, 5, 0)));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
}

void tst_App::servicesLooksIgnoreOtherNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("application name") << QStringLiteral("HARD_COPY");
    QTest::newRow("lower case") << QStringLiteral("hardcopy");
    QTest::newRow("empty") << QString();
}

void tst_App::servicesLooksIgnoreOtherNames()
{
    QFETCH(QString, name);
    Station s(0);
    s.f.timer.setEnabled(true);
    s.w().Show_Services_Running(name);
    s.w().Show_Services_Idle(name, true);
    s.w().Show_Services_Idle(name, false);
    s.w().Set_Refresh_Timer(name);
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services disabled"));
    QVERIFY(s.f.timer.enabled());
    QVERIFY(s.gridEnabled());
}

void tst_App::tenMinutesSetsTheNextRunAndLeavesTheTimerFlag()
{
    Station s(0);
    s.f.control<QComboBox>("cbo_Freq_HardCopy")->setCurrentIndex(3);
    s.f.timer.setInterval(0);
    s.w().Set_Refresh_Timer(QStringLiteral("HardCopy"));
    QCOMPARE(s.w().dtNextRun, s.f.clock.now().addSecs(600));
    QCOMPARE(s.f.timer.interval(), 1000);
    QVERIFY(!s.f.timer.enabled());
}

void tst_App::noMatchingOptionTagUsesTheFirstOption()
{
    Station s(1, 1);
    s.w().sRatingFilter = QStringLiteral("weird");
    s.w().Load_WorkList(QStringLiteral("weird"));
    s.clickStartStop();
    QVERIFY(s.option(0)->isChecked());
    QCOMPARE(s.lims.deletedBatches.size(), 1);
}

void tst_App::clientWithoutReportsDoesNotEndTheRun()
{
    Station s(0);
    s.lims.clients = {{100, QStringLiteral("Empty"), 0}, {101, QStringLiteral("Full"), 3}};
    s.w().Load_WorkList(QStringLiteral("CUSTOM"));
    s.clickStartStop();
    QCOMPARE(s.lims.deletedBatches, QStringList({QStringLiteral("100"), QStringLiteral("101")}));
    QCOMPARE(s.w().iReportsDone, 3);
    QCOMPARE(s.statistic(2), QStringLiteral("3"));
}

void tst_App::passWithoutDispatchDoesNotCountTheLastClientAgain()
{
    Station s(2, 2);
    s.clickStartStop();
    // The last pass reloads an empty list: it dispatches nothing and adds nothing.
    QCOMPARE(s.w().iReportsDone, 4);
}

void tst_App::largeWorkListDoesNotOverflowTheCounts()
{
    Station s(0);
    s.lims.clients = {{100, QStringLiteral("Big"), 30000}, {101, QStringLiteral("Bigger"), 20000}};
    s.f.browser.server = [](const QString &url) {
        FakePage page = MiniLims::page(url);
        return page;
    };
    s.w().Load_WorkList(QStringLiteral("CUSTOM"));
    QCOMPARE(s.statistic(0), QStringLiteral("50000 reports"));
    // The pause after printing is 0.4 s a report; the fake clock moves while the run sleeps.
    s.clickStartStop();
    QCOMPARE(s.lims.deletedBatches.size(), 2);
    QCOMPARE(s.w().iReportsDone, 50000);
}

void tst_App::failedReloadAtAScheduledStartWaitsForTheNextCycle()
{
    Station s(1, 1);
    s.chooseFrequency(0);
    s.clickStartStop();
    QCOMPARE(s.lims.deletedBatches.size(), 1);
    s.lims.addClients(1);
    s.lims.listFails = true;
    s.f.clock.advanceSeconds(61);
    QVERIFY(s.f.timer.fire()); // the countdown has run out: a scheduled run
    QCOMPARE(s.automation()->text(), QStringLiteral("Stop Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
    QVERIFY(s.f.timer.enabled());
    QCOMPARE(s.w().dtNextRun, s.f.clock.now().addSecs(60));
    QVERIFY(s.f.messages.shown.isEmpty());
    s.lims.listFails = false;
    s.f.clock.advanceSeconds(61);
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.lims.deletedBatches.size(), 2);
}

void tst_App::nextRunComesAMinuteAfterTheLastWhateverTheWallClock_data()
{
    QTest::addColumn<QDateTime>("runEnd");
    QTest::addColumn<qint64>("wallStep");
    const QDateTime ten(QDate(2026, 3, 2), QTime(10, 0, 0));
    // Ten seconds before each change, given in UTC: a local 01:59:50 on the autumn night
    // would be ambiguous.
    const auto newYork = [](const char *utc) {
        return QDateTime::fromString(QLatin1String(utc), Qt::ISODate).toTimeZone(QTimeZone("America/New_York"));
    };
    QTest::newRow("set back an hour") << ten << qint64(-3600);
    QTest::newRow("set forward an hour") << ten << qint64(3600);
    QTest::newRow("clocks go back") << newYork("2026-11-01T05:59:50Z") << qint64(0);
    QTest::newRow("clocks go forward") << newYork("2027-03-14T06:59:50Z") << qint64(0);
}

void tst_App::nextRunComesAMinuteAfterTheLastWhateverTheWallClock()
{
    QFETCH(QDateTime, runEnd);
    QFETCH(qint64, wallStep);
    Station s(0);
    s.f.clock.set(runEnd);
    s.clickStartStop(); // an empty list: the run ends at once, the next is due in a minute
    s.f.clock.advanceSeconds(20);
    s.f.clock.stepWall(wallStep);
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Services restart in.....40 sec(s)."));
    QCOMPARE(s.w().dtNextRun, s.f.clock.now().addSecs(40)); // the wall time it is due at now
    s.f.clock.advanceSeconds(41);
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
}

void tst_App::countdownStartsTheNextRunAfterTheChosenMinutes()
{
    Station s(0);
    s.chooseFrequency(2); // "5 Minutes"
    s.f.clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 0, 0)));
    s.clickStartStop(); // an empty list: the run ends at 10:00:00
    QCOMPARE(s.w().dtNextRun, QDateTime(QDate(2026, 3, 2), QTime(10, 5, 0)));
    s.f.clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 0, 1)));
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Services restart in.....299 sec(s)."));
    QVERIFY(!s.restart()->isHidden());
    s.f.clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 5, 0)));
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Services restart in.....0 sec(s)."));
    const int loadsBefore = s.f.scripted->executed.filter(QStringLiteral("tbl_Distrib_ActiveClients(")).size();
    s.f.clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 5, 1)));
    QVERIFY(s.f.timer.fire());
    QVERIFY(s.f.scripted->executed.filter(QStringLiteral("tbl_Distrib_ActiveClients(")).size() > loadsBefore);
    QCOMPARE(s.w().dtNextRun, QDateTime(QDate(2026, 3, 2), QTime(10, 10, 1)));
}

void tst_App::newFrequencyRestartsTheCountdown()
{
    Station s(0);
    s.clickStartStop();
    s.f.clock.advanceSeconds(20);
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Services restart in.....40 sec(s)."));
    s.chooseFrequency(1); // "2 Minutes"
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.status()->text(), QStringLiteral("Services restart in.....120 sec(s)."));
}

void tst_App::onceOnlyWhileStoppedRunsOnceThenStops()
{
    Station s(2, 1);
    s.chooseFrequency(6);
    QCOMPARE(s.lims.deletedBatches.size(), 2);
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services disabled"));
    QCOMPARE(s.lamp(), QColor(255, 0, 0));
    QVERIFY(!s.gridEnabled());
    QVERIFY(!s.f.timer.enabled());
    QVERIFY(s.f.browser.navigations.first().endsWith(QStringLiteral("&setFrequency=Once only&cb=Y")));
}

void tst_App::onceOnlyDuringTheCountdownStops()
{
    Station s(0);
    s.clickStartStop();
    QVERIFY(s.f.timer.fire());
    s.chooseFrequency(6);
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
    QCOMPARE(s.lamp(), QColor(255, 0, 0));
    QVERIFY(!s.f.timer.enabled());
    QVERIFY(s.restart()->isHidden());
}

void tst_App::onceOnlyDuringARunStopsAfterTheCurrentClient()
{
    Station s(3, 1);
    bool chosen = false;
    s.f.events.script = [&](int) {
        if (!chosen && !s.f.browser.navigations.isEmpty()) {
            chosen = true;
            s.chooseFrequency(6);
        }
    };
    s.clickStartStop();
    QCOMPARE(s.lims.deletedBatches.size(), 1);
    QCOMPARE(s.automation()->text(), QStringLiteral("Start Services"));
}

void tst_App::tickWhileStoppedSwitchesTheTimerOff()
{
    Station s(0);
    s.f.timer.setEnabled(true);
    s.f.timer.setInterval(1000);
    const QString status = s.status()->text();
    QVERIFY(s.f.timer.fire());
    QVERIFY(!s.f.timer.enabled());
    QCOMPARE(s.f.timer.interval(), 1000);
    QCOMPARE(s.status()->text(), status);
    QVERIFY(s.f.scripted->executed.filter(QStringLiteral("cinrg")).isEmpty());
}

void tst_App::manualRestartRunsAtOnceWithAFreshList()
{
    Station s(0);
    s.clickStartStop();
    QVERIFY(s.f.timer.fire());
    QVERIFY(!s.restart()->isHidden());
    s.lims.addClients(1, 1);
    QString statusDuringRun;
    s.f.events.script = [&](int) {
        if (statusDuringRun.isEmpty())
            statusDuringRun = s.status()->text();
    };
    QTest::mouseClick(s.restart(), Qt::LeftButton);
    QCOMPARE(statusDuringRun, QStringLiteral("Hardcopy services running"));
    QCOMPARE(s.lims.deletedBatches.size(), 1);
    QCOMPARE(s.status()->text(), QStringLiteral("Hardcopy services running in wait mode"));
    QVERIFY(s.restart()->isHidden());
}

void tst_App::printedBatchIsDeletedBeforeItsClientIsAskedAgain_data()
{
    QTest::addColumn<QString>("firstEnd"); // how the first attempt left the batch
    QTest::addColumn<bool>("restarted"); // the second attempt is the first run of a new start
    QTest::addColumn<int>("followed"); // jobs of the first start looked up in the print system
    QTest::addColumn<int>("printedAgain");
    QTest::newRow("deletion refused, next run") << "deletion refused" << false << 0 << 0;
    QTest::newRow("deletion refused, new start") << "deletion refused" << true << 0 << 0;
    QTest::newRow("ended while both jobs ran") << "ended after 2 pages" << true << 2 << 0;
    QTest::newRow("ended while the cover's job ran") << "ended after 1 page" << true << 1 << 2;
}

// A batch that printed stays on record until the LIMS takes its deletion: the deletion goes
// out before the next work list, and the client's reports are not printed a second time.
void tst_App::printedBatchIsDeletedBeforeItsClientIsAskedAgain()
{
    QFETCH(QString, firstEnd);
    QFETCH(bool, restarted);
    QFETCH(int, followed);
    QFETCH(int, printedAgain);
    QTemporaryDir dir;
    RegisterSettings where;
    where.file = dir.filePath(QStringLiteral("register.sqlite"));
    auto reg = std::make_unique<ThreadedRegister>(where);
    auto s = std::make_unique<Station>(1, 1, reg.get());
    const int endAfterPages = firstEnd.startsWith(QLatin1String("ended after ")) ? firstEnd.split(u' ')[2].toInt() : 0;
    s->lims.deletionsRefused = endAfterPages == 0 ? 1 : 0;
    s->f.browser.printHangs = endAfterPages > 0;
    int callsSinceSubmitted = 0;
    s->f.events.script = [&](int) {
        if (endAfterPages > 0 && s->f.browser.submitted.size() == endAfterPages && ++callsSinceSubmitted == 3)
            s->w().close(); // as SIGTERM ends the station: the jobs go on in the print system
    };
    s->clickStartStop();
    QCOMPARE(s->f.browser.submitted.size(), endAfterPages == 0 ? 2 : endAfterPages);
    QVERIFY(s->lims.deletedBatches.isEmpty());

    if (restarted) {
        s.reset();
        reg = std::make_unique<ThreadedRegister>(where);
        s = std::make_unique<Station>(1, 1, reg.get());
        s->lims.statements.clear();
        s->clickStartStop();
    } else {
        s->lims.statements.clear();
        s->f.clock.advanceSeconds(61);
        QVERIFY(s->f.timer.fire());
    }
    QCOMPARE(s->lims.deletedBatches, QStringList { QStringLiteral("100") });
    QCOMPARE(s->f.browser.followedJobs.size(), followed);
    QCOMPARE(s->f.browser.submitted.size() - (restarted ? 0 : 2), printedAgain);
    const QStringList &sent = s->lims.statements;
    const auto firstOf = [&](const char *text) {
        return std::find_if(sent.cbegin(), sent.cend(), [&](const QString &sql) { return sql.contains(QLatin1String(text)); });
    };
    if (printedAgain == 0)
        QVERIFY(firstOf("Distrib_ActiveSamples_DelBatch") < firstOf("tbl_Distrib_ActiveClients("));
    s.reset();
    reg.reset();
    DistributionRegister read(where);
    QString error;
    QVERIFY2(read.open(DistributionRegister::Mode::Read, &error), qPrintable(error));
    QVERIFY(read.verify().intact);
    qint64 checked = 0;
    QCOMPARE(read.damagedDocuments(&checked), QStringList());
}

void tst_App::pageWithAPartMissingIsNotPrinted_data()
{
    QTest::addColumn<QString>("printType"); // the page that comes without a part
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("allowed"); // [ReportServer] PrintIncompletePages
    QTest::addColumn<int>("submitted"); // pages printed by the first run
    const QString refused = QStringLiteral("image refused: http://cdn.lab/logo.png is of another origin than the "
                                           "report server (http://reports:80)");
    QTest::newRow("cover's image refused") << "COVER" << refused << false << 0;
    QTest::newRow("samples page's image not loaded") << "SAMPLES" << "image did not load: http://reports/sig.png"
                                                     << false << 1;
    QTest::newRow("printed all the same") << "COVER" << refused << true << 2;
}

// A page that comes without its logo, chart or signature looks complete on paper: it is
// not printed, its batch stays due and the window names the part; the next run prints it
// whole. Allowed by the settings, it is printed and its rows say what it went without.
void tst_App::pageWithAPartMissingIsNotPrinted()
{
    QFETCH(QString, printType);
    QFETCH(QString, part);
    QFETCH(bool, allowed);
    QFETCH(int, submitted);
    QTemporaryDir dir;
    RegisterSettings where;
    where.file = dir.filePath(QStringLiteral("register.sqlite"));
    auto reg = std::make_unique<ThreadedRegister>(where);
    auto s = std::make_unique<Station>(1, 1, reg.get(), allowed);
    bool partMissing = true;
    s->f.browser.server = [&](const QString &url) {
        FakePage page = MiniLims::page(url);
        if (partMissing && page.elements.value(QStringLiteral("PrintType")) == printType)
            page.missingParts = QStringList { part, QStringLiteral("script refused: http://cdn.lab/x.js") };
        return page;
    };
    s->clickStartStop();
    QCOMPARE(s->f.browser.submitted.size(), submitted);
    QCOMPARE(s->lims.deletedBatches.size(), allowed ? 1 : 0);
    const QString trouble = s->f.control<QLabel>("lbl_StationTrouble")->toolTip();
    QCOMPARE(trouble, allowed ? QString() : QStringLiteral("A report page is not printed: ") + part);

    partMissing = false;
    s->f.clock.advanceSeconds(61);
    QVERIFY(s->f.timer.fire());
    QCOMPARE(s->lims.deletedBatches.size(), 1);
    QCOMPARE(s->f.control<QLabel>("lbl_StationTrouble")->toolTip(), QString());

    s.reset(); // the window lets go of the register first
    reg.reset();
    DistributionRegister read(where);
    QString error;
    QVERIFY2(read.open(DistributionRegister::Mode::Read, &error), qPrintable(error));
    QStringList details;
    for (qint64 seq = 1; const std::optional<RegisterRow> row = read.row(seq, &error); ++seq)
        details << row->kind + QLatin1Char(' ') + row->printType + QLatin1Char(' ') + row->detail;
    const QString partsWords = part + QStringLiteral("; script refused: http://cdn.lab/x.js");
    const QString expected = allowed ? QStringLiteral("page COVER printed with parts missing: ") + partsWords
                                     : QStringLiteral("batch  a page was not printed: %1: a part of the page is "
                                                      "missing: %2").arg(printType, part);
    QVERIFY2(details.contains(expected), qPrintable(details.join(QLatin1Char('\n'))));
}

// Pages printed while the register cannot be opened (its disk full or failing) could not
// be recorded, and would all be printed again once it can: no client is requested until
// the register answers.
void tst_App::registerThatCannotBeReadHoldsEveryClient()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state"));
    QFile blocker(folder); // a file where the register's folder should be
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RegisterSettings where;
    where.file = folder + QStringLiteral("/register.sqlite");
    ThreadedRegister reg(where);
    Station s(2, 1, &reg);
    s.clickStartStop();
    QCOMPARE(s.f.browser.submitted.size(), 0);
    QVERIFY(s.f.browser.navigations.isEmpty());

    QVERIFY(QFile::remove(folder) && QDir().mkpath(folder));
    s.f.clock.advanceSeconds(61);
    QVERIFY(s.f.timer.fire());
    QCOMPARE(s.f.browser.submitted.size(), 4);
    QCOMPARE(s.lims.deletedBatches.size(), 2);
}

void tst_App::browserThatCannotRenderEndsTheStation_data()
{
    QTest::addColumn<int>("failedRenders");
    QTest::addColumn<QString>("endReason"); // "exit": the station is still running
    QTest::addColumn<int>("deleted");
    QTest::newRow("two pages in a row") << 2 << "exit" << 1; // the first two clients' batches are kept
    QTest::newRow("three pages in a row") << 3 << "browser" << 0;
}

// Pages that fail to render one after another (a renderer lost for good) would keep every
// client due while the station looks in service: it ends so that its unit starts it anew.
void tst_App::browserThatCannotRenderEndsTheStation()
{
    QFETCH(int, failedRenders);
    QFETCH(QString, endReason);
    QFETCH(int, deleted);
    Station s(3, 1);
    s.f.browser.rendersToFail = failedRenders;
    s.clickStartStop();
    QCOMPARE(s.w().endReason(), endReason);
    QCOMPARE(s.lims.deletedBatches.size(), deleted);
}

void tst_App::frequencyMinutesParsesTheItems_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("minutes");
    QTest::newRow("1") << QStringLiteral("1 Minute") << 1;
    QTest::newRow("10") << QStringLiteral("10 Minutes") << 10;
    QTest::newRow("20") << QStringLiteral("20 Minutes") << 20;
    QTest::newRow("no number") << QStringLiteral("Minutes") << -1;
    QTest::newRow("no minute word") << QStringLiteral("5 minutes") << -1;
    QTest::newRow("empty") << QString() << -1;
}

void tst_App::frequencyMinutesParsesTheItems()
{
    QFETCH(QString, item);
    QFETCH(int, minutes);
    QCOMPARE(frequencyMinutes(item), minutes);
}

QTEST_MAIN(tst_App)
#include "tst_app.moc"
