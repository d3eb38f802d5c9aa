#include "app/Form_HardCopy.h"

#include "app/ServiceText.h"

#include "dispatch/DispatchText.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Log.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/desktop/OperatorDialogs.h"
#include "ui_Form_HardCopy.h"

void Form_HardCopy::Dispatch_Row()
{
    if (ui->cmd_Automation->text() == ServiceText::StartServices && !ui->DataGrid1->isEnabled())
        return;

    QString action;
    if (ui->cmd_Automation->text() == ServiceText::StopServices || ui->DataGrid1->isEnabled())
        action = Get_Row_Action(currentField(rsWorkList, QStringLiteral("CONTACT_NAME")));

    if (action == QLatin1String("PRINT"))
        Request_Report();
    else if (action == QLatin1String("DELETE") || action == QLatin1String("HOLD"))
        Show_Status_Update(action);
}

QString Form_HardCopy::Get_Row_Action(const DbValue &clientName)
{
    if (ui->cmd_Automation->text() != ServiceText::StartServices)
        return QStringLiteral("PRINT");

    const QString answer = m_seams.dialogs->askAction(this, clientName.toText());
    qCInfo(lcReport).noquote() << "operator's action for" << clientName.toText() << ":"
                               << (answer.isEmpty() ? QStringLiteral("(none)") : answer);
    return answer.isEmpty() ? QString() : answer;
}

// The status statement is only shown to the operator; nothing goes to the database.
void Form_HardCopy::Show_Status_Update(const QString &action)
{
    QString sql;
    if (action == QLatin1String("DELETE") || action == QLatin1String("HOLD"))
        sql = statusUpdateStatement(sQueryRating, currentField(rsWorkList, QStringLiteral("CONTACT_ID")), action,
                                    currentField(rsWorkList, QStringLiteral("REC_DATE")));
    m_seams.messages->show(sql);
}
