#pragma once

#include "platform/desktop/OperatorDialogs.h"

// The real questions: Form_Password and Form_DistribAction, shown modally.
class QtOperatorDialogs : public OperatorDialogs
{
public:
    QString askPassword(QWidget *owner) override;
    QString askAction(QWidget *owner, const QString &client) override;
};
