#include "app/Form_HardCopy.h"

#include "db/dbModule.h"
#include "dispatch/DispatchText.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Failure.h"
#include "monitoring/StationActivity.h"
#include "platform/Log.h"
#include "ui_Form_HardCopy.h"

namespace {

bool isShownColumn(const QString &dataField)
{
    return dataField == QLatin1String("CONTACT_NAME") || dataField == QLatin1String("ENDUSER_ID")
        || dataField == QLatin1String("REC_DATE") || dataField == QLatin1String("SAMPLES");
}

} // namespace

// The cleanup goes straight to the connection: a failure reaches the caller, so that a
// work list is never loaded over an untidied distribution state.
void Form_HardCopy::Run_DistribCleanup()
{
    m_db.Execute_Direct(distribCleanupStatement(sLabCode));
}

void Form_HardCopy::Load_WorkList(const QString &ratingFilter)
{
    Run_DistribCleanup();
    sQueryRating = ratingFilter;
    sRatingFilter = ratingFilter;

    const QString sql = workListStatement(sLabCode, ratingFilter, sSkipContactId, sSkipRecDate);
    qCInfo(lcReport).noquote() << "loading the work list:" << sql;
    rsWorkList = m_db.Get_Recordset(sql, true);

    // During a run the service run keeps the panel itself; a failed query shows up here
    // as a closed list and leaves the panel alone.
    try {
        if (!rsWorkList->eof() && sServiceState == QLatin1String("IDLE"))
            Set_Statistics(rsWorkList->field(QStringLiteral("TOTAL_REPORTS")), DbValue::null(), DbValue::null(),
                           DbValue::null(), DbValue::null());
    } catch (const Failure &failure) {
        qCWarning(lcReport).noquote() << "work list statistics not shown:" << failure.number()
                                      << failure.description();
    }

    DataGrid *grid = ui->DataGrid1;
    grid->setDataSource(rsWorkList);
    for (int column = 0; column < grid->columnCount(); ++column) {
        grid->setColumnVisible(column, false);
        if (isShownColumn(grid->dataField(column)))
            grid->setColumnVisible(column, true);
    }
    grid->refresh();
}

// The reloaded list can offer again a client already requested in this run: one whose
// batch was kept (its pages did not print) and whose exclusion clause does not match
// the stored record date (a date kept with a fraction of a second, whose text shows
// whole seconds). Such rows are passed over, so that the other due clients are still
// served and the run ends when nothing new is left, instead of asking the LIMS for the
// same list again and again.
void Form_HardCopy::passOverRowsAlreadySent()
{
    int waitingForPrinter = 0;
    while (!rsWorkList->eof()) {
        const QString contactId = currentField(rsWorkList, QStringLiteral("CONTACT_ID")).concatText();
        const QString recDate = currentField(rsWorkList, QStringLiteral("REC_DATE")).concatText();
        bool sent = false;
        for (qsizetype i = 0; i < sSkipContactId.size() && i < sSkipRecDate.size() && !sent; ++i)
            sent = sSkipContactId.at(i) == contactId && sSkipRecDate.at(i) == recDate;
        // A contact whose printed batch is still in the LIMS is not requested: the report
        // server would give the same reports again under a new batch. Nor is one whose
        // pages are in the print system with no end on record yet.
        const QString held = sent ? QString() : whyClientHeld(contactId);
        if (!sent && held.isEmpty())
            break;
        // The printer's trouble is logged once; every due client waits for it.
        const bool forPrinter = !sent && !m_printerCannotPrint.isEmpty();
        waitingForPrinter += forPrinter ? 1 : 0;
        const QString key = contactId + QChar(0x1F) + recDate;
        if (!forPrinter && !m_reofferedInRun.contains(key)) {
            m_reofferedInRun.insert(key);
            qCInfo(lcRun).noquote() << "contact" << contactId << "of" << recDate
                                    << (sent ? QStringLiteral("is listed again after its request in this run; passed "
                                                              "over until the next run")
                                             : held + QStringLiteral("; passed over"));
        }
        rsWorkList->moveNext();
    }
    if (!m_printerCannotPrint.isEmpty())
        report([&](StationActivity &activity) { activity.clientsWaitForPrinter(waitingForPrinter); });
}
