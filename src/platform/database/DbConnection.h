#pragma once

#include <functional>

#include <QString>
#include <QVector>

#include "platform/database/ResultSet.h"

// One entry of a connection's provider-message collection.
struct ProviderMessage
{
    qint32 Number = 0;
    QString Description;
    QString SqlState;   // the driver's SQLSTATE, when it gave one
    qint32 NativeError = 0;
};

// The provider number of a query time-out (0x80040E31).
constexpr qint32 kQueryTimeoutNumber = -2147217871;
// The provider number of any other failed call (0x80004005, unspecified error).
constexpr qint32 kProviderErrorNumber = -2147467259;

// True when the messages say that the connection itself is gone (SQLSTATE class 08).
bool isConnectionBroken(const QVector<ProviderMessage> &messages);

// What the station makes of a link it opened (opened = true), or of an open that failed
// with these driver messages: the words of a refusal, or empty. It may ask the server
// itself, within timeoutMs.
using LinkRule = std::function<QString(bool opened, const QVector<ProviderMessage> &driverMessages, int timeoutMs)>;

// The database client seam: one connection that runs SQL text and hands back
// client-side result sets. Its message collection describes the last operation.
class DbConnection
{
public:
    virtual ~DbConnection() = default;

    virtual void setCommandTimeout(int seconds) = 0;
    virtual void setConnectionTimeout(int seconds) = 0;
    // 3 = client-side cursors; the only location the station uses.
    virtual void setCursorLocation(int location) = 0;

    // Opens with a connection text; throws Failure (and fills errors()) when it cannot.
    virtual void open(const QString &connectionText) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // Runs SQL text (one or several statements) as one batch. Returns the first result
    // set it produced, fully fetched, or a closed one when it produced none. Throws
    // Failure when the statement failed; errors() then holds every diagnostic record.
    virtual ResultSetPtr execute(const QString &sql) = 0;

    virtual const QVector<ProviderMessage> &errors() const = 0;

    // True when the last failure took the connection itself away (a database restart,
    // a network drop): it has to be closed and opened again. By default the messages
    // tell (SQLSTATE class 08); a client that knows its driver's other symptoms says so.
    virtual bool connectionLost() const { return isConnectionBroken(errors()); }
};
