#include "demo/lims/DemoLimsConnection.h"

#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLimsCore.h"
#include "demo/lims/DemoSql.h"
#include "platform/Failure.h"

DemoLimsConnection::DemoLimsConnection(const QString &databasePath) : m_path(databasePath) {}

DemoLimsConnection::~DemoLimsConnection() = default;

void DemoLimsConnection::setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
void DemoLimsConnection::setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
void DemoLimsConnection::setCursorLocation(int location) { m_cursorLocation = location; }

// The connection text names the driver; the file is the one this connection was made
// for, so a station started with --demo cannot end up on another file by its settings.
void DemoLimsConnection::open(const QString &)
{
    close();
    m_errors.clear();
    auto core = std::make_unique<DemoLimsCore>(m_path);
    QString error;
    if (!core->open(&error)) {
        qCWarning(lcDemo).noquote() << "demo LIMS cannot be opened:" << error;
        failOpen(QStringLiteral("08001"), QStringLiteral("[Demo LIMS]") + error);
    }
    switch (core->takeLoginFault()) {
    case DemoLimsCore::LoginFault::Refused:
        failOpen(QStringLiteral("28000"), QStringLiteral("[Demo LIMS][SQL Server]Login failed for user 'demo'."));
    case DemoLimsCore::LoginFault::Unanswered:
        failOpen(QStringLiteral("HYT00"), QStringLiteral("[Demo LIMS]Login timeout expired"));
    case DemoLimsCore::LoginFault::None:
        break;
    }
    m_core = std::move(core);
    m_broken = false;
}

bool DemoLimsConnection::isOpen() const
{
    return m_core && m_core->isOpen();
}

void DemoLimsConnection::close()
{
    m_core.reset();
    m_broken = false;
}

const QVector<ProviderMessage> &DemoLimsConnection::errors() const
{
    return m_errors;
}

ResultSetPtr DemoLimsConnection::execute(const QString &sql)
{
    m_errors.clear();
    if (!isOpen())
        throw Failure::objectClosed();
    // A statement on a broken link never reaches the LIMS, so it is not journaled.
    if (m_broken)
        fail(DemoSql::Error::linkFailure());

    const DemoBatchOutcome outcome = m_core->run(sql);
    switch (outcome.kind) {
    case DemoBatchOutcome::Kind::Failed:
    case DemoBatchOutcome::Kind::TimedOut:
        fail(*outcome.error);
    case DemoBatchOutcome::Kind::LinkDropped:
    case DemoBatchOutcome::Kind::LinkCut:
    case DemoBatchOutcome::Kind::Unanswered:
        m_broken = true;
        fail(DemoSql::Error::linkFailure());
    case DemoBatchOutcome::Kind::Answered:
        break;
    }
    if (outcome.message) {
        // In process the message keeps its number, so the station shows it.
        ProviderMessage message = outcome.message->toProviderMessage();
        message.Number = outcome.message->nativeError();
        message.Description = outcome.message->message();
        m_errors.push_back(message);
    }
    for (const DemoStatementAnswer &answer : outcome.answers) {
        if (answer.rows)
            return answer.rows;
    }
    return closedResultSet();
}

void DemoLimsConnection::fail(const DemoSql::Error &error)
{
    const ProviderMessage message = error.toProviderMessage();
    m_errors.push_back(message);
    throw Failure(message.Number, message.Description);
}

void DemoLimsConnection::failOpen(const QString &sqlState, const QString &description)
{
    ProviderMessage message;
    message.Number = sqlState == QLatin1String("HYT00") ? kQueryTimeoutNumber : kProviderErrorNumber;
    message.Description = description;
    message.SqlState = sqlState;
    m_errors.push_back(message);
    throw Failure(message.Number, message.Description);
}
