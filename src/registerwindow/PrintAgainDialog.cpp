#include "registerwindow/PrintAgainDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "register/RegisterTable.h"

namespace {

QString pageLine(const RegisterRow &row)
{
    return QStringLiteral("the %1 page of batch %2 (row %3), record date %4, printed %5")
        .arg(RegisterTable::visible(row.printType), RegisterTable::visible(row.batchId.trimmed()))
        .arg(row.seq)
        .arg(row.recordDate.isEmpty() ? QStringLiteral("none") : RegisterTable::visible(row.recordDate),
            row.recordedLocal.left(19).replace(QLatin1Char('T'), QLatin1Char(' ')));
}

} // namespace

PrintAgainDialog::PrintAgainDialog(const std::vector<RegisterEntry> &pages, const QStringList &queues, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Print again"));
    auto *question = new QLabel(PrintAgainDialog::question(pages), this);
    question->setTextFormat(Qt::PlainText);
    question->setWordWrap(true);
    question->setAccessibleName(QStringLiteral("What is printed again"));
    m_printer = new QComboBox(this);
    m_printer->setAccessibleName(QStringLiteral("Printer"));
    for (const QString &queue : queues)
        m_printer->addItem(queue.isEmpty() ? QStringLiteral("CUPS's default printer") : queue, queue);
    auto *form = new QFormLayout;
    auto *printerLabel = new QLabel(QStringLiteral("&Printer:"), this);
    printerLabel->setBuddy(m_printer);
    form->addRow(printerLabel, m_printer);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *print = buttons->addButton(QStringLiteral("Print &again"), QDialogButtonBox::AcceptRole);
    print->setAccessibleName(QStringLiteral("Print again"));
    print->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_printer->setFocus();
}

QString PrintAgainDialog::printer() const
{
    return m_printer->currentData().toString();
}

QString PrintAgainDialog::question(const std::vector<RegisterEntry> &pages)
{
    const RegisterRow &first = pages.front().row;
    QStringList lines { QStringLiteral("Print again for client %1 %2:")
                            .arg(RegisterTable::visible(first.clientId), RegisterTable::visible(first.clientName)) };
    for (const RegisterEntry &page : pages)
        lines << QStringLiteral("- %1").arg(pageLine(page.row));
    lines << QStringLiteral("The kept document is sent as it was printed; nothing is sent to the LIMS.");
    return lines.join(QLatin1Char('\n'));
}
