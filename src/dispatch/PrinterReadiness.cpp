// Before each work list of a run, the printer is asked whether it can take pages. While
// it cannot (stopped, refusing jobs, out of reach, or busy with a job it cannot go on
// with: out of paper, jammed, a door open) no client is requested: its pages would only
// wait behind the trouble or fail. The list still shows who is due, and their number is
// what waits for the printer. The printing turn goes to a spare station meanwhile. The
// next run asks again, so printing resumes by itself once the printer is back.
#include <QCheckBox>

#include "app/Form_HardCopy.h"
#include "platform/Log.h"
#include "platform/desktop/Clock.h"
#include "platform/printing/PrintSpooler.h"
#include "statusboard/StationTurn.h"
#include "ui_Form_HardCopy.h"

namespace {

// Each call to the print server is bounded at a few seconds, and asking takes a few.
constexpr int kPrinterAnswerWaitMs = 15000;

} // namespace

void Form_HardCopy::askWhetherPrinterCanPrint()
{
    if (!m_seams.spooler || ui->chk_Print->checkState() != Qt::Checked) {
        m_printerCannotPrint.clear();
        return;
    }
    PrintSpooler &spooler = *m_seams.spooler;
    const PrintSpooler::Ticket ticket = spooler.askPrinter();
    if (ticket == 0)
        return;
    waitUntil(m_seams.clock->steadyMilliseconds() + kPrinterAnswerWaitMs,
        { .done = [&] { return spooler.report(ticket).isFinal(); } });
    const PrintSpooler::JobReport answer = spooler.report(ticket);
    const QString why = answer.state == PrintSpooler::JobState::Completed ? QString()
        : answer.isFinal()                                                 ? answer.reason
                                                                           : QStringLiteral("the print spooler did not answer");
    if (why != m_printerCannotPrint) {
        if (why.isEmpty())
            qCInfo(lcRun).noquote() << "the printer can print again; clients are requested";
        else
            qCWarning(lcRun).noquote() << "no client is requested while the printer cannot print:" << why;
    }
    m_printerCannotPrint = why;
    showPrinterTrouble();
    // A spare station with a printer that can print takes the turn from its next run on;
    // this one asks for it again at its own next run.
    if (!why.isEmpty() && m_seams.turn && m_seams.turn->held()) {
        qCInfo(lcRun) << "the printing turn is given up while the printer cannot print";
        giveUpTurn();
    }
}
