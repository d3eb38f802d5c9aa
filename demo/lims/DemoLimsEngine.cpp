#include "demo/lims/DemoLimsEngine.h"

#include <algorithm>
#include <map>
#include <optional>

#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include "demo/lims/DemoDatabase.h"

using DemoSql::Error;
using DemoSql::Expr;
using DemoSql::ExprPtr;
using DemoSql::Literal;
using DemoSql::Statement;

namespace {
enum class Truth { False, True, Unknown };

DbValue literalValue(const Literal &literal)
{
    switch (literal.kind) {
    case Literal::Kind::Null:
        return DbValue::null();
    case Literal::Kind::Text:
        return DbValue::fromText(literal.text);
    case Literal::Kind::Number:
        if (literal.text.contains(QLatin1Char('.')))
            return DbValue::fromReal(literal.text.toDouble());
        return DbValue::fromInt(literal.text.toLongLong());
    }
    return {};
}

bool isNumber(const DbValue &value)
{
    return value.kind() == DbValue::Kind::Integer || value.kind() == DbValue::Kind::Real
        || value.kind() == DbValue::Kind::Boolean;
}

// A text where the other side is a number: converted as the server converts varchar
// to int, failing the statement when it does not read as one.
DbValue textAsNumber(const QString &text, bool whole)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    if (whole) {
        const qint64 value = trimmed.toLongLong(&ok);
        if (ok)
            return DbValue::fromInt(value);
    } else {
        const double value = trimmed.toDouble(&ok);
        if (ok)
            return DbValue::fromReal(value);
    }
    throw Error::toInt(text);
}

// A literal turned into the type of the column it is compared with, once per
// statement, as the server converts constants: a literal that does not convert fails
// the statement whatever the rows.
DbValue convertLiteral(const Literal &literal, DbValue::Kind target)
{
    const DbValue value = literalValue(literal);
    if (value.isNull())
        return value;
    switch (target) {
    case DbValue::Kind::DateTime: {
        if (value.kind() != DbValue::Kind::Text)
            throw Error(206, QStringLiteral("22018"), QStringLiteral("Operand type clash: numeric is incompatible with datetime"));
        const QDateTime parsed = DemoSql::parseDateText(value.toText());
        if (!parsed.isValid())
            throw Error::toDate();
        return DbValue::fromDateTime(parsed);
    }
    case DbValue::Kind::Integer:
    case DbValue::Kind::Real:
        return value.kind() == DbValue::Kind::Text ? textAsNumber(value.toText(), target == DbValue::Kind::Integer)
                                                   : value;
    default:
        return value;
    }
}

