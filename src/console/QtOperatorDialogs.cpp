#include "console/QtOperatorDialogs.h"

QString QtOperatorDialogs::askPassword(QWidget *) { return {}; }
QString QtOperatorDialogs::askAction(QWidget *, const QString &) { return {}; }
