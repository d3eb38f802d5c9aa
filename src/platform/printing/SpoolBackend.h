#pragma once

#include "platform/printing/PrintSpooler.h"

// The print system behind a ThreadedSpooler. Every call may block (a print server that
// does not answer), so they are made on the spooler's own thread only, never on the
// window's.
class SpoolBackend
{
public:
    virtual ~SpoolBackend() = default;

    // Hands the page over. A Queued report is followed with poll(); Completed and Failed
    // are final. A page that cannot be printed at all (no such printer, a printer that
    // refuses jobs or is stopped, no print server) fails here, before any job exists.
    virtual PrintSpooler::JobReport submit(const PrintPage &page) = 0;
    // Asks once for the state of a queued job. `stuck` says that the job cannot go on by
    // itself (held, stopped) and must be cancelled. A backend whose jobs end in submit()
    // keeps these defaults.
    virtual PrintSpooler::JobReport poll(const PrintSpooler::JobReport &job, bool *stuck)
    {
        *stuck = false;
        return job;
    }
    // Asks the print system to cancel the job; true when the request was accepted (the
    // job's end is then confirmed by poll()).
    virtual bool cancel(const PrintSpooler::JobReport &, QString *) { return true; }
    // The error conditions the printer shows now (CUPS: its state reasons that end in
    // "-error", such as "media-empty-error"); empty when it shows none or the backend
    // cannot tell. Once it names some, trouble() says the printer cannot print and why.
    virtual QString printerErrors(const QString &) { return {}; }
    // Why the printer cannot take pages now: it is stopped, refuses jobs, cannot be reached,
    // or is busy with a job it cannot go on with (out of paper, jammed, a door open,
    // offline), in its own words; empty when it can, or when the backend cannot tell.
    // trouble() says the same until it is gone.
    virtual QString whyCannotPrint() { return {}; }
    // The printer's trouble as the last call found it; empty when it printed.
    virtual QString trouble() const = 0;
};
