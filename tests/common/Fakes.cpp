#include "common/Fakes.h"

#include <stdexcept>

#include "platform/Failure.h"

FakeClock::FakeClock(QDateTime start)
    : m_now(std::move(start))
{
}

void FakeClock::set(const QDateTime &now)
{
    // Moving the clock on is time passing; the steady clock goes along (never back).
    if (now > m_now)
        m_steadyMs += m_now.msecsTo(now);
    m_now = now;
    m_pendingMs = 0;
}

void FakeClock::advanceSeconds(qint64 seconds)
{
    m_now = m_now.addSecs(seconds);
    m_steadyMs += seconds * 1000;
}

void FakeClock::advanceMilliseconds(qint64 milliseconds)
{
    m_pendingMs += milliseconds;
    m_steadyMs += milliseconds;
    m_now = m_now.addSecs(m_pendingMs / 1000);
    m_pendingMs %= 1000;
}

bool FakeTimer::fire()
{
    if (!running())
        return false;
    tick();
    return true;
}

void RecordingMessageBoxes::show(const QString &text)
{
    shown << text;
    if (onShow)
        onShow(text);
}

int ScriptedEvents::process()
{
    ++calls;
    if (calls > maxCalls)
        throw std::runtime_error("ScriptedEvents: too many event-processing calls; a loop does not end");
    for (const auto &ticker : m_tickers)
        ticker();
    if (script)
        script(calls);
    return openWindows();
}

int ScriptedEvents::doEvents()
{
    ++doEventsCalls;
    return process();
}

int ScriptedEvents::waitEvents(int maxMilliseconds)
{
    ++waitEventsCalls;
    sleptMilliseconds += maxMilliseconds;
    if (clock)
        clock->advanceMilliseconds(maxMilliseconds);
    return process();
}

FakeBrowser::FakeBrowser()
{
    server = [](const QString &) { return FakePage{}; };
}

void FakeBrowser::navigate(const QString &url)
{
    navigations << url;
    m_pendingUrl = url;
    m_pending = server(url);
    m_eventsLeft = m_pending.eventsUntilLoaded;
    m_readyState = 1;
    if (m_pending.completes && m_eventsLeft <= 0)
        advance();
}

void FakeBrowser::advance()
{
    if (m_renderState == RenderState::Rendering)
        m_renderState = rendersToFail-- > 0 ? RenderState::Failed : RenderState::Rendered;
    // The print system took each job when it was submitted; the window learns of it now.
    while (m_toldSubmitted < submitted.size())
        tell(Ticket(++m_toldSubmitted));
    for (auto it = m_outcomes.begin(); it != m_outcomes.end(); it = m_outcomes.erase(it)) {
        JobReport &job = m_jobs[it.key()];
        job.state = it.value() ? JobState::Completed : JobState::Failed;
        job.finalState = it.value() ? QStringLiteral("completed") : QStringLiteral("aborted");
        m_trouble = it.value() ? QString() : QStringLiteral("printer failed");
        tell(it.key());
    }
    if (m_readyState >= 4 || m_readyState == 0 || !m_pending.completes)
        return;
    if (--m_eventsLeft > 0) {
        m_readyState = 3;
        return;
    }
    m_readyState = 4;
    m_current = m_pending;
    currentUrl = m_pendingUrl;
    m_hasDocument = true;
}

QString FakeBrowser::elementValue(const QString &id) const
{
    if (!m_hasDocument || !m_current.elements.contains(id))
        throw Failure(Failure::ObjectRequired, QStringLiteral("Object required"));
    return m_current.elements.value(id);
}

void FakeBrowser::renderPdf()
{
    printedUrls << currentUrl;
    m_renderState = RenderState::Rendering;
}

QByteArray FakeBrowser::renderedPdf() const
{
    return pdf.isEmpty() ? QByteArrayLiteral("%PDF-1.4 ") + currentUrl.toUtf8() : pdf;
}

PrintSpooler::Ticket FakeBrowser::submit(const PrintPage &page)
{
    submitted.push_back(page);
    const Ticket ticket = Ticket(submitted.size());
    m_jobs.insert(ticket, JobReport{JobState::Queued, QStringLiteral("FAKE"), ticket, QStringLiteral("pending"), {}});
    if (!printHangs)
        m_outcomes.insert(ticket, printSucceeds);
    return ticket;
}

PrintSpooler::Ticket FakeBrowser::follow(const QString &queue, int jobId)
{
    followedJobs << jobId;
    const Ticket ticket = Ticket(1000 + followedJobs.size());
    m_jobs.insert(ticket, JobReport{JobState::Queued, queue, jobId, QStringLiteral("pending"), {}});
    m_outcomes.insert(ticket, true);
    return ticket;
}

