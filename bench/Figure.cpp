#include "Figure.h"

#include <algorithm>

QString percentText(double percent)
{
    return QStringLiteral("%1 %").arg(percent, 0, 'f', 2);
}

QString msText(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 2 : 1);
}

QString mbText(double kb)
{
    return QStringLiteral("%1 MB").arg(kb / 1024.0, 0, 'f', 1);
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
