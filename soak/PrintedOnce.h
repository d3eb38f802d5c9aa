#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// Whether each client's report page (its final page, not the cover) came out of the
// printer once. The report server gives a new batch id each time a client is asked for
// again, so prints are grouped by client. A page printed again is accepted only for the
// client in hand when the station was killed or hung: the fault began while the page
// before it was being printed, or shortly after it printed, before the station could
// record it and delete its batch. One kill or hang accounts for one page printed again
// at most; every other one breaks the promise, whatever else was going on.
namespace PrintedOnce {

struct Print
{
    QString client; // the client's contact id, or the batch when its client is not known
    QString batchId;
    QDateTime submitted; // when the print system took the job (invalid: not known)
    QDateTime completed;
};

struct Judgement
{
    int duplicates = 0; // pages printed again
    int acceptedAtKills = 0;
    QStringList unexplained; // one line per page printed again without a kill or hang to account for it
};

// How long after a page printed a kill or hang still finds its client in hand.
constexpr qint64 kInHandAfterMs = 60000;
// CUPS keeps its times to the second.
constexpr qint64 kClockSlackMs = 5000;

// prints: every completed job of a final page; stationFaults: when each kill or hang began.
Judgement judge(QList<Print> prints, QList<QDateTime> stationFaults);

} // namespace PrintedOnce