void FakeBrowser::cancel(Ticket ticket)
{
    m_outcomes.insert(ticket, false);
}

void FakeKeyboard::keybdEvent(quint8 virtualKey, quint8 scanCode, quint32 flags, quintptr extraInfo)
{
    events.push_back({virtualKey, scanCode, flags, extraInfo});
}

namespace {

// US layout: letters give their capital's code (shift state 1 for capitals), digits their
// own code, a few punctuation keys their OEM codes; anything else cannot be typed.
qint16 usLayoutScan(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return qint16(c - u'a' + 'A');
    if (c >= u'A' && c <= u'Z')
        return qint16(0x100 | c);
    if (c >= u'0' && c <= u'9')
        return qint16(c);
    switch (c) {
    case u' ': return 0x20;
    case u'\r': return 0x0D;
    case u'\t': return 0x09;
    case u'-': return 0xBD;
    case u'=': return 0xBB;
    case u',': return 0xBC;
    case u'.': return 0xBE;
    case u'/': return 0xBF;
    case u';': return 0xBA;
    case u'&': return 0x137; // shift + 7
    default: return -1;
    }
}

} // namespace

qint16 FakeKeyboard::vkKeyScanA(char character)
{
    scannedA << int(static_cast<unsigned char>(character));
    return usLayoutScan(char16_t(static_cast<unsigned char>(character)));
}

qint16 FakeKeyboard::vkKeyScanW(char16_t character)
{
    scannedW << int(character);
    return usLayoutScan(character);
}

QString FakeDialogs::askPassword(QWidget *)
{
    ++passwordQuestions;
    return passwords.isEmpty() ? QString() : passwords.takeFirst();
}

QString FakeDialogs::askAction(QWidget *, const QString &client)
{
    clientsAsked << client;
    return actions.isEmpty() ? QString() : actions.takeFirst();
}

ScriptedDbConnection::Reply ScriptedDbConnection::rows(const QStringList &columns, std::vector<ResultSet::Row> rows)
{
    Reply reply;
    reply.result = std::make_shared<ResultSet>(columns, std::move(rows));
    return reply;
}

ScriptedDbConnection::Reply ScriptedDbConnection::timeout()
{
    Reply reply;
    reply.fails = true;
    reply.messages = {{kQueryTimeoutNumber, QStringLiteral("Query timeout expired"), QStringLiteral("HYT00"), 0}};
    return reply;
}

ScriptedDbConnection::Reply ScriptedDbConnection::error(const QString &description)
{
    Reply reply;
    reply.fails = true;
    reply.messages = {{kProviderErrorNumber, description, QStringLiteral("42000"), 102}};
    return reply;
}

ScriptedDbConnection::Reply ScriptedDbConnection::broken()
{
    Reply reply;
    reply.fails = true;
    reply.messages = {{kProviderErrorNumber, QStringLiteral("Communication link failure"), QStringLiteral("08S01"), 0}};
    return reply;
}

ScriptedDbConnection::Reply ScriptedDbConnection::infoMessage(qint32 number, const QString &description)
{
    Reply reply;
    reply.messages = {{number, description, QStringLiteral("01000"), 0}};
    return reply;
}

void ScriptedDbConnection::setCommandTimeout(int seconds)
{
    commandTimeout = seconds;
    settingsOrder << QStringLiteral("CommandTimeout");
}

void ScriptedDbConnection::setConnectionTimeout(int seconds)
{
    connectionTimeout = seconds;
    settingsOrder << QStringLiteral("ConnectionTimeout");
}

void ScriptedDbConnection::setCursorLocation(int location)
{
    cursorLocation = location;
    settingsOrder << QStringLiteral("CursorLocation");
}

void ScriptedDbConnection::open(const QString &connectionText)
{
    openedWith << connectionText;
    if (openFails) {
        m_errors = {{kProviderErrorNumber, QStringLiteral("Unable to connect"), QStringLiteral("08001"), 0}};
        throw Failure(kProviderErrorNumber, QStringLiteral("Unable to connect"));
    }
    m_errors.clear();
    m_open = true;
}

ResultSetPtr ScriptedDbConnection::execute(const QString &sql)
{
    executed << sql;
    if (!m_open) {
        // As the ODBC connection answers: the object is closed, the driver said nothing.
        m_errors.clear();
        throw Failure::objectClosed();
    }
    Reply reply = responder ? responder(sql) : Reply{};
    m_errors = reply.messages;
    if (reply.fails)
        throw Failure(m_errors.value(0).Number, m_errors.value(0).Description);
    return reply.result ? reply.result : closedResultSet();
}
