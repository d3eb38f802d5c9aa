#pragma once

#include <vector>

#include <QtGlobal>

#include "LogRecorder.h"

// Where the time of a service run went, read from the station's log between its
// "run started" and "run ended" lines:
//   page load    from a navigation ("report request:" / "follow-up request:") to the line
//                that says the page was read ("page N loaded: ..."): the report server,
//                the network and the browser engine until the ready state is 4;
//   print        from "printing a page of batch" to the line with its result: the
//                browser engine laying out the page as PDF, handed to the spooler;
//   job wait     from the last page's hand-over to its "print job ended" line: the print
//                sink (the PDF folder's file written, or the printer's job) finishing,
//                which the station waits for before it may delete the batch; the jobs
//                that end while the next page loads are within that page's load;
//   front end    the demo LIMS's wire front end answering the station's statements (its
//                thread's busy time, from the log's side clock): the database server's
//                share, which a laboratory's SQL Server spends on another machine;
//   own time     everything else: the station sending its statements and fetching,
//                converting and binding the answers, status-board checks and updates,
//                batch deletion, statistics, screen updates, event handling, and any
//                pause after printing.
// A client's stretch runs from its report request to the next one (the first also holds
// the start of the run, the last the run's end).
struct RunBreakdown
{
    int requests = 0;
    int pageLoads = 0;
    int prints = 0;
    qint64 totalNs = 0;
    qint64 pageLoadNs = 0;
    qint64 printNs = 0;
    qint64 jobWaitNs = 0;
    qint64 frontEndNs = 0;
    std::vector<qint64> ownNsPerClient;

    static RunBreakdown fromLog(const std::vector<LogLine> &run);

    qint64 ownNs() const { return totalNs - pageLoadNs - printNs - jobWaitNs - frontEndNs; }
    double meanOwnMs() const { return requests > 0 ? double(ownNs()) / 1e6 / requests : 0; }
    double percentileOwnMs(double p) const;
};
