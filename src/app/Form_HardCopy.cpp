#include "app/Form_HardCopy.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/database/ConnectionText.h"
#include "app/WindowAccessibility.h"
#include "db/dbModule.h"
#include "dispatch/EarlierPrinting.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Controls.h"
#include "platform/desktop/EventProcessor.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/desktop/Timer.h"
#include "platform/browser/WebBrowser.h"
#include "ui_Form_HardCopy.h"

namespace {

constexpr int kTimerDesignInterval = 210;
constexpr int kExitCodeFailedRequest = 2;
// The waits sleep in the event loop for at most this long, so that their progress display,
// their deadline and what they watch are looked at a few times a second.
constexpr int kWaitSliceMs = 250;

} // namespace

Form_HardCopy::Form_HardCopy(const StationSeams &seams, dbModule &db, const StationSettings &settings,
                             QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Form_HardCopy)
    , m_seams(seams)
    , m_db(db)
    , m_settings(settings)
{
    presentStationWindowAsWindow();
    ui->setupUi(this);
    collectControlArrays();
    placeBrowser();
    connectHandlers();
    // Timer1 as designed: enabled with 210 ms; its first tick while stopped switches it off.
    m_seams.timer->setTickHandler([this] { runEvent("Timer1_Timer", [this] { Timer1_Timer(); }); });
    m_seams.timer->setInterval(kTimerDesignInterval);
    m_seams.timer->setEnabled(true);
    // The LIMS link's trouble has a line of its own, as the printer's has.
    m_db.setClock(m_seams.clock);
    m_db.link().setObserver([this] { showDatabaseTrouble(); });
    watchRegister(true);
    watchSpooler(true);
}

Form_HardCopy::~Form_HardCopy()
{
    m_seams.timer->setEnabled(false);
    m_seams.timer->setTickHandler({});
    m_db.link().setObserver({});
    watchRegister(false);
    watchSpooler(false);
    delete ui;
}

void Form_HardCopy::showDatabaseTrouble()
{
    const QDateTime now = m_seams.clock ? m_seams.clock->now() : QDateTime::currentDateTime();
    const QString text = databaseTroubleText(m_db.link().state(), now);
    // The driver's words may be longer than the line: the cut shows, the tip has them all.
    QLabel *label = ui->lbl_DatabaseTrouble;
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
    label->setToolTip(text);
    const DatabaseLink::State &link = m_db.link().state();
    report([&](StationActivity &activity) { activity.setDatabaseLink(link.up, link.downSince, link.reason); });
}

void Form_HardCopy::showStationTrouble(const QString &text)
{
    m_filesTrouble = text;
    showTroubleOfOwnFiles();
}

void Form_HardCopy::collectControlArrays()
{
    lblStats = {ui->lblStats_0, ui->lblStats_1, ui->lblStats_2, ui->lblStats_3, ui->lblStats_4};
    lblStatsValue = {ui->lblStatsValue_0, ui->lblStatsValue_1, ui->lblStatsValue_2, ui->lblStatsValue_3,
                     ui->lblStatsValue_4};
    opt_FilterRating = {ui->opt_FilterRating_0, ui->opt_FilterRating_1, ui->opt_FilterRating_2,
                        ui->opt_FilterRating_3};
}

void Form_HardCopy::placeBrowser()
{
    QWidget *view = m_seams.browser ? m_seams.browser->widget() : nullptr;
    if (!view)
        return;
    auto *layout = new QVBoxLayout(ui->WebBrowser1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
}

void Form_HardCopy::connectHandlers()
{
    auto onClick = [this](QPushButton *button, const char *name, void (Form_HardCopy::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, name, handler] { runEvent(name, [this, handler] { (this->*handler)(); }); });
    };
    onClick(ui->cmd_Access, "cmd_Access_Click", &Form_HardCopy::cmd_Access_Click);
    onClick(ui->cmd_Printer, "cmd_Printer_Click", &Form_HardCopy::cmd_Printer_Click);
    onClick(ui->cmd_View, "cmd_View_Click", &Form_HardCopy::cmd_View_Click);
    onClick(ui->cmd_Exit, "cmd_Exit_Click", &Form_HardCopy::cmd_Exit_Click);
    onClick(ui->cmd_Automation, "cmd_Automation_Click", &Form_HardCopy::cmd_Automation_Click);
    onClick(ui->cmd_ManualRestart, "cmd_ManualRestart_Click", &Form_HardCopy::cmd_ManualRestart_Click);
    onClick(ui->cmdGo, "cmdGo_Click", &Form_HardCopy::cmdGo_Click);

    connect(ui->cbo_Freq_HardCopy, &QComboBox::activated, this,
            [this] { runEvent("cbo_Freq_HardCopy_Click", [this] { cbo_Freq_HardCopy_Click(); }); });
    for (int i = 0; i < int(opt_FilterRating.size()); ++i) {
        connect(opt_FilterRating[size_t(i)], &QRadioButton::clicked, this,
                [this, i] { runEvent("opt_FilterRating_Click", [this, i] { opt_FilterRating_Click(i); }); });
    }
    connect(ui->DataGrid1, &DataGrid::rowEvent, this,
            [this] { runEvent("DataGrid1_RowEvent", [this] { Dispatch_Row(); }); });
    // The print switch is part of the session a restart takes up.
    connect(ui->chk_Print, &QCheckBox::toggled, this, [this] { keepResumeRecord(); });
}

