#pragma once

#include <QString>

class QWidget;

// The two modal questions the main window asks its operator. Each creates its dialog,
// shows it modally and unloads it once the answer is read.
class OperatorDialogs
{
public:
    virtual ~OperatorDialogs() = default;
    // Form_Password: the typed password on Ok, the empty text otherwise.
    virtual QString askPassword(QWidget *owner) = 0;
    // Form_DistribAction: "PRINT", "HOLD", "DELETE" or the empty text.
    virtual QString askAction(QWidget *owner, const QString &client) = 0;
};
