// The rating filter and the printer options of the main window.
#include "app/Form_HardCopy.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "app/ServiceText.h"
#include "platform/desktop/Controls.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/browser/WebBrowser.h"
#include "ui_Form_HardCopy.h"

void Form_HardCopy::opt_FilterRating_Click(int index)
{
    if (index < 0 || index >= int(opt_FilterRating.size()))
        throw Failure::subscriptOutOfRange();
    const QString status = ui->lbl_ServDesc->text();
    const QString automation = ui->cmd_Automation->text();
    // The list is reloaded only while the services are stopped or counting down to the next
    // run; during a run the click just moves the selection, and the run re-selects its own
    // filter when it next reloads the list.
    const bool countingDown = status.contains(QLatin1String("restart"), Qt::CaseSensitive);
    const bool stopped = automation == ServiceText::StartServices;
    if (!countingDown && !stopped) {
        qCDebug(lcConsole) << "rating filter" << index << "chosen during a run; the list is left as it is";
        return;
    }
    QRadioButton *option = opt_FilterRating[size_t(index)];
    option->setChecked(true);
    qCInfo(lcConsole).noquote() << "rating filter chosen:" << option->text();
    Load_WorkList(tagOf(option));
}

void Form_HardCopy::cmd_Printer_Click()
{
    qCInfo(lcConsole) << "printer options opened";
    m_seams.browser->pageSetup();
}
