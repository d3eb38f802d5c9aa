#include "demo/DemoLims.h"

bool DemoLims::ensureDatabase(const QString &, QString *) { return true; }
QString DemoLims::connectionText(const QString &path) { return QStringLiteral("Driver=DemoLIMS;Database=") + path + QLatin1Char(';'); }
