#include "MemoryGrowth.h"

#include <algorithm>

#include <QMap>

namespace MemoryGrowth {

bool judgedOnFloors(qsizetype samples)
{
    return samples >= kStretches * kLeastPerStretch;
}

namespace {

struct Point
{
    double requests;
    double kb;
    qint64 life;
};

// The least sample of each stretch, or every sample when there are too few. A life is
// cut into stretches of its own, as long as the stretches of one life would be (a life too
// short for one is one stretch), so that each floor comes back to a collection.
QList<Point> floorPoints(const Samples &samples, const QList<qint64> &processRuns)
{
    const auto processRunOf = [&processRuns](qsizetype i) { return processRuns.isEmpty() ? 0 : processRuns.at(i); };
    QList<Point> points;
    if (!judgedOnFloors(samples.size())) {
        for (qsizetype i = 0; i < samples.size(); ++i)
            points << Point{samples.at(i).first, samples.at(i).second, processRunOf(i)};
        return points;
    }
    const double stretchLength = double(samples.size()) / double(kStretches);
    for (qsizetype begin = 0; begin < samples.size();) {
        qsizetype end = begin;
        while (end < samples.size() && processRunOf(end) == processRunOf(begin))
            ++end;
        const qsizetype count = end - begin;
        const qsizetype stretches = std::max<qsizetype>(1, qsizetype(double(count) / stretchLength + 0.5));
        for (qsizetype stretch = 0; stretch < stretches; ++stretch) {
            const auto from = samples.begin() + begin + count * stretch / stretches;
            const auto to = samples.begin() + begin + count * (stretch + 1) / stretches;
            const auto least
                = std::min_element(from, to, [](const auto &a, const auto &b) { return a.second < b.second; });
            points << Point{least->first, least->second, processRunOf(begin)};
        }
        begin = end;
    }
    return points;
}

} // namespace

Samples floors(const Samples &samples)
{
    Samples least;
    for (const Point &point : floorPoints(samples, {}))
        least << qMakePair(point.requests, point.kb);
    return least;
}

Fit fit(const Samples &samples, const QList<qint64> &processRuns)
{
    const QList<Point> points = floorPoints(samples, processRuns);
    // Each run's mean is its level; the slope is fitted to what varies within runs.
    QMap<qint64, Point> means;
    QMap<qint64, int> counts;
    for (const Point &point : points) {
        means[point.life].requests += point.requests;
        means[point.life].kb += point.kb;
        ++counts[point.life];
    }
    for (auto it = means.begin(); it != means.end(); ++it) {
        it->requests /= counts.value(it.key());
        it->kb /= counts.value(it.key());
    }
    Fit fit;
    double sxx = 0, sxy = 0;
    for (const Point &point : points) {
        const Point &mean = means[point.life];
        sxx += (point.requests - mean.requests) * (point.requests - mean.requests);
        sxy += (point.requests - mean.requests) * (point.kb - mean.kb);
        if (counts.value(point.life) >= 2)
            ++fit.points;
    }
    fit.spread = sxx > 0;
    if (fit.judged())
        fit.kbPer1000 = 1000 * sxy / sxx;
    return fit;
}

double kbPer1000(const Samples &samples, const QList<qint64> &processRuns)
{
    return fit(samples, processRuns).kbPer1000;
}

} // namespace MemoryGrowth
