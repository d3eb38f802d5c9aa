#include "demo/lims/DemoSql.h"

#include <QHash>
#include <QSet>

#include "demo/lims/DemoDatabase.h"
#include "platform/database/DbValue.h"

namespace DemoSql {

const QString kLabLogin = QStringLiteral("lab.dbo.lab_login");
const QString kDistribCleanup = QStringLiteral("labrack.dbo.distrib_cleanup");
const QString kActiveClients = QStringLiteral("labrack.dbo.tbl_Distrib_ActiveClients");
const QString kDelBatch = QStringLiteral("labrack.dbo.Distrib_ActiveSamples_DelBatch");
const QString kUpdStatus = QStringLiteral("labrack.dbo.distrib_UPD_status");
const QString kSettings = QStringLiteral("cinrg.dbo.settings");

namespace {

// The server's messages carry its driver prefix, as the ODBC driver hands them on.
const QString kPrefix = QStringLiteral("[Demo LIMS][SQL Server]");

} // namespace

Error::Error(int nativeError, QString sqlState, QString message, qint32 number)
    : m_native(nativeError)
    , m_sqlState(std::move(sqlState))
    , m_message(std::move(message))
    , m_number(number)
    , m_what(m_message.toStdString())
{
}

ProviderMessage Error::toProviderMessage() const
{
    ProviderMessage message;
    message.Number = m_number;
    message.Description = kPrefix + m_message;
    message.SqlState = m_sqlState;
    message.NativeError = m_native;
    return message;
}

Error Error::syntaxNear(const QString &text, bool keyword)
{
    if (keyword)
        return {156, QStringLiteral("42000"), QStringLiteral("Incorrect syntax near the keyword '%1'.").arg(text)};
    return {102, QStringLiteral("42000"), QStringLiteral("Incorrect syntax near '%1'.").arg(text)};
}

Error Error::unclosedQuote(const QString &text)
{
    return {105, QStringLiteral("42000"),
            QStringLiteral("Unclosed quotation mark after the character string '%1'.").arg(text)};
}

Error Error::invalidObject(const QString &name)
{
    return {208, QStringLiteral("42S02"), QStringLiteral("Invalid object name '%1'.").arg(name)};
}

Error Error::procedureNotFound(const QString &name)
{
    return {2812, QStringLiteral("42000"), QStringLiteral("Could not find stored procedure '%1'.").arg(name)};
}

Error Error::invalidColumn(const QString &name)
{
    return {207, QStringLiteral("42S22"), QStringLiteral("Invalid column name '%1'.").arg(name)};
}

Error Error::notAParameter(const QString &parameter, const QString &procedure)
{
    return {8145, QStringLiteral("42000"),
            QStringLiteral("%1 is not a parameter for procedure %2.").arg(parameter, procedure)};
}

Error Error::parameterMissing(const QString &procedure, const QString &parameter)
{
    return {201, QStringLiteral("42000"),
            QStringLiteral("Procedure or function '%1' expects parameter '%2', which was not supplied.")
                .arg(procedure, parameter)};
}

Error Error::parameterTwice(const QString &parameter)
{
    return {8143, QStringLiteral("42000"), QStringLiteral("Parameter '%1' was supplied multiple times.").arg(parameter)};
}

Error Error::tooFewArguments(const QString &function)
{
    return {216, QStringLiteral("42000"),
            QStringLiteral("Parameters were not supplied for the function '%1'.").arg(function)};
}

Error Error::tooManyArguments(const QString &function)
{
    return {8144, QStringLiteral("42000"),
            QStringLiteral("Procedure or function %1 has too many arguments specified.").arg(function)};
}

Error Error::toInt(const QString &text)
{
    return {245, QStringLiteral("22018"),
            QStringLiteral("Conversion failed when converting the varchar value '%1' to data type int.").arg(text)};
}

Error Error::toDate()
{
    return {241, QStringLiteral("22007"),
            QStringLiteral("Conversion failed when converting date and/or time from character string.")};
}

Error Error::timeout()
{
    return {0, QStringLiteral("HYT00"), QStringLiteral("Query timeout expired"), kQueryTimeoutNumber};
}

Error Error::linkFailure()
{
    return {0, QStringLiteral("08S01"), QStringLiteral("Communication link failure")};
}

bool sameText(const QString &a, const QString &b)
{
    return rightTrimmed(a).compare(rightTrimmed(b), Qt::CaseInsensitive) == 0;
}

QString rightTrimmed(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

QDateTime parseDateText(const QString &text)
{
    const QString value = text.trimmed();
    if (value.isEmpty())
        return {};
    const QString date = DbValue::generalDatePart();
    const QString time = DbValue::generalTimePart();
    const QStringList formats = {
        date + QLatin1Char(' ') + time,
        date,
        QStringLiteral("M/d/yyyy h:mm:ss AP"),
        QStringLiteral("M/d/yyyy h:mm AP"),
        QStringLiteral("M/d/yyyy H:mm:ss"),
        QStringLiteral("M/d/yyyy H:mm"),
        QStringLiteral("M/d/yyyy"),
        QStringLiteral("yyyy-MM-dd HH:mm:ss"),
        QStringLiteral("yyyy-MM-ddTHH:mm:ss"),
        QStringLiteral("yyyy-MM-dd HH:mm:ss.z"),
        QStringLiteral("yyyy-MM-ddTHH:mm:ss.z"),
        QStringLiteral("yyyy-MM-dd HH:mm"),
        QStringLiteral("yyyy-MM-dd"),
        QStringLiteral("yyyyMMdd"),
    };
    for (const QString &format : formats) {
        const QDateTime parsed = QDateTime::fromString(value, format);
        // A literal with a fraction becomes a datetime as the column keeps one.
        if (parsed.isValid())
            return demoKeptDateTime(parsed);
    }
    return {};
}

namespace {

struct Token
{
    enum class Kind { Word, QuotedName, Variable, String, Number, Symbol, End };
    Kind kind = Kind::End;
    QString text;
};

const QSet<QString> &keywords()
{
    static const QSet<QString> words = {
        QStringLiteral("select"), QStringLiteral("from"), QStringLiteral("where"), QStringLiteral("and"),
        QStringLiteral("or"), QStringLiteral("not"), QStringLiteral("in"), QStringLiteral("is"),
        QStringLiteral("null"), QStringLiteral("order"), QStringLiteral("by"), QStringLiteral("exec"),
        QStringLiteral("execute"), QStringLiteral("update"), QStringLiteral("set"), QStringLiteral("with"),
        QStringLiteral("asc"), QStringLiteral("desc"), QStringLiteral("insert"), QStringLiteral("delete"),
        QStringLiteral("drop"), QStringLiteral("into"), QStringLiteral("values"), QStringLiteral("union"),
    };
    return words;
}

bool isKeyword(const Token &token)
{
    return token.kind == Token::Kind::Word && keywords().contains(token.text.toLower());
}

bool isWordStart(QChar c) { return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('#'); }
bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('#') || c == QLatin1Char('@')
        || c == QLatin1Char('$');
}
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// The value of a string literal whose text starts at start (after its opening quote),
// doubled quotes made single; the position after its closing quote.
qsizetype readString(const QString &text, qsizetype start, QString *value)
{
    const qsizetype n = text.size();
    qsizetype j = start;
    while (j < n) {
        if (text.at(j) == QLatin1Char('\'')) {
            if (j + 1 < n && text.at(j + 1) == QLatin1Char('\'')) {
                *value += QLatin1Char('\'');
                j += 2;
                continue;
            }
            return j + 1;
        }
        *value += text.at(j);
        ++j;
    }
    throw Error::unclosedQuote(*value);
}

// Where the number that starts at i ends: digits, and a fraction.
qsizetype numberEnd(const QString &text, qsizetype i)
{
    const qsizetype n = text.size();
    qsizetype j = i;
    while (j < n && text.at(j).isDigit())
        ++j;
    if (j < n && text.at(j) == QLatin1Char('.')) {
        ++j;
        while (j < n && text.at(j).isDigit())
            ++j;
    }
    // "17abc" is not a number followed by a name for the server either.
    if (j < n && isWordStart(text.at(j)))
        throw Error::syntaxNear(text.mid(i, j - i + 1));
    return j;
}

QVector<Token> tokenise(const QString &text)
{
    QVector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text.at(i);
        if (isBlank(c)) {
            ++i;
            continue;
        }
        Token token;
        const bool national = (c == QLatin1Char('N') || c == QLatin1Char('n')) && i + 1 < n
            && text.at(i + 1) == QLatin1Char('\'');
        if (c == QLatin1Char('\'') || national) {
            token.kind = Token::Kind::String;
            i = readString(text, national ? i + 2 : i + 1, &token.text);
        } else if (c == QLatin1Char('@')) {
            qsizetype j = i + 1;
            while (j < n && isWordChar(text.at(j)))
                ++j;
            if (j == i + 1)
                throw Error::syntaxNear(QStringLiteral("@"));
            token.kind = Token::Kind::Variable;
            token.text = text.mid(i, j - i);
            i = j;
        } else if (isWordStart(c)) {
            qsizetype j = i + 1;
            while (j < n && isWordChar(text.at(j)))
                ++j;
            token.kind = Token::Kind::Word;
            token.text = text.mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char('[')) {
            const qsizetype close = text.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0)
                throw Error {105, QStringLiteral("42000"),
                             QStringLiteral("Unclosed quotation mark after the character string '%1'.")
                                 .arg(text.mid(i + 1))};
            token.kind = Token::Kind::QuotedName;
            token.text = text.mid(i + 1, close - i - 1);
            i = close + 1;
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && text.at(i + 1).isDigit())) {
            const qsizetype j = numberEnd(text, i);
            token.kind = Token::Kind::Number;
            token.text = text.mid(i, j - i);
            i = j;
        } else {
            static const QStringList twoChar = {QStringLiteral("<>"), QStringLiteral("!="), QStringLiteral("<="),
                                                QStringLiteral(">=")};
            const QString pair = text.mid(i, 2);
            if (twoChar.contains(pair)) {
                token.kind = Token::Kind::Symbol;
                token.text = pair;
                i += 2;
            } else if (QStringLiteral("(),=<>*.;-+").contains(c)) {
                token.kind = Token::Kind::Symbol;
                token.text = c;
                ++i;
            } else {
                throw Error::syntaxNear(c);
            }
        }
        tokens.push_back(token);
    }
    tokens.push_back(Token {});
    return tokens;
}

