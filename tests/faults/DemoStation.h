#pragma once

#include <functional>
#include <memory>

#include <QCheckBox>
#include <QHash>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include "app/ServiceText.h"
#include "common/StationFixture.h"
#include "demo/lims/DemoLims.h"
#include "demo/lims/DemoLimsConnection.h"
#include "demo/lims/DemoSql.h"
#include "platform/Failure.h"
#include "platform/desktop/Timer.h"

// A station window on the demo LIMS, behind a fake browser whose report server opens
// batches in the demo LIMS the way the demo report server does. The fault and bad-input
// tests run the station's own procedures and statement texts against the LIMS's strict
// recogniser, and look in the LIMS itself for what a laboratory cares about: nothing
// deleted that was not printed, nothing lost, everything printed in the end.
namespace DemoStationTest {

enum class PrinterOutcome { Prints, Fails, Hangs };

struct PrintedPage
{
    QString batchId;
    QString printType;
    QString url;
    PrinterOutcome outcome = PrinterOutcome::Prints;
};

// The fake browser with a printer the test controls page by page. A hanging printer
// never ends the job until the station gives up on it.
class PrintingBrowser : public FakeBrowser
{
public:
    Ticket submit(const PrintPage &sent) override
    {
        PrintedPage page{valueOf(QStringLiteral("BATCH_ID")), valueOf(QStringLiteral("PrintType")), currentUrl,
                         PrinterOutcome::Prints};
        if (printer)
            page.outcome = printer(page);
        printHangs = page.outcome == PrinterOutcome::Hangs;
        printSucceeds = page.outcome == PrinterOutcome::Prints;
        pages.push_back(page);
        return FakeBrowser::submit(sent);
    }

    // Batches whose cover and final page both reached the printer, with no failed page.
    QSet<QString> printedBatches() const
    {
        QSet<QString> covers;
        QSet<QString> finals;
        QSet<QString> failed;
        for (const PrintedPage &page : pages) {
            if (page.outcome != PrinterOutcome::Prints)
                failed.insert(page.batchId);
            else if (page.printType == QLatin1String("COVER"))
                covers.insert(page.batchId);
            else
                finals.insert(page.batchId);
        }
        QSet<QString> printed = covers & finals;
        printed.subtract(failed);
        return printed;
    }

    std::function<PrinterOutcome(const PrintedPage &)> printer;
    QVector<PrintedPage> pages;

private:
    QString valueOf(const QString &id) const
    {
        try {
            return elementValue(id);
        } catch (const Failure &) {
            return {};
        }
    }
};

// The query keys of a report URL as the station writes it (no encoding).
inline QHash<QString, QString> queryKeys(const QString &url)
{
    QHash<QString, QString> keys;
    const qsizetype start = url.indexOf(QLatin1Char('?'));
    if (start < 0)
        return keys;
    for (const QString &piece : url.mid(start + 1).split(QLatin1Char('&'))) {
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(piece.left(equals), piece.mid(equals + 1));
    }
    return keys;
}

// The report server's page contract on the demo LIMS: the first request of a client
// opens a batch of its due samples (cover page), "&pt=SAMPLES&bid=" answers the samples
// page and "&bid=" alone the report page.
class DemoPages
{
public:
    explicit DemoPages(QString path) : m_path(std::move(path)) {}

    FakePage operator()(const QString &url)
    {
        requests << url;
        const QHash<QString, QString> keys = queryKeys(url);
        FakePage page;
        if (!keys.contains(QStringLiteral("bid"))) {
            const QString batchId = DemoLims::createBatch(m_path, keys.value(QStringLiteral("cid")).toLongLong(),
                                                          DemoSql::parseDateText(keys.value(QStringLiteral("sd"))));
            covers << keys.value(QStringLiteral("cid"));
            page.elements.insert(QStringLiteral("BATCH_ID"), batchId);
            page.elements.insert(QStringLiteral("PrintType"), QStringLiteral("COVER"));
        } else {
            const bool samples = keys.value(QStringLiteral("pt")) == QLatin1String("SAMPLES");
            page.elements.insert(QStringLiteral("BATCH_ID"), keys.value(QStringLiteral("bid")));
            page.elements.insert(QStringLiteral("PrintType"), samples ? QStringLiteral("SAMPLES")
                                                                      : QStringLiteral("REPORT"));
        }
        return page;
    }

    QStringList requests;
    QStringList covers; // contact id of every cover request, in order

private:
    QString m_path;
};

// A connection to the demo LIMS (in process, or any other given, such as the ODBC
// client on the wire), counting the statements it is sent so that a test can make
// exactly the n-th statement (from the moment it plans it) meet an injected fault.
class CountingLims : public DbConnection
{
public:
    CountingLims(const QString &path, std::unique_ptr<DbConnection> inner)
        : m_path(path)
        , m_inner(inner ? std::move(inner) : std::unique_ptr<DbConnection>(std::make_unique<DemoLimsConnection>(path)))
    {
    }

