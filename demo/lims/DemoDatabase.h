#pragma once

#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

Q_DECLARE_LOGGING_CATEGORY(lcDemo)

// One SQLite connection to the demo LIMS file under a name of its own, so that the
// station's connection, the report server's thread and the administration functions
// never share a QSqlDatabase. Closed and unregistered when it goes.
class DemoDatabase
{
public:
    explicit DemoDatabase(const QString &path);
    ~DemoDatabase();
    DemoDatabase(const DemoDatabase &) = delete;
    DemoDatabase &operator=(const DemoDatabase &) = delete;

    // Opens the file. With mustExist, a missing file or a file without the demo LIMS's
    // schema is refused rather than created empty.
    bool open(bool mustExist, QString *error);
    bool isOpen() const;
    void close();
    QString path() const { return m_path; }

    // Runs one SQLite statement with positional bindings; throws DemoSql::Error when
    // SQLite refuses it (a file locked for longer than the busy time-out reads as the
    // query time-out, as a blocked statement would on the LIMS).
    QSqlQuery run(const QString &sql, const QVariantList &bindings = {});

    // BEGIN IMMEDIATE .. COMMIT: the writer lock is taken up front, so two writers
    // (the station and the report server) queue instead of failing half-way.
    void begin();
    void commit();
    void rollback();

    QSqlDatabase &handle() { return m_db; }

private:
    QString m_path;
    QString m_name;
    QSqlDatabase m_db;
};

// Date and time as the demo LIMS stores them: local wall-clock text, with the fraction of
// a second that SQL Server's datetime keeps when there is one ("2026-11-28T10:52:29.123").
QString demoDateText(const QDateTime &value);
QDateTime demoDateFromText(const QString &text);
// The value as a datetime column of SQL Server keeps it: to 1/300 s, which shows as
// milliseconds ending in 0, 3 or 7 (10:52:29.125 is kept as 10:52:29.127).
QDateTime demoKeptDateTime(const QDateTime &value);
