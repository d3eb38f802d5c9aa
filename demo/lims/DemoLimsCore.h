#pragma once

#include <memory>
#include <optional>

#include <QString>
#include <QVector>

#include "demo/lims/DemoSql.h"
#include "platform/database/DbValue.h"
#include "platform/database/ResultSet.h"

class DemoAppLocks;
class DemoDatabase;

// The answer of the demo LIMS to one statement of a batch.
struct DemoStatementAnswer
{
    ResultSetPtr rows; // null: the statement yields no result set
    QVector<DbValue::Kind> kinds; // the type of each column of rows
    QVector<bool> codePageText; // the text columns declared varchar in code page 1252, by position
    qint64 count = -1; // rows selected or changed; -1 when the statement reports none
};

// What became of one batch. How the outcome reaches the client (an exception of the
// in-process connection, tokens or a closed socket on the wire) is the transport's
// business; what ran, what was journaled and which fault was taken is decided here once.
struct DemoBatchOutcome
{
    enum class Kind {
        Answered, // answers holds one entry per statement
        Failed, // error says why; nothing of the batch ran
        TimedOut, // the query time-out: nothing ran; the answer waits for the client's cancel
        LinkDropped, // the connection goes before the answer: nothing ran
        LinkCut, // the batch ran; the connection goes in the middle of its answer
        Unanswered, // nothing ran and nothing is ever answered, not even a cancel
    };
    Kind kind = Kind::Answered;
    QVector<DemoStatementAnswer> answers;
    std::optional<DemoSql::Error> error;
    // Answered: an informational message of the server follows the answer.
    std::optional<DemoSql::Error> message;
};

// The demo LIMS's execution core, shared by every way of reaching it (the in-process
// connection and the wire front end), so that they cannot drift apart: every statement
// text is journaled as received; then a fault injected into the file may take the
// statement's place; otherwise the text is recognised as a whole (a text that is not
// one of the LIMS's shapes fails like a syntax error on SQL Server, and nothing of it
// runs) and run in one transaction.
class DemoLimsCore
{
public:
    explicit DemoLimsCore(const QString &databasePath);
    ~DemoLimsCore();
    DemoLimsCore(const DemoLimsCore &) = delete;
    DemoLimsCore &operator=(const DemoLimsCore &) = delete;

    // Before open(): the application locks this connection's session shares with the
    // others of its front end, and the host its login named. Without, the session has a
    // table of locks of its own.
    void shareLocks(std::shared_ptr<DemoAppLocks> locks, const QString &host);
    bool open(QString *error);
    bool isOpen() const;
    void close();
    QString path() const { return m_path; }

    DemoBatchOutcome run(const QString &sql);

    // A login fault injected into the file, taken by the login it meets.
    enum class LoginFault { None, Refused, Unanswered };
    LoginFault takeLoginFault();

private:
    QString takeFault(const QStringList &priority);
    DemoBatchOutcome runRecognised(const QString &sql, const QString &fault);
    DemoBatchOutcome failed(const DemoSql::Error &error, const QString &sql);
    void journal(const QString &sql, const QString &outcome);
    void endSession();

    QString m_path;
    std::unique_ptr<DemoDatabase> m_db;
    std::shared_ptr<DemoAppLocks> m_locks;
    QString m_host;
    int m_session = 0; // 0: no session open
};
