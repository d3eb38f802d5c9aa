#include "MemoryGrowth.h"

#include <algorithm>

namespace MemoryGrowth {

bool judgedOnFloors(qsizetype samples)
{
    return samples >= kStretches * kLeastPerStretch;
}

Samples floors(const Samples &samples)
{
    if (!judgedOnFloors(samples.size()))
        return samples;
    Samples least;
    for (qsizetype i = 0; i < kStretches; ++i) {
        const auto from = samples.begin() + samples.size() * i / kStretches;
        const auto to = samples.begin() + samples.size() * (i + 1) / kStretches;
        least << *std::min_element(from, to, [](const auto &a, const auto &b) { return a.second < b.second; });
    }
    return least;
}

double kbPer1000(const Samples &samples)
{
    const Samples points = floors(samples);
    if (points.size() < 3)
        return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto &[x, y] : points) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = double(points.size());
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : 1000 * (n * sxy - sx * sy) / d;
}

} // namespace MemoryGrowth
