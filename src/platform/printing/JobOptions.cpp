#include "platform/printing/JobOptions.h"

#include <algorithm>

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

JobOptions withChosenOptions(const JobOptions &options, const JobOptions &chosen)
{
    JobOptions merged;
    for (const QString &attribute : printOptionAttributes()) {
        for (const JobOptions *source : { &chosen, &options }) {
            const auto found = std::find_if(
                source->cbegin(), source->cend(), [&](const auto &option) { return option.first == attribute; });
            if (found != source->cend()) {
                merged.append(*found);
                break;
            }
        }
    }
    return merged;
}

bool parseOption(const QString &text, QPair<QString, QString> *option, QString *error)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const QString attribute = text.left(equals).trimmed();
    const QString value = equals < 0 ? QString() : text.mid(equals + 1).trimmed();
    if (!printOptionAttributes().contains(attribute) || value.isEmpty()) {
        *error = QStringLiteral("--option takes ATTRIBUTE=VALUE, the attribute one of %1, not \"%2\"")
                     .arg(printOptionAttributes().join(QStringLiteral(", ")), text);
        return false;
    }
    *option = { attribute, value };
    return true;
}