    void planFault(int statementNumber, DemoLims::Fault kind, int count)
    {
        m_counted = 0;
        m_faultAt = statementNumber;
        m_kind = kind;
        m_count = count;
        sinceFault.clear();
    }

    void setCommandTimeout(int seconds) override { m_inner->setCommandTimeout(seconds); }
    void setConnectionTimeout(int seconds) override { m_inner->setConnectionTimeout(seconds); }
    void setCursorLocation(int location) override { m_inner->setCursorLocation(location); }
    void open(const QString &connectionText) override
    {
        ++opens;
        m_inner->open(connectionText);
    }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    const QVector<ProviderMessage> &errors() const override { return m_inner->errors(); }
    bool connectionLost() const override { return m_inner->connectionLost(); }

    ResultSetPtr execute(const QString &sql) override
    {
        ++m_counted;
        if (m_faultAt > 0 && m_counted >= m_faultAt)
            sinceFault << sql;
        if (m_counted == m_faultAt)
            DemoLims::injectFault(m_path, m_kind, m_count);
        return m_inner->execute(sql);
    }

    int counted() const { return m_counted; }
    int opens = 0;
    QStringList sinceFault; // the statement that met the fault first, then every later one

private:
    QString m_path;
    std::unique_ptr<DbConnection> m_inner;
    int m_counted = 0;
    int m_faultAt = 0;
    DemoLims::Fault m_kind = DemoLims::Fault::Timeout;
    int m_count = 0;
};

inline std::unique_ptr<DbConnection> countingLims(const QString &path, CountingLims **handle,
                                                 std::unique_ptr<DbConnection> inner = nullptr)
{
    auto lims = std::make_unique<CountingLims>(path, std::move(inner));
    *handle = lims.get();
    return lims;
}

// The batch ids of the delete statements the LIMS accepted, in order.
inline QStringList deletedBatchIds(const QString &path)
{
    QStringList ids;
    for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(path)) {
        if (!entry.outcome.startsWith(QLatin1String("ok")))
            continue;
        if (!entry.statement.startsWith(QLatin1String("exec labrack.dbo.Distrib_ActiveSamples_DelBatch")))
            continue;
        for (const DemoSql::Statement &statement : DemoSql::parseBatch(entry.statement)) {
            for (const DemoSql::Argument &argument : statement.arguments)
                ids << argument.value.text;
        }
    }
    return ids;
}

class DemoStation
{
public:
    // On the in-process demo LIMS connection, unless another connection is given.
    explicit DemoStation(const QString &path, std::unique_ptr<DbConnection> connection = nullptr)
        : path(path)
        , f(countingLims(path, &lims, std::move(connection)))
        , pages(path)
    {
        browser.server = [this](const QString &url) { return pages(url); };
        f.events.script = [this](int call) {
            for (const auto &hook : m_hooks)
                hook(call);
        };
    }

    ~DemoStation() { f.form.reset(); }

    Form_HardCopy &w() { return *f.form; }

    // Builds the window on the demo LIMS and the printing browser and runs its start-up.
    Form_HardCopy &load()
    {
        StationSeams seams;
        seams.clock = clock ? clock : &f.clock;
        seams.timer = &f.timer;
        seams.messages = &f.messages;
        seams.events = events ? events : &f.events;
        seams.browser = &browser;
        seams.spooler = spooler ? spooler : &browser;
        seams.keyboard = &f.keyboard;
        seams.dialogs = &f.dialogs;
        seams.activity = activity;
        f.form = std::make_unique<Form_HardCopy>(seams, *f.db, f.settings);
        f.events.addTicker([this] { browser.advance(); });
        f.form->Form_Load();
        f.timer.setEnabled(false); // its first tick while stopped switches it off
        return *f.form;
    }

    // Logs in through the login button and chooses the rating option by clicking it.
    void login(const QString &password = DemoLims::kPasswordMainLab, int ratingOption = 0)
    {
        f.dialogs.passwords << password;
        QTest::mouseClick(button("cmd_Access"), Qt::LeftButton);
        auto *option = f.control<QRadioButton>(qPrintable(QStringLiteral("opt_FilterRating_%1").arg(ratingOption)));
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
    }

    // The operator's click on the start/stop button; a run started by it ends before
    // the click returns.
    void clickStartStop() { QTest::mouseClick(button("cmd_Automation"), Qt::LeftButton); }

    // Lets the countdown run out and the timer start the next run.
    void nextScheduledRun()
    {
        f.clock.set(w().dtNextRun.addSecs(1));
        f.timer.fire();
    }

    // Scheduled runs until every due report has been printed, at most `runs` of them.
    bool runUntilEverythingIsPrinted(int runs)
    {
        for (int i = 0; i < runs && !everythingDistributed(); ++i) {
            if (!waiting())
                return false;
            nextScheduledRun();
        }
        return everythingDistributed();
    }

    bool waiting() const
    {
        return button("cmd_Automation")->text() == ServiceText::StopServices && f.timer.enabled()
            && f.form->sServiceState == ServiceText::Idle;
    }

