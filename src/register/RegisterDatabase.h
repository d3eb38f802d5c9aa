#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// One SQLite connection to a register file, under a name of its own, used on the thread
// that opened it. Every value is bound; a statement SQLite refuses throws
// RegisterDatabase::Refused with SQLite's words.
class RegisterDatabase
{
public:
    struct Refused
    {
        QSqlError error;
        // SQLite's primary result code (SQLITE_FULL 13, SQLITE_CORRUPT 11, SQLITE_NOTADB 26, ...).
        int code() const;
        bool damaged() const; // the file is not (or no longer) a database
        bool notADatabase() const;
        bool full() const;
    };

    // How long a writer waits for another process's transaction before it gives up.
    static constexpr int kBusyTimeoutMs = 10000;

    RegisterDatabase();
    ~RegisterDatabase();
    RegisterDatabase(const RegisterDatabase &) = delete;
    RegisterDatabase &operator=(const RegisterDatabase &) = delete;

    // Opens the file (created when missing, unless readOnly); WAL and synchronous FULL.
    void open(const QString &path, bool readOnly);
    void close();
    bool isOpen() const { return m_db.isOpen(); }

    QSqlQuery run(const QString &sql, const QVariantList &bindings = {});
    // The same for a statement run again and again (a row's insert): prepared once per
    // connection. The caller finishes the query before it runs the statement again.
    QSqlQuery &runPrepared(const QString &sql, const QVariantList &bindings = {});
    // The first column of the first row; an invalid QVariant when there is none.
    QVariant value(const QString &sql, const QVariantList &bindings = {});

    // BEGIN IMMEDIATE: the writer's lock is taken first, so that two processes queue
    // (for up to the busy time-out) instead of failing half-way.
    void begin();
    void commit();
    void rollback();

private:
    void bindAndRun(QSqlQuery &query, const QVariantList &bindings);

    QString m_name;
    QSqlDatabase m_db;
    QHash<QString, QSqlQuery> m_prepared;
};
