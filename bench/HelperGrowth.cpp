#include "HelperGrowth.h"

#include <algorithm>

#include <QStringList>

#include "MemoryGrowth.h"

namespace HelperGrowth {

namespace {

QString megabytes(const Samples &samples, const QList<qint64> &lives, qint64 HelperMemory::Kinds::*kind, int type)
{
    MemoryGrowth::Samples points;
    for (const auto &[requests, breakdown] : samples) {
        const HelperMemory::Kinds &kinds = type < 0 ? breakdown.station : breakdown.helpers[size_t(type)];
        points << qMakePair(requests, double(kinds.*kind));
    }
    return QString::number(MemoryGrowth::kbPer1000(points, lives) / 1024, 'f', 2);
}

QString typeText(const Samples &samples, const QList<qint64> &lives, const QString &name, int type)
{
    return QStringLiteral("%1 private %2, shared %3, file %4")
        .arg(name, megabytes(samples, lives, &HelperMemory::Kinds::privateKb, type),
             megabytes(samples, lives, &HelperMemory::Kinds::sharedKb, type),
             megabytes(samples, lives, &HelperMemory::Kinds::fileKb, type));
}

} // namespace

QString text(const Samples &samples, const QList<qint64> &lives)
{
    if (samples.isEmpty())
        return QStringLiteral("no sample");
    QStringList parts{typeText(samples, lives, QStringLiteral("station"), -1)};
    for (int type = 0; type < HelperMemory::TypeCount; ++type) {
        // A renderer may be between two processes when a sample is taken.
        int count = 0;
        for (const auto &sample : samples)
            count = std::max(count, sample.second.count[size_t(type)]);
        if (count == 0)
            continue;
        QString name = QString::fromLatin1(HelperMemory::typeName(HelperMemory::Type(type)));
        if (count > 1)
            name += QStringLiteral(" (%1)").arg(count);
        parts << typeText(samples, lives, name, type);
    }
    return parts.join(QStringLiteral("; ")) + QStringLiteral(" MB");
}

} // namespace HelperGrowth
