#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A cupsd of the test's own: the system's /usr/sbin/cupsd with its own configuration,
// spool, state, logs and program folder in a temporary folder, listening on a socket
// there only, so that the machine's own printing is left untouched. Its backend
// "testbe" acts as the device URI says: testbe:/ok keeps the document in outputFolder(),
// testbe:/fail, /stop and /cancel exit with CUPS's codes 1, 4 and 5, testbe:/hang never
// ends, testbe:/empty reports "STATE: +media-empty-error" and never ends. testbe:/switch is
// a printer that runs out of paper and is refilled: while setStuck(true) holds, it reports
// "STATE: +media-empty-error" with the message "Load paper in tray 1" and waits (looking
// again every second); once the paper is
// back, or when it never ran out, it reports "STATE: -media-empty-error" and prints as
// /ok does. The system's socket backend is there too. The backend is the owner's only, so
// the server runs it as root. Every job stays in the server's history, across restart()
// too. Needs root.
class PrivateCups
{
public:
    PrivateCups();
    ~PrivateCups();

    // Empty when this machine can run one; else why not.
    static QString unavailableReason();

    bool start(QString *error);
    void stop();
    // stop() and start() again on the same folder: the queues and the job history remain.
    bool restart(QString *error);
    void pause(); // SIGSTOP: the server holds its connections and answers nothing
    void resume();
    // Takes the paper out of (or puts it back into) the testbe:/switch queues.
    void setStuck(bool stuck);

    QString socketPath() const { return m_dir.filePath(QStringLiteral("cups.sock")); }
    QString outputFolder() const { return m_dir.filePath(QStringLiteral("out")); }

    // lpadmin, cupsdisable, lpstat, ... against this server; true when it exited 0.
    bool run(const QString &program, const QStringList &arguments, QString *output = nullptr);
    bool addQueue(const QString &name, const QString &mode, const QString &errorPolicy = QString());
    // Jobs this server has not finished, on any queue.
    QStringList activeJobs();
    int documentsPrinted() const;

private:
    bool writeFiles(QString *error);

    QTemporaryDir m_dir;
    QProcess m_cupsd;
};
