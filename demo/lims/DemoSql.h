#pragma once

#include <exception>
#include <memory>
#include <string>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include "platform/database/DbConnection.h"

// The demo LIMS's front end: a strict recogniser of the few T-SQL shapes that the LIMS
// offers (exec of its stored procedures with named parameters, select * from its
// table-valued function or its settings table, update of the settings table, several
// of them in one batch). Everything else fails as SQL Server would fail it, so that a
// statement text the station gets wrong shows up in a test instead of passing quietly.
namespace DemoSql {

// A failure as the server reports it: the provider number, the server's own error
// number, the SQLSTATE and the server's message text.
class Error : public std::exception
{
public:
    Error(int nativeError, QString sqlState, QString message, qint32 number = kProviderErrorNumber);

    int nativeError() const { return m_native; }
    QString sqlState() const { return m_sqlState; }
    QString message() const { return m_message; }
    qint32 number() const { return m_number; }
    const char *what() const noexcept override { return m_what.c_str(); }

    ProviderMessage toProviderMessage() const;

    static Error syntaxNear(const QString &text, bool keyword = false);
    static Error unclosedQuote(const QString &text);
    static Error invalidObject(const QString &name);
    static Error procedureNotFound(const QString &name);
    static Error invalidColumn(const QString &name);
    static Error notAParameter(const QString &parameter, const QString &procedure);
    static Error parameterMissing(const QString &procedure, const QString &parameter);
    static Error parameterTwice(const QString &parameter);
    static Error tooFewArguments(const QString &function);
    static Error tooManyArguments(const QString &function);
    static Error toInt(const QString &text);
    static Error toDate();
    static Error timeout();
    static Error linkFailure();

private:
    int m_native;
    QString m_sqlState;
    QString m_message;
    qint32 m_number;
    std::string m_what;
};

struct Literal
{
    enum class Kind { Null, Text, Number };
    Kind kind = Kind::Null;
    QString text; // the value: a text literal with its doubled quotes undone, or the number's digits
};

struct Operand
{
    bool isColumn = false;
    QString column;  // the object's own spelling of the column
    Literal literal;
};

struct Expr;
using ExprPtr = std::shared_ptr<const Expr>;

struct Expr
{
    enum class Kind { And, Or, Not, Compare, In, IsNull };
    Kind kind = Kind::Compare;
    // And, Or: all their terms (a chain of "and" is one node, so a long list of
    // exclusion clauses stays flat); Not: its one term.
    QVector<ExprPtr> terms;
    Operand a;        // Compare, In, IsNull
    Operand b;        // Compare
    QString op;       // Compare: = <> != < > <= >=
    QVector<Literal> list; // In
    bool negated = false;  // NOT IN, IS NOT NULL
};

struct OrderItem
{
    QString column;
    bool descending = false;
};

struct Assignment
{
    QString column;
    Literal value;
};

struct Argument
{
    QString name;  // the parameter's own spelling, with the @
    Literal value;
};

struct Statement
{
    enum class Kind { Exec, SelectFunction, SelectTable, Update };
    Kind kind = Kind::Exec;
    QString object;                // the object's canonical three-part name
    QVector<Argument> arguments;   // Exec: by parameter
    QVector<Literal> functionArgs; // SelectFunction: by position
    ExprPtr where;                 // null: no where clause
    QVector<OrderItem> order;
    QVector<Assignment> assignments; // Update
};

// The objects of the LIMS, by canonical name.
extern const QString kLabLogin;
extern const QString kDistribCleanup;
extern const QString kActiveClients;
extern const QString kDelBatch;
extern const QString kUpdStatus;
extern const QString kSettings;

// The columns of the active-clients function and of the settings table, in order.
QStringList activeClientsColumns();
QStringList settingsColumns();

// Recognises a whole batch; throws Error at the first thing that is not one of the
// LIMS's shapes. Nothing runs before the whole batch has been recognised.
QVector<Statement> parseBatch(const QString &text);

// A date text as SQL Server reads one under the US date order: the station's general
// date format (with or without the time part), the usual month/day/year variants and
// ISO 8601, the latter also with milliseconds (kept to 1/300 s, as the server converts a
// literal to datetime). Invalid when it reads none of them.
QDateTime parseDateText(const QString &text);

// Comparisons of text as the LIMS's collation makes them: case-insensitive, trailing
// blanks ignored.
bool sameText(const QString &a, const QString &b);
QString rightTrimmed(const QString &text);

} // namespace DemoSql