struct ProcedureInfo
{
    QString name;
    QString shortName;
    QStringList parameters;
};

const QVector<ProcedureInfo> &procedures()
{
    static const QVector<ProcedureInfo> list = {
        {kLabLogin, QStringLiteral("lab_login"), {QStringLiteral("@password")}},
        {kDistribCleanup, QStringLiteral("distrib_cleanup"),
         {QStringLiteral("@distributionType"), QStringLiteral("@labCode")}},
        {kDelBatch, QStringLiteral("Distrib_ActiveSamples_DelBatch"), {QStringLiteral("@batchId")}},
        {kUpdStatus, QStringLiteral("distrib_UPD_status"),
         {QStringLiteral("@ratingString"), QStringLiteral("@contactId"), QStringLiteral("@status"),
          QStringLiteral("@shipmentDate")}},
    };
    return list;
}

const ProcedureInfo *findProcedure(const QString &name)
{
    for (const ProcedureInfo &info : procedures()) {
        if (info.name.compare(name, Qt::CaseInsensitive) == 0)
            return &info;
    }
    return nullptr;
}

class Parser
{
public:
    explicit Parser(const QString &text) : m_tokens(tokenise(text)) {}

    QVector<Statement> batch()
    {
        QVector<Statement> statements;
        if (peek().kind == Token::Kind::End)
            throw Error::syntaxNear(QString());
        while (peek().kind != Token::Kind::End) {
            statements.push_back(statement());
            while (isSymbol(peek(), QStringLiteral(";")))
                next();
        }
        return statements;
    }

private:
    const Token &peek(int ahead = 0) const
    {
        const int index = qMin(m_pos + ahead, int(m_tokens.size()) - 1);
        return m_tokens.at(index);
    }
    const Token &next()
    {
        const Token &token = m_tokens.at(m_pos);
        if (m_pos < m_tokens.size() - 1)
            ++m_pos;
        return token;
    }