void Form_HardCopy::runEvent(const char *handlerName, const std::function<void()> &handler)
{
    if (m_unloaded)
        return;
    // Whatever the handler changed of the session (a filter, a frequency, the services
    // started or stopped) is what a restart takes up.
    struct KeepSession
    {
        Form_HardCopy *form;
        ~KeepSession() { form->keepResumeRecord(); }
    } keepSession { this };
    try {
        handler();
    } catch (const ShutdownRequested &) {
        qCWarning(lcRun) << "station shut down from" << handlerName;
    } catch (const Failure &failure) {
        qCCritical(lcRun).noquote() << "unhandled failure in" << handlerName << ":" << failure.number()
                                    << failure.description();
        if (!m_unloaded)
            m_seams.messages->show(QStringLiteral("Error %1 in %2:\n%3")
                                       .arg(failure.number())
                                       .arg(QLatin1String(handlerName), failure.description()));
    } catch (const std::exception &error) {
        qCCritical(lcRun).noquote() << "unhandled failure in" << handlerName << ":" << error.what();
        if (!m_unloaded)
            m_seams.messages->show(QStringLiteral("Error in %1:\n%2")
                                       .arg(QLatin1String(handlerName), QString::fromLocal8Bit(error.what())));
    }
}

void Form_HardCopy::closeEvent(QCloseEvent *event)
{
    // The window only hides here: a run or a page wait may still be on the stack below
    // this event. Every waiting loop sees no open window and unwinds; the controls live
    // until the application object deletes the window after its event loop has ended.
    if (!m_unloaded) {
        qCInfo(lcRun) << "main window closed";
        endResumeRecord("the operator's exit");
    }
    m_unloaded = true;
    m_seams.timer->setEnabled(false);
    event->accept();
}

void Form_HardCopy::shutdownStation()
{
    qCCritical(lcRun) << "shutting the station down";
    endResumeRecord("the shutdown after the failed report request");
    endStation(kExitCodeFailedRequest);
}

void Form_HardCopy::endStation(int exitCode)
{
    m_shuttingDown = true;
    m_unloaded = true;
    m_seams.timer->setEnabled(false);
    hide();
    QCoreApplication::exit(exitCode);
    throw ShutdownRequested();
}

void Form_HardCopy::endOnSignal(int signalNumber)
{
    if (m_unloaded)
        return;
    qCWarning(lcRun).noquote() << "ending on" << TerminationSignals::name(signalNumber)
                               << "(the session ends, the system shuts down or the service manager stops the station);"
                               << (m_seams.resume && !sLabCode.isEmpty() ? "the next start takes the session up again"
                                                                         : "the next start waits for a login");
    m_endingBySignal = true;
    m_unloaded = true;
    m_seams.timer->setEnabled(false);
    hide();
    // Every waiting loop finds no open window and unwinds; a message box waiting for its
    // OK ends too.
    QCoreApplication::exit(0);
}

QString Form_HardCopy::endReason() const
{
    if (m_endingBySignal)
        return QStringLiteral("signal");
    if (m_endingForBrowser)
        return QStringLiteral("browser");
    return m_shuttingDown ? QStringLiteral("shutdown") : QStringLiteral("exit");
}

int Form_HardCopy::doEvents()
{
    const int open = m_seams.events->doEvents();
    if (m_shuttingDown)
        throw ShutdownRequested();
    return open;
}

int Form_HardCopy::waitEvents(int maxMilliseconds)
{
    const int open = m_seams.events->waitEvents(maxMilliseconds);
    if (m_shuttingDown)
        throw ShutdownRequested();
    return open;
}

Form_HardCopy::WaitEnd Form_HardCopy::waitUntil(qint64 deadlineSteadyMs, const WaitWatch &watch)
{
    for (;;) {
        if (watch.done && watch.done())
            return WaitEnd::Done;
        const qint64 left = deadlineSteadyMs - m_seams.clock->steadyMilliseconds();
        if (left <= 0)
            return WaitEnd::DeadlinePassed;
        const int openWindows = waitEvents(int(std::min<qint64>(kWaitSliceMs, left)));
        if (isUnloaded())
            return WaitEnd::Closed;
        if (openWindows == 0)
            return WaitEnd::NoWindow;
        if (watch.stopped && watch.stopped())
            return WaitEnd::Stopped;
        if (watch.afterSlice)
            watch.afterSlice();
    }
}

Form_HardCopy::WaitEnd Form_HardCopy::waitUntil(qint64 deadlineSteadyMs)
{
    return waitUntil(deadlineSteadyMs, WaitWatch {});
}

void Form_HardCopy::Form_Load()
{
    m_db.dbConnectString = connectionTextToOpen(m_settings);
    m_db.Open_Connection(m_db.dbConnectString);
    sServiceState = QStringLiteral("IDLE");
    cmd_View_Click();
    iSkipCount = 0;
    for (size_t i = 0; i < lblStatsValue.size(); ++i) {
        lblStatsValue[i]->move(lblStats[i]->x() + lblStats[i]->width(), lblStats[i]->y());
    }
    show();
}

void Form_HardCopy::cmd_Exit_Click()
{
    close();
}

void Form_HardCopy::cmd_View_Click()
{
    constexpr int kTwipsPerPixel = 15;
    constexpr int kPreviewWidth = 17310 / kTwipsPerPixel;
    const QString state = tagOf(ui->cmd_View);
    if (state == QLatin1String("OFF") || state.isEmpty()) {
        ui->cmd_View->setText(QStringLiteral("<< Hide Preview"));
        setTag(ui->cmd_View, QStringLiteral("ON"));
        resize(kPreviewWidth, height());
    } else {
        ui->cmd_View->setText(QStringLiteral("Preview >>"));
        setTag(ui->cmd_View, QStringLiteral("OFF"));
        resize(ui->WebBrowser1->x(), height());
    }
}
