#pragma once

#include <functional>
#include <memory>

#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QVector>

#include "platform/desktop/Clock.h"
#include "platform/database/DbConnection.h"
#include "platform/desktop/EventProcessor.h"
#include "platform/desktop/Keyboard.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/desktop/OperatorDialogs.h"
#include "platform/printing/PrintSpooler.h"
#include "platform/desktop/Timer.h"
#include "platform/browser/WebBrowser.h"

// Test doubles of the station's seams, shared by every test executable.

class FakeClock : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 0)));
    QDateTime now() const override { return m_now; }
    qint64 steadyMilliseconds() const override { return m_steadyMs; }
    void set(const QDateTime &now);
    void advanceSeconds(qint64 seconds);
    // Time that passes in milliseconds; the clock shows whole seconds.
    void advanceMilliseconds(qint64 milliseconds);
    // The wall clock set (NTP, a resumed virtual machine): the steady clock stays.
    void stepWall(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
    qint64 m_pendingMs = 0;
    qint64 m_steadyMs = 0;
};

class FakeTimer : public Timer
{
public:
    bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    int interval() const override { return m_interval; }
    void setInterval(int milliseconds) override { m_interval = milliseconds; }
    bool running() const { return m_enabled && m_interval > 0; }
    // Ticks once if the timer is running; returns whether it ticked.
    bool fire();

private:
    bool m_enabled = false;
    int m_interval = 0;
};

class RecordingMessageBoxes : public MessageBoxes
{
public:
    void show(const QString &text) override;
    QStringList shown;
    std::function<void(const QString &)> onShow;
};

// Event processing driven by the test: every call runs the tickers (a fake browser
// finishing its load, a fake printer) and then the test's own script, which may click
// buttons, close the window or move the clock. waitEvents lets the fake clock advance.
class ScriptedEvents : public EventProcessor
{
public:
    int doEvents() override;
    int waitEvents(int maxMilliseconds) override;

    void addTicker(std::function<void()> ticker) { m_tickers.push_back(std::move(ticker)); }
    std::function<void(int call)> script;   // call counts doEvents and waitEvents together
    std::function<int()> openWindows = [] { return 1; };
    FakeClock *clock = nullptr;             // advanced by waitEvents' sleep
    int calls = 0;
    int doEventsCalls = 0;
    int waitEventsCalls = 0;
    qint64 sleptMilliseconds = 0;
    int maxCalls = 100000;                  // a safety net against a loop that never ends

private:
    int process();
    std::vector<std::function<void()>> m_tickers;
};

// A scripted report server behind a fake browser.
struct FakePage
{
    QMap<QString, QString> elements;  // id -> value; a missing id is a missing element
    bool completes = true;            // false: the page never finishes loading
    int eventsUntilLoaded = 1;        // event-processing calls until ready state 4
    QString unreachable;              // set: the server was not reached, for this reason
    QString refused;                  // set: the page was sent to another origin and refused
    QStringList missingParts;         // parts refused or not loaded, as the browser words them
};

// The browser and the printer behind it: pages render at the next event processing, and
// each job ends at the one after, printed or failed as printSucceeds said when the page
// was submitted.
class FakeBrowser : public WebBrowser, public PrintSpooler
{
public:
    FakeBrowser();
    void navigate(const QString &url) override;
    int readyState() const override { return m_readyState; }
    QString elementValue(const QString &id) const override;
    QString unreachableReason() const override { return m_hasDocument ? m_current.unreachable : QString(); }
    QString refusedReason() const override { return m_hasDocument ? m_current.refused : QString(); }
    QStringList missingParts() const override { return m_hasDocument ? m_current.missingParts : QStringList(); }
    void renderPdf() override;
    RenderState renderState() const override { return m_renderState; }
    QByteArray renderedPdf() const override;
    QString renderError() const override
    {
        return m_renderState == RenderState::Failed ? QStringLiteral("the renderer is gone") : QString();
    }
    void pageSetup() override { ++pageSetups; }
    QWidget *widget() override { return nullptr; }