    static bool isSymbol(const Token &token, const QString &symbol)
    {
        return token.kind == Token::Kind::Symbol && token.text == symbol;
    }
    static bool isWord(const Token &token, const char *word)
    {
        return token.kind == Token::Kind::Word && token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }

    // The error the server gives for the token where the shape breaks off; at the end of
    // the text it names the last token.
    [[noreturn]] void failAt(const Token &token) const
    {
        if (token.kind == Token::Kind::End) {
            const Token &last = m_pos > 0 ? m_tokens.at(m_pos - 1) : token;
            throw Error::syntaxNear(last.text, isKeyword(last));
        }
        throw Error::syntaxNear(token.text, isKeyword(token));
    }

    void expectSymbol(const QString &symbol)
    {
        if (!isSymbol(peek(), symbol))
            failAt(peek());
        next();
    }
    void expectWord(const char *word)
    {
        if (!isWord(peek(), word))
            failAt(peek());
        next();
    }

    // A statement ends where the next one begins, at a semicolon or at the end of the
    // text; anything else after it is not part of any shape.
    void expectStatementEnd()
    {
        const Token &token = peek();
        if (token.kind == Token::Kind::End || isSymbol(token, QStringLiteral(";")) || isWord(token, "exec")
            || isWord(token, "execute") || isWord(token, "select") || isWord(token, "update"))
            return;
        failAt(token);
    }