template<typename T>
int order3(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Compares two values with the server's implicit conversions; nothing when either
// is null (the comparison is unknown).
std::optional<int> compareValues(DbValue a, DbValue b)
{
    if (a.isNull() || b.isNull())
        return std::nullopt;
    if (a.kind() == DbValue::Kind::Integer && b.kind() == DbValue::Kind::Integer)
        return order3(a.toVariant().toLongLong(), b.toVariant().toLongLong());
    if (a.kind() == DbValue::Kind::Text && b.kind() == DbValue::Kind::Text)
        return QString::compare(DemoSql::rightTrimmed(a.toText()), DemoSql::rightTrimmed(b.toText()),
                                Qt::CaseInsensitive);
    if (a.kind() == DbValue::Kind::DateTime || b.kind() == DbValue::Kind::DateTime) {
        const bool swapped = a.kind() != DbValue::Kind::DateTime;
        if (swapped)
            std::swap(a, b);
        const DbValue other = b.kind() == DbValue::Kind::DateTime ? b : convertLiteral({Literal::Kind::Text, b.concatText()},
                                                                                      DbValue::Kind::DateTime);
        const int result = order3(a.toDateTime().toMSecsSinceEpoch(), other.toDateTime().toMSecsSinceEpoch());
        return swapped ? -result : result;
    }
    if (isNumber(a) && b.kind() == DbValue::Kind::Text)
        b = textAsNumber(b.toText(), a.kind() == DbValue::Kind::Integer);
    else if (isNumber(b) && a.kind() == DbValue::Kind::Text)
        a = textAsNumber(a.toText(), b.kind() == DbValue::Kind::Integer);
    if (a.kind() == DbValue::Kind::Integer && b.kind() == DbValue::Kind::Integer)
        return order3(a.toVariant().toLongLong(), b.toVariant().toLongLong());
    return order3(a.toDouble(), b.toDouble());
}

// A where clause bound to the columns of one answer: column positions resolved and
// literals converted up front, so that a long list of exclusion clauses costs one
// comparison of ready values per row and clause.
struct Bound
{
    struct Operand
    {
        int column = -1; // -1: the value
        DbValue value;
    };

    Expr::Kind kind = Expr::Kind::Compare;
    std::vector<Bound> terms;
    Operand a;
    Operand b;
    QString op;
    std::vector<DbValue> list;
    bool negated = false;

    // Many "not(x = 1 and y = 'D')" terms of one "and" over the same two columns,
    // gathered into one look-up: true unless the row's (x, y) is in the set.
    bool exclusions = false;
    int columnX = -1;
    int columnY = -1;
    QSet<QPair<qint64, qint64>> keys;
};

// A column value as an exact key: whole numbers and dates only, whose equality is
// plain equality of the key.
std::optional<qint64> exactKey(const DbValue &value)
{
    if (value.kind() == DbValue::Kind::Integer)
        return value.toVariant().toLongLong();
    if (value.kind() == DbValue::Kind::DateTime)
        return value.toDateTime().toMSecsSinceEpoch();
    return std::nullopt;
}

// The column and the key of "column = literal" (either way round), when it has one.
std::optional<QPair<int, qint64>> equalityKey(const Bound &term)
{
    if (term.kind != Expr::Kind::Compare || term.op != QLatin1String("="))
        return std::nullopt;
    const Bound::Operand *column = term.a.column >= 0 ? &term.a : &term.b;
    const Bound::Operand *value = term.a.column >= 0 ? &term.b : &term.a;
    if (column->column < 0 || value->column >= 0)
        return std::nullopt;
    const std::optional<qint64> key = exactKey(value->value);
    if (!key)
        return std::nullopt;
    return QPair<int, qint64>(column->column, *key);
}

void gatherExclusions(Bound &conjunction, const QVector<DbValue::Kind> &kinds)
{
    std::vector<Bound> kept;
    std::map<QPair<int, int>, Bound> sets;
    for (Bound &term : conjunction.terms) {
        std::optional<QPair<int, qint64>> x;
        std::optional<QPair<int, qint64>> y;
        if (term.kind == Expr::Kind::Not && term.terms.front().kind == Expr::Kind::And
            && term.terms.front().terms.size() == 2) {
            x = equalityKey(term.terms.front().terms.at(0));
            y = equalityKey(term.terms.front().terms.at(1));
        }
        const auto exactColumn = [&kinds](int column) {
            return kinds.at(column) == DbValue::Kind::Integer || kinds.at(column) == DbValue::Kind::DateTime;
        };
        const bool exact = x && y && x->first != y->first && exactColumn(x->first) && exactColumn(y->first);
        if (!exact) {
            kept.push_back(std::move(term));
            continue;
        }
        if (x->first > y->first)
            std::swap(x, y);
        Bound &set = sets[{x->first, y->first}];
        set.exclusions = true;
        set.columnX = x->first;
        set.columnY = y->first;
        set.keys.insert({x->second, y->second});
    }
    for (auto &entry : sets)
        kept.push_back(std::move(entry.second));
    conjunction.terms = std::move(kept);
}

Bound::Operand bindOperand(const DemoSql::Operand &operand, const DemoSql::Operand &other, const QStringList &columns,
                           const QVector<DbValue::Kind> &kinds)
{
    Bound::Operand bound;
    if (operand.isColumn) {
        bound.column = int(columns.indexOf(operand.column));
    } else if (other.isColumn) {
        bound.value = convertLiteral(operand.literal, kinds.at(columns.indexOf(other.column)));
    } else {
        bound.value = literalValue(operand.literal);
    }
    return bound;
}

Bound bind(const Expr &expr, const QStringList &columns, const QVector<DbValue::Kind> &kinds)
{
    Bound bound;
    bound.kind = expr.kind;
    bound.op = expr.op;
    bound.negated = expr.negated;
    for (const ExprPtr &term : expr.terms)
        bound.terms.push_back(bind(*term, columns, kinds));
    if (expr.kind == Expr::Kind::And)
        gatherExclusions(bound, kinds);
    switch (expr.kind) {
    case Expr::Kind::Compare:
        bound.a = bindOperand(expr.a, expr.b, columns, kinds);
        bound.b = bindOperand(expr.b, expr.a, columns, kinds);
        break;
    case Expr::Kind::In:
    case Expr::Kind::IsNull:
        bound.a = bindOperand(expr.a, {}, columns, kinds);
        for (const Literal &literal : expr.list) {
            bound.list.push_back(expr.a.isColumn ? convertLiteral(literal, kinds.at(bound.a.column))
                                                 : literalValue(literal));
        }
        break;
    default:
        break;
    }
    return bound;
}

Truth notOf(Truth value)
{
    if (value == Truth::Unknown)
        return value;
    return value == Truth::True ? Truth::False : Truth::True;
}

const DbValue &operandValue(const Bound::Operand &operand, const ResultSet::Row &row)
{
    return operand.column >= 0 ? row[size_t(operand.column)] : operand.value;
}

Truth evaluate(const Bound &expr, const ResultSet::Row &row)
{
    if (expr.exclusions) {
        const std::optional<qint64> x = exactKey(row[size_t(expr.columnX)]);
        const std::optional<qint64> y = exactKey(row[size_t(expr.columnY)]);
        if (!x || !y)
            return Truth::Unknown;
        return expr.keys.contains({*x, *y}) ? Truth::False : Truth::True;
    }
    switch (expr.kind) {
    case Expr::Kind::And: {
        Truth result = Truth::True;
        for (const Bound &term : expr.terms) {
            const Truth value = evaluate(term, row);
            if (value == Truth::False)
                return Truth::False;
            if (value == Truth::Unknown)
                result = Truth::Unknown;
        }
        return result;
    }
    case Expr::Kind::Or: {
        Truth result = Truth::False;
        for (const Bound &term : expr.terms) {
            const Truth value = evaluate(term, row);
            if (value == Truth::True)
                return Truth::True;
            if (value == Truth::Unknown)
                result = Truth::Unknown;
        }
        return result;
    }
    case Expr::Kind::Not:
        return notOf(evaluate(expr.terms.front(), row));
    case Expr::Kind::IsNull: {
        const bool isNull = operandValue(expr.a, row).isNull();
        return isNull != expr.negated ? Truth::True : Truth::False;
    }
    case Expr::Kind::In: {
        const DbValue &value = operandValue(expr.a, row);
        Truth found = Truth::False;
        for (const DbValue &candidate : expr.list) {
            const std::optional<int> order = compareValues(value, candidate);
            if (!order) {
                found = Truth::Unknown;
            } else if (*order == 0) {
                found = Truth::True;
                break;
            }
        }
        return expr.negated ? notOf(found) : found;
    }
    case Expr::Kind::Compare: {
        const std::optional<int> order = compareValues(operandValue(expr.a, row), operandValue(expr.b, row));
        if (!order)
            return Truth::Unknown;
        const int c = *order;
        bool result = false;
        if (expr.op == QLatin1String("="))
            result = c == 0;
        else if (expr.op == QLatin1String("<>") || expr.op == QLatin1String("!="))
            result = c != 0;
        else if (expr.op == QLatin1String("<"))
            result = c < 0;
        else if (expr.op == QLatin1String(">"))
            result = c > 0;
        else if (expr.op == QLatin1String("<="))
            result = c <= 0;
        else if (expr.op == QLatin1String(">="))
            result = c >= 0;
        return result ? Truth::True : Truth::False;
    }
    }
    return Truth::Unknown;
}

std::vector<ResultSet::Row> filterAndSort(const QStringList &columns, const QVector<DbValue::Kind> &kinds,
                                          std::vector<ResultSet::Row> rows, const Statement &statement)
{
    if (statement.where) {
        const Bound where = bind(*statement.where, columns, kinds);
        std::vector<ResultSet::Row> kept;
        for (ResultSet::Row &row : rows) {
            if (evaluate(where, row) == Truth::True)
                kept.push_back(std::move(row));
        }
        rows = std::move(kept);
    }
    if (!statement.order.isEmpty()) {
        std::stable_sort(rows.begin(), rows.end(), [&](const ResultSet::Row &x, const ResultSet::Row &y) {
            for (const DemoSql::OrderItem &item : statement.order) {
                const size_t column = size_t(columns.indexOf(item.column));
                const DbValue &a = x[column];
                const DbValue &b = y[column];
                int c = 0;
                if (a.isNull() || b.isNull())
                    c = a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1); // nulls sort first
                else
                    c = compareValues(a, b).value_or(0);
                if (item.descending)
                    c = -c;
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }
    return rows;
}

const QVector<DbValue::Kind> kActiveClientKinds = {DbValue::Kind::Integer, DbValue::Kind::Text, DbValue::Kind::Text,
                                                   DbValue::Kind::DateTime, DbValue::Kind::Integer,
                                                   DbValue::Kind::Integer};
const QVector<DbValue::Kind> kSettingsKinds = {DbValue::Kind::Text, DbValue::Kind::Text};

const Literal &argument(const Statement &statement, const QString &name)
{
    for (const DemoSql::Argument &arg : statement.arguments) {
        if (arg.name == name)
            return arg.value;
    }
    static const Literal null;
    return null;
}

// A text parameter: numbers are taken as their digits, null stays null.
std::optional<QString> textArgument(const Literal &literal)
{
    if (literal.kind == Literal::Kind::Null)
        return std::nullopt;
    return literal.text;
}

// An int parameter or argument: a number, or a text that reads as a whole number.
std::optional<qint64> intArgument(const Literal &literal)
{
    switch (literal.kind) {
    case Literal::Kind::Null:
        return std::nullopt;
    case Literal::Kind::Number:
        return qint64(literal.text.toDouble());
    case Literal::Kind::Text:
        return textAsNumber(literal.text, true).toVariant().toLongLong();
    }
    return std::nullopt;
}

std::optional<QDateTime> dateArgument(const Literal &literal)
{
    if (literal.kind == Literal::Kind::Null)
        return std::nullopt;
    const QDateTime value = DemoSql::parseDateText(literal.text);
    if (!value.isValid())
        throw Error::toDate();
    return value;
}

} // namespace

DemoLimsEngine::DemoLimsEngine(DemoDatabase &db) : m_db(db) {}

QVector<DbValue::Kind> DemoLimsEngine::columnKinds(const Statement &statement)
{
    switch (statement.kind) {
    case Statement::Kind::SelectFunction:
        return kActiveClientKinds;
    case Statement::Kind::SelectTable:
        return kSettingsKinds;
    default:
        return {DbValue::Kind::Integer, DbValue::Kind::Text, DbValue::Kind::Text}; // lab_login
    }
}

QVector<bool> DemoLimsEngine::codePageColumns(const Statement &statement)
{
    if (statement.kind == Statement::Kind::SelectFunction)
        return { false, true, true, false, false, false };
    return {};
}

ResultSetPtr DemoLimsEngine::run(const Statement &statement, const QDateTime &now)
{
    m_rowsChanged = -1;
    switch (statement.kind) {
    case Statement::Kind::Exec:
        if (statement.object == DemoSql::kLabLogin)
            return labLogin(statement);
        if (statement.object == DemoSql::kDistribCleanup)
            cleanup(statement, now);
        else if (statement.object == DemoSql::kDelBatch)
            deleteBatch(statement, now);
        else if (statement.object == DemoSql::kUpdStatus)
            updateStatus(statement);
        return nullptr;
    case Statement::Kind::SelectFunction:
        return selectActiveClients(statement);
    case Statement::Kind::SelectTable:
        return selectSettings(statement);
    case Statement::Kind::Update:
        updateSettings(statement);
        return nullptr;
    }
    return nullptr;
}

ResultSetPtr DemoLimsEngine::labLogin(const Statement &statement)
{
    const QStringList columns = {QStringLiteral("FG_CUSTSRV_RES"), QStringLiteral("LABCODE"),
                                 QStringLiteral("EMP_NUM")};
    std::vector<ResultSet::Row> rows;
    if (const std::optional<QString> password = textArgument(argument(statement, QStringLiteral("@password")))) {
        // Passwords compare exactly, except that the server ignores trailing blanks.
        QSqlQuery query = m_db.run(QStringLiteral("SELECT fg_custsrv_res, labcode, emp_num FROM operators "
                                                  "WHERE rtrim(password, ' ') = ? ORDER BY rowid LIMIT 1"),
                                   {DemoSql::rightTrimmed(*password)});
        while (query.next()) {
            rows.push_back({DbValue::fromVariant(query.value(0)), DbValue::fromVariant(query.value(1)),
                            DbValue::fromVariant(query.value(2))});
        }
    }
    return std::make_shared<ResultSet>(columns, std::move(rows));
}

void DemoLimsEngine::cleanup(const Statement &statement, const QDateTime &now)
{
    const std::optional<QString> type = textArgument(argument(statement, QStringLiteral("@distributionType")));
    const std::optional<QString> lab = textArgument(argument(statement, QStringLiteral("@labCode")));
    if (!type || !lab)
        return;
    const QString cutoff = demoDateText(now.addSecs(-60 * kAbandonedBatchMinutes));
    const QString abandoned = QStringLiteral(
        "SELECT b.batch_id FROM batches b JOIN clients c ON c.contact_id = b.contact_id "
        "WHERE b.created_at < ? AND b.distribution_type = ? COLLATE NOCASE AND c.lab_code = ? COLLATE NOCASE");
    const QVariantList bindings = {cutoff, DemoSql::rightTrimmed(*type), DemoSql::rightTrimmed(*lab)};
    m_db.run(QStringLiteral("UPDATE samples SET batch_id = NULL WHERE status = 'DUE' AND batch_id IN (")
                 + abandoned + QLatin1Char(')'),
             bindings);
    m_db.run(QStringLiteral("DELETE FROM batches WHERE batch_id IN (") + abandoned + QLatin1Char(')'), bindings);
}

void DemoLimsEngine::deleteBatch(const Statement &statement, const QDateTime &now)
{
    const std::optional<QString> batchId = textArgument(argument(statement, QStringLiteral("@batchId")));
    if (!batchId)
        return;
    const QString id = DemoSql::rightTrimmed(*batchId);
    m_db.run(QStringLiteral("UPDATE samples SET status = 'DISTRIBUTED', distributed_at = ? "
                            "WHERE batch_id = ? AND status = 'DUE'"),
             {demoDateText(now), id});
    m_db.run(QStringLiteral("DELETE FROM batches WHERE batch_id = ?"), {id});
}

void DemoLimsEngine::updateStatus(const Statement &statement)
{
    const std::optional<qint64> contactId = intArgument(argument(statement, QStringLiteral("@contactId")));
    const std::optional<QDateTime> date = dateArgument(argument(statement, QStringLiteral("@shipmentDate")));
    const QString status = textArgument(argument(statement, QStringLiteral("@status"))).value_or(QString());
    QString newStatus;
    if (DemoSql::sameText(status, QStringLiteral("HOLD")))
        newStatus = QStringLiteral("HOLD");
    else if (DemoSql::sameText(status, QStringLiteral("DELETE")))
        newStatus = QStringLiteral("DELETED");
    else
        throw Error(50000, QStringLiteral("42000"), QStringLiteral("Unknown distribution status '%1'.").arg(status));
    if (!contactId || !date)
        return;
    m_db.run(QStringLiteral("UPDATE samples SET status = ? WHERE contact_id = ? AND rec_date = ? AND status = 'DUE' "
                            "AND distribution_type = 'HARD_COPY'"),
             {newStatus, *contactId, demoDateText(*date)});
}

QVector<DemoLimsEngine::ClientRow> DemoLimsEngine::activeClients(const QString &type, const QString &lab,
                                                                 qint64 threshold, bool custom)
{
    const QString qualifies = QStringLiteral("MAX(CASE WHEN s.severity >= ? AND (? = 0 OR s.custom_flag = 1) "
                                             "THEN 1 ELSE 0 END)");
    QSqlQuery query = m_db.run(
        QStringLiteral("SELECT s.contact_id, c.contact_name, c.enduser_id, s.rec_date, COUNT(*) "
                       "FROM samples s JOIN clients c ON c.contact_id = s.contact_id "
                       "WHERE s.status = 'DUE' AND s.distribution_type = ? COLLATE NOCASE "
                       "AND c.lab_code = ? COLLATE NOCASE "
                       "GROUP BY s.contact_id, s.rec_date HAVING ")
            + qualifies
            + QStringLiteral(" = 1 ORDER BY s.rec_date, c.contact_name COLLATE NOCASE, s.contact_id"),
        {DemoSql::rightTrimmed(type), DemoSql::rightTrimmed(lab), threshold, custom ? 1 : 0});
    QVector<ClientRow> rows;
    while (query.next()) {
        ClientRow row;
        row.contactId = query.value(0).toLongLong();
        row.contactName = query.value(1).toString();
        row.endUserId = query.value(2).toString();
        row.recDate = demoDateFromText(query.value(3).toString());
        row.samples = query.value(4).toLongLong();
        rows.push_back(row);
    }
    return rows;
}

ResultSetPtr DemoLimsEngine::selectActiveClients(const Statement &statement)
{
    const QStringList columns = DemoSql::activeClientsColumns();
    const std::optional<QString> type = textArgument(statement.functionArgs.at(0));
    const std::optional<QString> lab = textArgument(statement.functionArgs.at(1));
    const std::optional<qint64> threshold = intArgument(statement.functionArgs.at(2));
    const std::optional<qint64> custom = intArgument(statement.functionArgs.at(3));

    QVector<ClientRow> clients;
    if (type && lab && threshold && custom)
        clients = activeClients(*type, *lab, *threshold, *custom != 0);

    // The function's own total covers its whole answer, so a where clause on
    // TOTAL_REPORTS sees that; the rows returned then carry the total of what the
    // query returns, which is what the station's batch progress counts down.
    qint64 functionTotal = 0;
    for (const ClientRow &client : clients)
        functionTotal += client.samples;
    std::vector<ResultSet::Row> rows;
    rows.reserve(size_t(clients.size()));
    for (const ClientRow &client : clients) {
        rows.push_back({DbValue::fromInt(client.contactId), DbValue::fromText(client.contactName),
                        DbValue::fromText(client.endUserId), DbValue::fromDateTime(client.recDate),
                        DbValue::fromInt(client.samples), DbValue::fromInt(functionTotal)});
    }
    rows = filterAndSort(columns, kActiveClientKinds, std::move(rows), statement);
    qint64 total = 0;
    for (const ResultSet::Row &row : rows)
        total += row[4].toVariant().toLongLong();
    for (ResultSet::Row &row : rows)
        row[5] = DbValue::fromInt(total);
    return std::make_shared<ResultSet>(columns, std::move(rows));
}

ResultSetPtr DemoLimsEngine::selectSettings(const Statement &statement)
{
    const QStringList columns = DemoSql::settingsColumns();
    QSqlQuery query = m_db.run(QStringLiteral("SELECT parameter, value FROM settings ORDER BY rowid"));
    std::vector<ResultSet::Row> rows;
    while (query.next())
        rows.push_back({DbValue::fromVariant(query.value(0)), DbValue::fromVariant(query.value(1))});
    return std::make_shared<ResultSet>(columns, filterAndSort(columns, kSettingsKinds, std::move(rows), statement));
}

void DemoLimsEngine::updateSettings(const Statement &statement)
{
    const QStringList columns = DemoSql::settingsColumns();
    QVector<qint64> matched;
    std::optional<Bound> where;
    if (statement.where)
        where = bind(*statement.where, columns, kSettingsKinds);
    {
        QSqlQuery query = m_db.run(QStringLiteral("SELECT rowid, parameter, value FROM settings ORDER BY rowid"));
        while (query.next()) {
            const ResultSet::Row row = {DbValue::fromVariant(query.value(1)), DbValue::fromVariant(query.value(2))};
            if (!where || evaluate(*where, row) == Truth::True)
                matched.push_back(query.value(0).toLongLong());
        }
    }
    m_rowsChanged = matched.size();
    for (const qint64 rowid : matched) {
        for (const DemoSql::Assignment &assignment : statement.assignments) {
            const QString column = assignment.column == QLatin1String("PARAMETER") ? QStringLiteral("parameter")
                                                                                    : QStringLiteral("value");
            const QVariant value = assignment.value.kind == Literal::Kind::Null ? QVariant()
                                                                                 : QVariant(assignment.value.text);
            m_db.run(QStringLiteral("UPDATE settings SET %1 = ? WHERE rowid = ?").arg(column), {value, rowid});
        }
    }
}

QString DemoLimsEngine::createBatch(qint64 contactId, const QDateTime &recDate, const QDateTime &now,
                                    const QString &type)
{
    // The request names the record date in the station's date text, to the second, while
    // the LIMS keeps it to 1/300 s: the group is the client's due samples of that second.
    const QDateTime second(
        recDate.date(), QTime(recDate.time().hour(), recDate.time().minute(), recDate.time().second()));
    const QVariantList group = { contactId, demoDateText(second), demoDateText(second.addSecs(1)), type };
    const QString inGroup = QStringLiteral("contact_id = ? AND rec_date >= ? AND rec_date < ? "
                                           "AND distribution_type = ? COLLATE NOCASE AND status = 'DUE'");
    qint64 due = 0;
    QString groupDate;
    {
        QSqlQuery count
            = m_db.run(QStringLiteral("SELECT COUNT(*), MIN(rec_date) FROM samples WHERE ") + inGroup, group);
        if (count.next()) {
            due = count.value(0).toLongLong();
            groupDate = count.value(1).toString();
        }
    }
    if (due == 0)
        return {};
    qint64 next = 70001;
    {
        QSqlQuery counter = m_db.run(QStringLiteral("SELECT value FROM demo_meta WHERE key = 'next_batch_id'"));
        if (counter.next())
            next = counter.value(0).toLongLong();
    }
    const QString batchId = QString::number(next);
    m_db.run(QStringLiteral("INSERT OR REPLACE INTO demo_meta(key, value) VALUES('next_batch_id', ?)"),
             {QString::number(next + 1)});
    m_db.run(QStringLiteral("INSERT INTO batches(batch_id, contact_id, rec_date, distribution_type, created_at) "
                            "VALUES(?, ?, ?, ?, ?)"),
        { batchId, contactId, groupDate, type, demoDateText(now) });
    // A group asked for again takes its samples over from its earlier, unprinted batch.
    m_db.run(QStringLiteral("UPDATE samples SET batch_id = ? WHERE ") + inGroup, QVariantList { batchId } + group);
    m_db.run(QStringLiteral("DELETE FROM batches WHERE batch_id <> ? AND NOT EXISTS "
                            "(SELECT 1 FROM samples s WHERE s.batch_id = batches.batch_id)"),
             {batchId});
    return batchId;
}

std::optional<DemoLimsEngine::BatchView> DemoLimsEngine::batch(const QString &batchId)
{
    const QString id = DemoSql::rightTrimmed(batchId).trimmed();
    if (id.isEmpty())
        return std::nullopt;
    BatchView view;
    view.batchId = id;
    {
        QSqlQuery open = m_db.run(QStringLiteral("SELECT contact_id, rec_date FROM batches WHERE batch_id = ?"), {id});
        if (open.next()) {
            view.open = true;
            view.contactId = open.value(0).toLongLong();
            view.recDate = demoDateFromText(open.value(1).toString());
        }
    }
    {
        QSqlQuery samples = m_db.run(
            QStringLiteral("SELECT sample_id, sample_no, matrix, analysis, result, severity, custom_flag, status, "
                           "contact_id, rec_date FROM samples WHERE batch_id = ? ORDER BY sample_no, sample_id"),
            {id});
        while (samples.next()) {
            SampleView sample;
            sample.sampleId = samples.value(0).toLongLong();
            sample.sampleNo = samples.value(1).toString();
            sample.matrix = samples.value(2).toString();
            sample.analysis = samples.value(3).toString();
            sample.result = samples.value(4).toString();
            sample.severity = samples.value(5).toInt();
            sample.custom = samples.value(6).toInt() != 0;
            sample.status = samples.value(7).toString();
            if (!view.open) {
                view.contactId = samples.value(8).toLongLong();
                view.recDate = demoDateFromText(samples.value(9).toString());
            }
            view.samples.push_back(sample);
        }
    }
    if (!view.open && view.samples.isEmpty())
        return std::nullopt;
    QSqlQuery client = m_db.run(
        QStringLiteral("SELECT contact_name, enduser_id, lab_code FROM clients WHERE contact_id = ?"), {view.contactId});
    if (client.next()) {
        view.contactName = client.value(0).toString();
        view.endUserId = client.value(1).toString();
        view.labCode = client.value(2).toString();
    }
    return view;
}