    Ticket submit(const PrintPage &page) override;
    Ticket follow(const QString &queue, int jobId) override;
    JobReport report(Ticket ticket) const override { return m_jobs.value(ticket); }
    void cancel(Ticket ticket) override;
    QString trouble() const override { return m_trouble; }

    // Called at every event processing: moves loads and print jobs along.
    void advance();

    std::function<FakePage(const QString &url)> server;
    QStringList navigations;
    QStringList printedUrls;          // the URL of the page shown when each print started
    QVector<PrintPage> submitted;     // the pages handed to the printer
    QByteArray pdf;                   // what a page renders as; empty: a stand-in text
    QString currentUrl;               // the loaded page
    bool printSucceeds = true;
    bool printHangs = false;          // a submitted job never ends unless it is cancelled
    int rendersToFail = 0;            // the next renderings that fail
    QList<int> followedJobs;          // jobs of an earlier run looked up; they end completed
    int pageSetups = 0;

private:
    int m_readyState = 0;
    FakePage m_pending;
    QString m_pendingUrl;
    int m_eventsLeft = 0;
    FakePage m_current;
    bool m_hasDocument = false;
    RenderState m_renderState = RenderState::Idle;
    QMap<Ticket, JobReport> m_jobs;
    QMap<Ticket, bool> m_outcomes;    // the running jobs: printed or not
    qsizetype m_toldSubmitted = 0;
    QString m_trouble;
};

class FakeKeyboard : public Keyboard
{
public:
    struct Event
    {
        quint8 virtualKey;
        quint8 scanCode;
        quint32 flags;
        quintptr extraInfo;
    };
    void keybdEvent(quint8 virtualKey, quint8 scanCode, quint32 flags, quintptr extraInfo) override;
    qint16 vkKeyScanA(char character) override;
    qint16 vkKeyScanW(char16_t character) override;
    quint32 getVersion() override { return version; }

    QVector<Event> events;
    QVector<int> scannedA;
    QVector<int> scannedW;
    quint32 version = 0x0A00; // the Unicode family
};

class FakeDialogs : public OperatorDialogs
{
public:
    QString askPassword(QWidget *owner) override;
    QString askAction(QWidget *owner, const QString &client) override;

    QStringList passwords;  // answers, first one first; empty queue answers ""
    QStringList actions;
    QStringList clientsAsked;
    int passwordQuestions = 0;
};

// A database connection whose answers the test scripts. It records every statement.
class ScriptedDbConnection : public DbConnection
{
public:
    struct Reply
    {
        ResultSetPtr result;                // null: the statement produced no result set
        QVector<ProviderMessage> messages;
        bool fails = false;
    };
    static Reply rows(const QStringList &columns, std::vector<ResultSet::Row> rows);
    static Reply ok() { return {}; }
    static Reply timeout();
    static Reply error(const QString &description = QStringLiteral("Incorrect syntax"));
    static Reply broken();
    static Reply infoMessage(qint32 number, const QString &description);

    void setCommandTimeout(int seconds) override;
    void setConnectionTimeout(int seconds) override;
    void setCursorLocation(int location) override;
    void open(const QString &connectionText) override;
    bool isOpen() const override { return m_open; }
    void close() override { m_open = false; ++closes; }
    ResultSetPtr execute(const QString &sql) override;
    const QVector<ProviderMessage> &errors() const override { return m_errors; }

    std::function<Reply(const QString &sql)> responder;
    QStringList executed;
    QStringList openedWith;
    QStringList settingsOrder;
    bool openFails = false;
    int commandTimeout = 0;
    int connectionTimeout = 0;
    int cursorLocation = 0;
    int closes = 0;

private:
    bool m_open = false;
    QVector<ProviderMessage> m_errors;
};
