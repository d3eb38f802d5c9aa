#include "console/QtOperatorDialogs.h"

#include <QPointer>

#include "console/Form_DistribAction.h"
#include "console/Form_Password.h"

// Each dialog lives for one question: created, shown modally over its owner, read, deleted.
// It is held through a QPointer because its owner may be destroyed while exec() runs;
// no answer is given then.

QString QtOperatorDialogs::askPassword(QWidget *owner)
{
    QPointer<Form_Password> dialog = new Form_Password(owner);
    dialog->exec();
    if (!dialog)
        return {};
    const QString answer = dialog->password;
    delete dialog;
    return answer;
}

QString QtOperatorDialogs::askAction(QWidget *owner, const QString &client)
{
    QPointer<Form_DistribAction> dialog = new Form_DistribAction(owner);
    dialog->sClient = client;
    dialog->exec();
    if (!dialog)
        return {};
    const QString answer = dialog->sAction;
    delete dialog;
    return answer;
}
