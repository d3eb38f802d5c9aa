#pragma once

#include <vector>

#include <QtGlobal>

#include "LogRecorder.h"

// Where a client's time goes when its pages print on a real queue, read from the
// station's log of one run:
//   loads        from each navigation to the line that says the page was read;
//   slower job   of the client's print jobs, the longer from "handed to the spooler" to
//                the spooler's "print job ended" (CUPS reports it completed);
//   pause        what the station's pause after printing was meant to be (whole seconds);
//   front end    the demo LIMS's wire front end answering (a database server's work);
//   own          the rest: rendering the pages, the statements and their answers read,
//                the work-list reload, the status board, the deletion, the screen.
// The samples page loads while the cover page's job runs, so own = client - loads -
// slower job - pause - front end is what the overlap leaves to the station.
struct ClientPrintTime
{
    qint64 clientNs = 0;
    qint64 loadsNs = 0;
    qint64 slowerJobNs = 0;
    qint64 renderNs = 0;
    qint64 pauseNs = 0;
    qint64 frontEndNs = 0;
    int jobs = 0;
    int completedJobs = 0;
    bool deletedAfterEveryJobEnded = false;
    qint64 ownNs() const { return clientNs - loadsNs - slowerJobNs - pauseNs - frontEndNs; }
};

std::vector<ClientPrintTime> clientPrintTimes(const std::vector<LogLine> &run, int pauseSecondsPerClient);
