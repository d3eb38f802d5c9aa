#include "platform/printing/JobOptions.h"

QStringList printOptionAttributes()
{
    return { QStringLiteral("media-source"), QStringLiteral("sides"), QStringLiteral("copies"),
        QStringLiteral("print-quality"), QStringLiteral("media") };
}

QString describeOptions(const JobOptions &options)
{
    QStringList pairs;
    for (const auto &[attribute, value] : options)
        pairs << attribute + QLatin1Char('=') + value;
    return pairs.join(QLatin1Char(' '));
}

QStringList attributesNotSet(const JobOptions &options)
{
    QStringList missing = printOptionAttributes();
    for (const auto &option : options)
        missing.removeAll(option.first);
    return missing;
}
