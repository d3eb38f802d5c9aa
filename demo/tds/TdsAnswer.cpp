#include "demo/tds/TdsAnswer.h"

#include <limits>

#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsWriter.h"

namespace {

using Column = TdsWriter::Column;

constexpr quint16 kSelectCommand = 0xC1;
constexpr quint16 kUpdateCommand = 0xC5;
constexpr quint16 kExecCommand = 0xE0;
// Longer texts travel as nvarchar(max).
constexpr int kLongestNVarChar = 4000;

bool fitsInt32(qint64 value)
{
    return value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max();
}

// The wire type of each column: the engine's, unless a value says otherwise.
QVector<Column> columnTypes(const DemoStatementAnswer &answer, QVector<int> *maxChars)
{
    const ResultSet &rows = *answer.rows;
    QVector<Column> types;
    maxChars->fill(1, rows.columnCount());
    for (int c = 0; c < rows.columnCount(); ++c) {
        const DbValue::Kind kind = c < answer.kinds.size() ? answer.kinds.at(c) : DbValue::Kind::Text;
        bool sameKind = true;
        bool wide = false;
        for (int r = 0; r < rows.rowCount(); ++r) {
            const DbValue &value = rows.value(r, c);
            if (value.isNull())
                continue;
            sameKind = sameKind && value.kind() == kind;
            if (value.kind() == DbValue::Kind::Integer)
                wide = wide || !fitsInt32(value.toVariant().toLongLong());
            (*maxChars)[c] = qMax((*maxChars)[c], int(value.concatText().size()));
        }
        const bool codePage = c < answer.codePageText.size() && answer.codePageText.at(c);
        if (sameKind && kind == DbValue::Kind::Integer)
            types << (wide ? Column::BigInt : Column::Int);
        else if (sameKind && kind == DbValue::Kind::DateTime)
            types << Column::DateTime;
        else if (sameKind && kind == DbValue::Kind::Text && codePage && (*maxChars)[c] <= TdsWriter::kLongestVarChar)
            types << Column::VarChar;
        else
            types << ((*maxChars)[c] > kLongestNVarChar ? Column::NVarCharMax : Column::NVarChar);
    }
    return types;
}

void writeValue(TdsWriter &tokens, Column type, const DbValue &value)
{
    if (value.isNull()) {
        tokens.nullValue(type);
        return;
    }
    switch (type) {
    case Column::Int:
    case Column::BigInt:
        tokens.intValue(type, value.toVariant().toLongLong());
        break;
    case Column::DateTime:
        tokens.dateTimeValue(value.toDateTime());
        break;
    case Column::NVarChar:
    case Column::NVarCharMax:
        tokens.textValue(type, value.concatText());
        break;
    case Column::VarChar:
        if (!tokens.textValue(type, value.concatText())) {
            qCWarning(lcDemo).noquote() << "TDS: a varchar value has characters outside code page 1252, sent as '?':"
                                        << value.concatText().left(80);
        }
        break;
    }
}

// Returns the offset half-way through the rows.
qsizetype writeRows(TdsWriter &tokens, const DemoStatementAnswer &answer)
{
    const ResultSet &rows = *answer.rows;
    QVector<int> maxChars;
    const QVector<Column> types = columnTypes(answer, &maxChars);
    QStringList names;
    for (int c = 0; c < rows.columnCount(); ++c)
        names << rows.columnName(c);
    tokens.columnMetadata(types, names, maxChars);
    qsizetype middle = tokens.size();
    for (int r = 0; r < rows.rowCount(); ++r) {
        if (r == rows.rowCount() / 2)
            middle = tokens.size();
        tokens.rowToken();
        for (int c = 0; c < rows.columnCount(); ++c)
            writeValue(tokens, types.at(c), rows.value(r, c));
    }
    return middle;
}

} // namespace

quint8 errorClass(const DemoSql::Error &error)
{
    switch (error.nativeError()) {
    case 102:
    case 105:
    case 156:
        return 15;
    case 18456:
        return 14;
    default:
        return error.sqlState().startsWith(QLatin1String("01")) ? 10 : 16;
    }
}

void writeAnswer(const DemoBatchOutcome &outcome, TdsWriter &tokens, qsizetype *cutAt)
{
    if (outcome.kind == DemoBatchOutcome::Kind::Failed && outcome.error) {
        tokens.message(outcome.error->nativeError(), 1, errorClass(*outcome.error), outcome.error->message());
        tokens.done(TdsWriter::kDoneError, 0, 0);
        *cutAt = 0;
        return;
    }
    *cutAt = -1;
    if (outcome.answers.isEmpty()) {
        *cutAt = 0;
        tokens.done(0, 0, 0);
        return;
    }
    for (qsizetype i = 0; i < outcome.answers.size(); ++i) {
        const DemoStatementAnswer &answer = outcome.answers.at(i);
        const bool last = i + 1 == outcome.answers.size();
        if (answer.rows) {
            const qsizetype middle = writeRows(tokens, answer);
            if (*cutAt < 0)
                *cutAt = middle;
        }
        if (last && *cutAt < 0)
            *cutAt = tokens.size();
        const quint16 more = last && !outcome.message ? 0 : TdsWriter::kDoneMore;
        const quint16 command = answer.rows ? kSelectCommand : (answer.count >= 0 ? kUpdateCommand : kExecCommand);
        const quint16 counted = answer.count >= 0 ? TdsWriter::kDoneCount : 0;
        tokens.done(more | counted, command, quint64(qMax<qint64>(0, answer.count)));
    }
    // Like a PRINT at the end of the batch: a message and a DONE of its own.
    if (outcome.message) {
        tokens.message(outcome.message->nativeError(), 1, errorClass(*outcome.message), outcome.message->message());
        tokens.done(0, kExecCommand, 0);
    }
}
