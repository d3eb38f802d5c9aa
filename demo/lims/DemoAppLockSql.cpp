#include "demo/lims/DemoAppLockSql.h"

#include <QHash>
#include <QRegularExpression>

#include "demo/lims/DemoAppLocks.h"

namespace DemoAppLockSql {

namespace {

const QString kLiteral = QStringLiteral(R"(N?'((?:[^']|'')*)')");
const QString kName = QStringLiteral(R"(\[?(\w+)\]?)");
const QString kProcedure = QStringLiteral(R"((?:(?:master\.)?(?:sys|dbo)\.)?(sp_getapplock|sp_releaseapplock))");
const QString kArguments = QStringLiteral(R"(((?:\s*@\w+\s*=\s*(?:N?'(?:[^']|'')*'|-?\d+)\s*,?)+))");

QRegularExpression pattern(const QString &text)
{
    return QRegularExpression(
        QStringLiteral("^\\s*") + text + QStringLiteral("\\s*;?\\s*$"), QRegularExpression::CaseInsensitiveOption);
}

QString literalText(const QString &captured)
{
    return QString(captured).replace(QStringLiteral("''"), QStringLiteral("'"));
}

DemoStatementAnswer oneValue(const QString &column, const DbValue &value)
{
    DemoStatementAnswer answer;
    std::vector<ResultSet::Row> rows;
    rows.push_back({ value });
    answer.rows = std::make_shared<ResultSet>(QStringList { column }, std::move(rows));
    answer.kinds = { value.kind() };
    answer.count = 1;
    return answer;
}

// The named arguments, by lower-case name without the @; values with their quotes undone.
QHash<QString, QString> namedArguments(const QString &text)
{
    static const QRegularExpression argument(QStringLiteral(R"(@(\w+)\s*=\s*(?:N?'((?:[^']|'')*)'|(-?\d+)))"));
    QHash<QString, QString> arguments;
    for (auto it = argument.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        arguments.insert(match.captured(1).toLower(),
            match.capturedStart(3) >= 0 ? match.captured(3) : literalText(match.captured(2)));
    }
    return arguments;
}

bool sessionOwner(const QString &owner)
{
    return owner.isNull() || owner.compare(QLatin1String("Session"), Qt::CaseInsensitive) == 0;
}

// A procedure's return value, as sp_getapplock and sp_releaseapplock give it.
int callProcedure(const QString &procedure, const QString &argumentText, DemoAppLocks &locks, int session)
{
    const QHash<QString, QString> arguments = namedArguments(argumentText);
    const QString resource = arguments.value(QStringLiteral("resource"));
    // Only locks owned by the session are kept: the demo runs each batch in a
    // transaction of its own, which a lock owned by a transaction would not outlive.
    if (resource.isEmpty() || !sessionOwner(arguments.value(QStringLiteral("lockowner"))))
        return -999;
    if (procedure.compare(QLatin1String("sp_releaseapplock"), Qt::CaseInsensitive) == 0)
        return locks.release(session, resource);
    DemoAppLocks::Mode mode;
    if (!DemoAppLocks::modeFromName(arguments.value(QStringLiteral("lockmode")), &mode))
        return -999;
    return locks.take(session, resource, mode);
}

std::optional<DemoStatementAnswer> procedureCall(const QString &sql, DemoAppLocks &locks, int session)
{
    static const QRegularExpression withReturn
        = pattern(QStringLiteral(R"(declare\s+@(\w+)\s+int\s*;?\s*exec(?:ute)?\s+@\1\s*=\s*)") + kProcedure + kArguments
            + QStringLiteral(R"(\s*;?\s*select\s+@\1(?:\s+as\s+)") + kName + QStringLiteral(")?"));
    static const QRegularExpression plain = pattern(QStringLiteral(R"(exec(?:ute)?\s+)") + kProcedure + kArguments);
    QRegularExpressionMatch match = withReturn.match(sql);
    if (match.hasMatch()) {
        const int result = callProcedure(match.captured(2), match.captured(3), locks, session);
        return oneValue(match.captured(4), DbValue::fromInt(result));
    }
    match = plain.match(sql);
    if (!match.hasMatch())
        return std::nullopt;
    callProcedure(match.captured(1), match.captured(2), locks, session);
    return DemoStatementAnswer {};
}

std::optional<DemoStatementAnswer> lockTest(const QString &sql, DemoAppLocks &locks, int session)
{
    static const QRegularExpression test = pattern(QStringLiteral(R"(select\s+APPLOCK_TEST\s*\(\s*'public'\s*,\s*)")
        + kLiteral + QStringLiteral(R"(\s*,\s*)") + kLiteral + QStringLiteral(R"(\s*,\s*)") + kLiteral
        + QStringLiteral(R"(\s*\)(?:\s+as\s+)") + kName + QStringLiteral(")?"));
    const QRegularExpressionMatch match = test.match(sql);
    if (match.hasMatch()) {
        DemoAppLocks::Mode asked;
        const bool known = DemoAppLocks::modeFromName(literalText(match.captured(2)), &asked)
            && sessionOwner(literalText(match.captured(3)));
        const bool grantable = known && locks.grantable(session, literalText(match.captured(1)), asked);
        return oneValue(match.captured(4), DbValue::fromInt(grantable ? 1 : 0));
    }
    return std::nullopt;
}

// A LIKE pattern's bracketed characters ([[] for "[", [_] for "_") read as themselves.
QString likeLiteral(const QString &pattern)
{
    static const QRegularExpression bracketed(QStringLiteral(R"(\[(.)\])"));
    return QString(pattern).replace(bracketed, QStringLiteral("\\1"));
}

std::optional<DemoStatementAnswer> exclusiveHolder(const QString &sql, DemoAppLocks &locks)
{
    static const QRegularExpression holder = pattern(QStringLiteral(R"(select\s+s\.host_name(?:\s+as\s+)") + kName
        + QStringLiteral(R"()?\s+from\s+sys\.dm_tran_locks\s+l\s+join\s+sys\.dm_exec_sessions\s+s\s+)"
                         R"(on\s+s\.session_id\s*=\s*l\.request_session_id\s+)"
                         R"(where\s+l\.resource_type\s*=\s*'APPLICATION'\s+and\s+l\.request_mode\s*=\s*'X'\s+)"
                         R"(and\s+l\.resource_description\s+like\s+'%\[\[\](.*)\]%')"));
    const QRegularExpressionMatch match = holder.match(sql);
    if (!match.hasMatch())
        return std::nullopt;
    const QString column = match.captured(1).isEmpty() ? QStringLiteral("host_name") : match.captured(1);
    const QString resource = likeLiteral(literalText(match.captured(2)));
    std::vector<ResultSet::Row> rows;
    for (const QString &host : locks.holders(resource, DemoAppLocks::Mode::Exclusive))
        rows.push_back({ DbValue::fromText(host) });
    DemoStatementAnswer answer;
    answer.count = qint64(rows.size());
    answer.rows = std::make_shared<ResultSet>(QStringList { column }, std::move(rows));
    answer.kinds = { DbValue::Kind::Text };
    return answer;
}

} // namespace

std::optional<DemoStatementAnswer> answer(const QString &sql, DemoAppLocks &locks, int session)
{
    if (auto called = procedureCall(sql, locks, session))
        return called;
    if (auto test = lockTest(sql, locks, session))
        return test;
    return exclusiveHolder(sql, locks);
}

} // namespace DemoAppLockSql