    QString identifierPart()
    {
        const Token &token = peek();
        if ((token.kind == Token::Kind::Word && !isKeyword(token)) || token.kind == Token::Kind::QuotedName) {
            next();
            return token.text;
        }
        failAt(token);
    }

    QString objectName()
    {
        QStringList parts {identifierPart()};
        while (isSymbol(peek(), QStringLiteral("."))) {
            next();
            parts.push_back(identifierPart());
        }
        if (parts.size() > 4)
            failAt(peek());
        return parts.join(QLatin1Char('.'));
    }

    Literal literal()
    {
        const Token &token = peek();
        Literal value;
        if (token.kind == Token::Kind::String) {
            value.kind = Literal::Kind::Text;
            value.text = token.text;
            next();
        } else if (token.kind == Token::Kind::Number) {
            value.kind = Literal::Kind::Number;
            value.text = token.text;
            next();
        } else if ((isSymbol(token, QStringLiteral("-")) || isSymbol(token, QStringLiteral("+")))
                   && peek(1).kind == Token::Kind::Number) {
            const bool negative = token.text == QLatin1String("-");
            next();
            value.kind = Literal::Kind::Number;
            value.text = (negative ? QStringLiteral("-") : QString()) + next().text;
        } else if (isWord(token, "null")) {
            value.kind = Literal::Kind::Null;
            next();
        } else {
            failAt(token);
        }
        return value;
    }

    Statement statement()
    {
        const Token &first = peek();
        if (isWord(first, "exec") || isWord(first, "execute"))
            return exec();
        if (isWord(first, "select"))
            return select();
        if (isWord(first, "update"))
            return update();
        failAt(first);
    }