    void onEvents(std::function<void(int call)> hook) { m_hooks.push_back(std::move(hook)); }

    bool everythingDistributed() const
    {
        for (const DemoLims::SampleInfo &sample : DemoLims::samples(path)) {
            if (sample.distributionType == QLatin1String("HARD_COPY") && sample.status != QLatin1String("DISTRIBUTED"))
                return false;
        }
        return true;
    }

    // What a laboratory must never see: a sample distributed or a batch deleted whose
    // pages did not all reach the printer, or a sample that left the due list otherwise.
    QString lossReport() const
    {
        const QSet<QString> printed = browser.printedBatches();
        QStringList problems;
        for (const DemoLims::SampleInfo &sample : DemoLims::samples(path)) {
            if (sample.status == QLatin1String("DISTRIBUTED") && !printed.contains(sample.batchId))
                problems << QStringLiteral("sample %1 distributed in batch %2, which was not printed")
                                .arg(sample.sampleNo, sample.batchId);
            if (sample.status != QLatin1String("DISTRIBUTED") && sample.status != QLatin1String("DUE"))
                problems << QStringLiteral("sample %1 left the list as %2").arg(sample.sampleNo, sample.status);
        }
        for (const QString &id : deletedBatchIds(path)) {
            if (!printed.contains(id))
                problems << QStringLiteral("batch %1 deleted but not printed").arg(id);
        }
        return problems.join(QStringLiteral("; "));
    }

    QPushButton *button(const char *name) const { return f.control<QPushButton>(name); }

    QString path;
    // Real parts in place of the fakes, when a test sets them before load().
    PrintSpooler *spooler = nullptr;
    EventProcessor *events = nullptr;
    Clock *clock = nullptr;
    StationActivity *activity = nullptr; // what the monitoring is told, when a test watches it
    CountingLims *lims = nullptr;
    StationFixture f;
    PrintingBrowser browser;
    DemoPages pages;

private:
    std::vector<std::function<void(int)>> m_hooks;
};

// A demo LIMS with no seed clients: the operators and the status board of the seed,
// and the clients a test adds. Every client gets `samples` due hard-copy samples of one
// record date.
inline bool addDueClient(const QString &path, qint64 contactId, const QString &lab, int samples,
                         const QDateTime &recDate, const QString &endUserId = QString(),
                         const QString &name = QString())
{
    DemoLims::ClientInfo client;
    client.contactId = contactId;
    client.contactName = name.isEmpty() ? QStringLiteral("Client %1").arg(contactId) : name;
    client.endUserId = endUserId.isNull() ? QStringLiteral("EU%1").arg(contactId) : endUserId;
    client.labCode = lab;
    if (!DemoLims::addClient(path, client))
        return false;
    for (int i = 0; i < samples; ++i) {
        DemoLims::SampleInfo sample;
        sample.contactId = contactId;
        sample.sampleNo = QStringLiteral("S%1-%2").arg(contactId).arg(i + 1);
        sample.recDate = recDate;
        sample.severity = 1;
        if (DemoLims::addSample(path, sample) == 0)
            return false;
    }
    return true;
}

// Client 101: one report; 102: three reports, with a record time of day; 103: two reports.
// An e-mail sample of 101 must never be touched.
inline bool addThreeClients(const QString &path)
{
    const QDateTime firstOfMarch(QDate(2026, 3, 1), QTime(0, 0));
    const QDateTime morning(QDate(2026, 2, 27), QTime(9, 30, 15));
    if (!addDueClient(path, 101, DemoLims::kMainLab, 1, firstOfMarch)
        || !addDueClient(path, 102, DemoLims::kMainLab, 3, morning)
        || !addDueClient(path, 103, DemoLims::kMainLab, 2, firstOfMarch))
        return false;
    DemoLims::SampleInfo email;
    email.contactId = 101;
    email.sampleNo = QStringLiteral("E101");
    email.recDate = firstOfMarch;
    email.distributionType = QStringLiteral("EMAIL");
    return DemoLims::addSample(path, email) != 0;
}

// The clock time the tests' demo LIMS and station start at.
inline const QDateTime kStationStart(QDate(2026, 3, 2), QTime(9, 5, 0));

// An empty demo LIMS made once per test program and copied for each test, so that every
// test starts from the same file without paying for its creation.
class LimsTemplate
{
public:
    bool create(QString *error)
    {
        if (!m_dir.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        DemoLims::CreateOptions options;
        options.clients = 0;
        options.now = kStationStart;
        return DemoLims::createDatabase(path(), options, error);
    }
    QString path() const { return m_dir.filePath(QStringLiteral("template.sqlite")); }
    QString freshCopy()
    {
        const QString copy = m_dir.filePath(QStringLiteral("lims-%1.sqlite").arg(++m_copies));
        QFile::remove(copy);
        if (!QFile::copy(path(), copy))
            qFatal("cannot copy the demo LIMS template");
        return copy;
    }

private:
    QTemporaryDir m_dir;
    int m_copies = 0;
};

} // namespace DemoStationTest
