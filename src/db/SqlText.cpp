#include "db/SqlText.h"

#include <QRegularExpression>

QString sqlText(const QString &value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return doubled;
}

QString sqlNumber(const QString &value)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^-?[0-9]+$"));
    if (wholeNumber.match(value).hasMatch())
        return value;
    return QLatin1Char('\'') + sqlText(value) + QLatin1Char('\'');
}