    Statement exec()
    {
        next();
        const QString name = objectName();
        const ProcedureInfo *procedure = findProcedure(name);
        if (!procedure)
            throw Error::procedureNotFound(name);
        Statement statement;
        statement.kind = Statement::Kind::Exec;
        statement.object = procedure->name;
        if (peek().kind == Token::Kind::Variable) {
            for (;;) {
                const QString written = next().text;
                QString parameter;
                for (const QString &known : procedure->parameters) {
                    if (known.compare(written, Qt::CaseInsensitive) == 0)
                        parameter = known;
                }
                expectSymbol(QStringLiteral("="));
                Argument argument {parameter, literal()};
                if (parameter.isEmpty())
                    throw Error::notAParameter(written, procedure->shortName);
                for (const Argument &earlier : statement.arguments) {
                    if (earlier.name == parameter)
                        throw Error::parameterTwice(written);
                }
                statement.arguments.push_back(argument);
                if (!isSymbol(peek(), QStringLiteral(",")))
                    break;
                next();
                if (peek().kind != Token::Kind::Variable)
                    failAt(peek());
            }
        }
        expectStatementEnd();
        for (const QString &parameter : procedure->parameters) {
            bool supplied = false;
            for (const Argument &argument : statement.arguments)
                supplied = supplied || argument.name == parameter;
            if (!supplied)
                throw Error::parameterMissing(procedure->shortName, parameter);
        }
        return statement;
    }

    Statement select()
    {
        next();
        expectSymbol(QStringLiteral("*"));
        expectWord("from");
        const QString name = objectName();
        Statement statement;
        QStringList columns;
        if (name.compare(kActiveClients, Qt::CaseInsensitive) == 0) {
            statement.kind = Statement::Kind::SelectFunction;
            statement.object = kActiveClients;
            columns = activeClientsColumns();
            if (!isSymbol(peek(), QStringLiteral("(")))
                throw Error::tooFewArguments(name);
            next();
            if (!isSymbol(peek(), QStringLiteral(")"))) {
                statement.functionArgs.push_back(literal());
                while (isSymbol(peek(), QStringLiteral(","))) {
                    next();
                    statement.functionArgs.push_back(literal());
                }
            }
            expectSymbol(QStringLiteral(")"));
            if (statement.functionArgs.size() < 4)
                throw Error::tooFewArguments(name);
            if (statement.functionArgs.size() > 4)
                throw Error::tooManyArguments(QStringLiteral("tbl_Distrib_ActiveClients"));
        } else if (name.compare(kSettings, Qt::CaseInsensitive) == 0) {
            statement.kind = Statement::Kind::SelectTable;
            statement.object = kSettings;
            columns = settingsColumns();
            tableHint();
        } else {
            throw Error::invalidObject(name);
        }
        if (isWord(peek(), "where")) {
            next();
            statement.where = expression(columns);
        }
        if (isWord(peek(), "order")) {
            next();
            expectWord("by");
            for (;;) {
                OrderItem item;
                item.column = column(columns);
                if (isWord(peek(), "asc")) {
                    next();
                } else if (isWord(peek(), "desc")) {
                    next();
                    item.descending = true;
                }
                statement.order.push_back(item);
                if (!isSymbol(peek(), QStringLiteral(",")))
                    break;
                next();
            }
        }
        expectStatementEnd();
        return statement;
    }

    // "(nolock)" or "with (nolock)": the board is read without waiting for writers.
    void tableHint()
    {
        const bool with = isWord(peek(), "with");
        if (!with && !isSymbol(peek(), QStringLiteral("(")))
            return;
        if (with)
            next();
        expectSymbol(QStringLiteral("("));
        const Token &hint = peek();
        if (!isWord(hint, "nolock") && !isWord(hint, "readuncommitted")) {
            if (hint.kind == Token::Kind::Word && !isKeyword(hint))
                throw Error {321, QStringLiteral("42000"),
                             QStringLiteral("\"%1\" is not a recognized table hints option.").arg(hint.text)};
            failAt(hint);
        }
        next();
        expectSymbol(QStringLiteral(")"));
    }

    Statement update()
    {
        next();
        const QString name = objectName();
        if (name.compare(kSettings, Qt::CaseInsensitive) != 0)
            throw Error::invalidObject(name);
        Statement statement;
        statement.kind = Statement::Kind::Update;
        statement.object = kSettings;
        const QStringList columns = settingsColumns();
        expectWord("set");
        for (;;) {
            Assignment assignment;
            assignment.column = column(columns);
            expectSymbol(QStringLiteral("="));
            assignment.value = literal();
            statement.assignments.push_back(assignment);
            if (!isSymbol(peek(), QStringLiteral(",")))
                break;
            next();
        }
        if (isWord(peek(), "where")) {
            next();
            statement.where = expression(columns);
        }
        expectStatementEnd();
        return statement;
    }

