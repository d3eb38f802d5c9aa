#pragma once

#include <QString>
#include <QStringList>

#include "platform/printing/JobOptions.h"
#include "platform/printing/SpoolBackend.h"

typedef struct _http_s http_t;
typedef struct _ipp_s ipp_t;

// Printing through CUPS (Linux, macOS) with libcups on a connection of its own whose
// every call is bounded, so that a print server that does not answer costs seconds,
// never a minute. Before a page is submitted the queue must exist, accept jobs and not
// be stopped; otherwise the page fails at once with the server's own words and no job
// is made, and no other printer is ever used in its place.
class CupsBackend : public SpoolBackend
{
public:
    // printer: the queue; empty for the system's default. server: the print server
    // (host, host:port or a socket path); empty for the system's (CUPS_SERVER, client.conf).
    // options: what each page type's jobs are sent with.
    CupsBackend(QString printer, QString server, PageTypeOptions options = {});
    ~CupsBackend() override;

    // What submit() checks before a job is made: the server answers, the queue exists,
    // accepts jobs and is not stopped. `queue` gets the queue's name once it is known;
    // `problem` what is wrong when it is not ready, `detail` the printer's own reasons.
    bool checkReady(QString *queue, QString *problem, QString *detail);
    // Each option of the given set that the queue does not support, as "tray-2 is not a
    // media-source of queue LAB (supported: auto, tray-1, manual)"; an empty list when the
    // queue supports them all. False, with `error`, when the queue cannot be asked.
    bool checkOptions(const QString &queue, const JobOptions &options, QStringList *unsupported, QString *error);

    PrintSpooler::JobReport submit(const PrintPage &page) override;
    PrintSpooler::JobReport poll(const PrintSpooler::JobReport &job, bool *stuck) override;
    bool cancel(const PrintSpooler::JobReport &job, QString *error) override;
    QString printerErrors(const QString &queue) override;
    QString whyCannotPrint() override;
    QString trouble() const override { return m_trouble; }

private:
    // What the printer shows now: the conditions that keep it from printing, its own
    // message, and whether it is busy with a job.
    struct PrinterConditions
    {
        QStringList errors;
        QString message;
        bool processing = false;
    };

    bool connectServer(QString *error);
    void dropConnection();
    QString resolveQueue(QString *error);
    ipp_t *askPrinter(const QString &queue);
    // As the public checkReady(), with what the printer showed in the same answer.
    bool checkReady(QString *queue, QString *problem, QString *detail, PrinterConditions *conditions);
    bool queueReady(const QString &queue, QString *error, QString *detail, PrinterConditions *conditions = nullptr);
    bool readConditions(const QString &queue, PrinterConditions *conditions);
    static PrinterConditions conditionsFrom(ipp_t *response);
    static QString cannotPrintText(const QString &queue, const PrinterConditions &conditions);
    int sendDocument(const QString &queue, const PrintPage &page, const JobOptions &options, QString *error);
    int createJob(const QString &queue, const PrintPage &page, const JobOptions &options, QString *error);
    PrintSpooler::JobReport failed(const QString &queue, const QString &finalState, const QString &reason);
    QString serverName() const;

    QString m_printer;
    QString m_server;
    bool m_serverSet = false;
    http_t *m_http = nullptr;
    QString m_trouble;
    QString m_troubleSeenByLook; // the trouble whyCannotPrint() found, cleared when it is gone
    PageTypeOptions m_options;
};
