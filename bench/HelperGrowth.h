#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "HelperMemory.h"

// How each kind of memory of each helper type grew per 1,000 report requests, judged on
// the floors of the samples (MemoryGrowth.h), for the soak's table and the benchmark's
// notes: "renderer private 0.41, shared 0.02, file 0.00 MB; zygote ...".
namespace HelperGrowth {

using Samples = QList<QPair<double, HelperMemory::Breakdown>>; // (requests made, memory)

// lives (empty: one life) names the life of each sample, as MemoryGrowth takes them.
QString text(const Samples &samples, const QList<qint64> &lives = {});

} // namespace HelperGrowth