    QString column(const QStringList &columns)
    {
        const Token &token = peek();
        if (!((token.kind == Token::Kind::Word && !isKeyword(token)) || token.kind == Token::Kind::QuotedName))
            failAt(token);
        next();
        for (const QString &known : columns) {
            if (known.compare(token.text, Qt::CaseInsensitive) == 0)
                return known;
        }
        throw Error::invalidColumn(token.text);
    }

    Operand operand(const QStringList &columns)
    {
        Operand value;
        const Token &token = peek();
        if ((token.kind == Token::Kind::Word && !isKeyword(token)) || token.kind == Token::Kind::QuotedName) {
            value.isColumn = true;
            value.column = column(columns);
        } else {
            value.literal = literal();
        }
        return value;
    }

    ExprPtr expression(const QStringList &columns)
    {
        ExprPtr first = conjunction(columns);
        if (!isWord(peek(), "or"))
            return first;
        auto node = std::make_shared<Expr>();
        node->kind = Expr::Kind::Or;
        node->terms.push_back(first);
        while (isWord(peek(), "or")) {
            next();
            node->terms.push_back(conjunction(columns));
        }
        return node;
    }

    ExprPtr conjunction(const QStringList &columns)
    {
        ExprPtr first = negation(columns);
        if (!isWord(peek(), "and"))
            return first;
        auto node = std::make_shared<Expr>();
        node->kind = Expr::Kind::And;
        node->terms.push_back(first);
        while (isWord(peek(), "and")) {
            next();
            node->terms.push_back(negation(columns));
        }
        return node;
    }

    ExprPtr negation(const QStringList &columns)
    {
        if (isWord(peek(), "not")) {
            next();
            auto node = std::make_shared<Expr>();
            node->kind = Expr::Kind::Not;
            node->terms.push_back(negation(columns));
            return node;
        }
        return predicate(columns);
    }

    ExprPtr predicate(const QStringList &columns)
    {
        if (isSymbol(peek(), QStringLiteral("("))) {
            next();
            ExprPtr inner = expression(columns);
            expectSymbol(QStringLiteral(")"));
            return inner;
        }
        auto node = std::make_shared<Expr>();
        node->a = operand(columns);
        const Token &token = peek();
        if (token.kind == Token::Kind::Symbol
            && QStringList({QStringLiteral("="), QStringLiteral("<>"), QStringLiteral("!="), QStringLiteral("<"),
                            QStringLiteral(">"), QStringLiteral("<="), QStringLiteral(">=")})
                   .contains(token.text)) {
            node->kind = Expr::Kind::Compare;
            node->op = next().text;
            node->b = operand(columns);
            return node;
        }
        if (isWord(token, "is")) {
            next();
            node->kind = Expr::Kind::IsNull;
            if (isWord(peek(), "not")) {
                next();
                node->negated = true;
            }
            expectWord("null");
            return node;
        }
        if (isWord(token, "not") && isWord(peek(1), "in")) {
            next();
            node->negated = true;
        }
        if (isWord(peek(), "in")) {
            next();
            node->kind = Expr::Kind::In;
            expectSymbol(QStringLiteral("("));
            node->list.push_back(literal());
            while (isSymbol(peek(), QStringLiteral(","))) {
                next();
                node->list.push_back(literal());
            }
            expectSymbol(QStringLiteral(")"));
            return node;
        }
        failAt(peek());
    }

    QVector<Token> m_tokens;
    int m_pos = 0;
};

} // namespace

QStringList activeClientsColumns()
{
    return {QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"), QStringLiteral("ENDUSER_ID"),
            QStringLiteral("REC_DATE"), QStringLiteral("SAMPLES"), QStringLiteral("TOTAL_REPORTS")};
}

QStringList settingsColumns()
{
    return {QStringLiteral("PARAMETER"), QStringLiteral("VALUE")};
}

QVector<Statement> parseBatch(const QString &text)
{
    Parser parser(text);
    return parser.batch();
}

} // namespace DemoSql
