#pragma once

#include <QList>
#include <QPair>

// How much memory grows per 1,000 report requests, judged on samples of (requests made,
// kB resident). The browser engine collects its garbage when it chooses, so between two
// collections its helpers hold tens of MB that the next one frees; what a leak raises is
// the floor they come back to. Growth is therefore the least squares slope through the
// least memory of each of a number of consecutive stretches of samples. A process started
// again (a crash, a kill) begins at a level of its own: samples of several runs of the process give
// each life its own floor in a stretch and its own level, and one slope for all, so that
// the step from one life to the next is not taken for growth.
namespace MemoryGrowth {

using Samples = QList<QPair<double, double>>;

constexpr qsizetype kStretches = 6;
constexpr qsizetype kLeastPerStretch = 3; // with fewer samples, the slope runs through all

bool judgedOnFloors(qsizetype samples);
// The least sample of each stretch, or all samples when there are too few for stretches.
Samples floors(const Samples &samples);
// Least squares slope of kB over requests, times 1,000, and the floor points it was
// fitted to: those of runs of the process with two points or more, as a run's one point
// says nothing of growth. Judged on three such points at least, with requests that differ.
struct Fit
{
    double kbPer1000 = 0;
    qsizetype points = 0;
    bool spread = false;
    bool judged() const { return points >= 3 && spread; }
};
// processRuns (empty: one run) names the run of the process of each sample.
Fit fit(const Samples &samples, const QList<qint64> &processRuns = {});
// The slope alone; 0 when it cannot be judged.
double kbPer1000(const Samples &samples, const QList<qint64> &processRuns = {});

} // namespace MemoryGrowth
