#include "registerwindow/RegisterWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>

#include "platform/printing/CupsQueues.h"
#include "register/RegisterCommands.h"
#include "registerwindow/PrintAgain.h"
#include "registerwindow/PrintAgainDialog.h"
#include "registerwindow/RegisterModel.h"

namespace {

QPushButton *button(const QString &caption, const QString &name, QWidget *parent)
{
    auto *made = new QPushButton(caption, parent);
    made->setAccessibleName(name);
    return made;
}

QLabel *line(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setAccessibleName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setFocusPolicy(Qt::TabFocus); // a screen reader's user reaches it with Tab
    return label;
}

} // namespace

RegisterWindow::RegisterWindow(Options options, QWidget *parent)
    : QMainWindow(parent)
    , m_options(std::move(options))
    , m_model(new RegisterModel(m_options.settings, this))
    , m_printAgain(new PrintAgain(m_options.settings, this))
    , m_queues { m_options.printer }
{
    setWindowTitle(QStringLiteral("HardCopy register"));
    setAccessibleName(QStringLiteral("HardCopy register"));
    auto *central = new QWidget(this);
    setCentralWidget(central);
    m_searchBar = new QWidget(central);
    new QHBoxLayout(m_searchBar);
    m_client = addField(QStringLiteral("&Client:"), QStringLiteral("Client id or name"), QStringLiteral("id or name"));
    m_batch = addField(QStringLiteral("&Batch:"), QStringLiteral("Batch"), QString());
    m_since = addField(QStringLiteral("&From:"), QStringLiteral("From date"), QStringLiteral("2026-12-08"));
    m_until = addField(QStringLiteral("&To:"), QStringLiteral("To date, included"), QStringLiteral("2026-12-08"));
    QPushButton *find = button(QStringLiteral("&Search"), QStringLiteral("Search"), m_searchBar);
    m_searchBar->layout()->addWidget(find);

    m_table = new QTableView(this);
    m_table->setAccessibleName(QStringLiteral("Printed pages, latest first"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setTabKeyNavigation(false); // Tab leaves the table for the buttons
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_state = line(QStringLiteral("Register state"), this);
    m_outcome = line(QStringLiteral("Print again: what happened"), this);
    m_printPage = button(QStringLiteral("Print &again this page..."), QStringLiteral("Print again this page"), this);
    m_printBatch = button(
        QStringLiteral("Print again the &whole batch..."), QStringLiteral("Print again the whole batch"), this);
    QPushButton *close = button(QStringLiteral("C&lose"), QStringLiteral("Close"), this);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_printPage);
    buttons->addWidget(m_printBatch);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(m_searchBar);
    layout->addWidget(m_state);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_outcome);

    connect(find, &QPushButton::clicked, this, &RegisterWindow::search);
    for (QLineEdit *field : { m_client, m_batch, m_since, m_until })
        connect(field, &QLineEdit::returnPressed, this, &RegisterWindow::search);
    connect(m_printPage, &QPushButton::clicked, this, [this] { printAgain(false); });
    connect(m_printBatch, &QPushButton::clicked, this, [this] { printAgain(true); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_model, &QAbstractItemModel::modelReset, this, &RegisterWindow::showSelection);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &RegisterWindow::showSelection);
    connect(m_printAgain, &PrintAgain::told, this, &RegisterWindow::told);
    connect(m_printAgain, &PrintAgain::finished, this, [this](bool printed) {
        told(printed ? QStringLiteral("Printed again.") : QStringLiteral("Not everything was printed again."));
        search(); // the reprint's row
    });
    resize(1200, 660);
    search();
    m_client->setFocus();
}

QLineEdit *RegisterWindow::addField(const QString &label, const QString &name, const QString &placeholder)
{
    auto *field = new QLineEdit(m_searchBar);
    field->setAccessibleName(name);
    field->setPlaceholderText(placeholder);
    auto *caption = new QLabel(label, m_searchBar);
    caption->setBuddy(field);
    m_searchBar->layout()->addWidget(caption);
    m_searchBar->layout()->addWidget(field);
    return field;
}

void RegisterWindow::loadQueues()
{
    auto *found = new QStringList;
    QThread *asking = QThread::create([found, server = m_options.cupsServer] { *found = cupsQueueNames(server); });
    connect(asking, &QThread::finished, this, [this, asking, found] {
        for (const QString &queue : *found) {
            if (!m_queues.contains(queue))
                m_queues << queue;
        }
        delete found;
        asking->deleteLater();
    });
    asking->start();
}

void RegisterWindow::search()
{
    PageSearch what { m_client->text(), m_batch->text(), {}, {} };
    const std::pair<QLineEdit *, QDateTime *> dates[] = { { m_since, &what.since }, { m_until, &what.until } };
    for (const auto &[field, time] : dates) {
        if (field->text().trimmed().isEmpty())
            continue;
        const std::optional<QDateTime> parsed = RegisterCommands::parseDate(field->text(), time == &what.until);
        if (!parsed) {
            m_state->setText(
                QStringLiteral("\"%1\" is not a date: write it as 2026-12-08 or 2026-12-08 10:15.").arg(field->text()));
            field->setFocus();
            return;
        }
        *time = *parsed;
    }
    m_model->search(what);
    m_state->setText(m_model->state());
    m_table->resizeColumnsToContents(); // the rows read so far: at most one page of them
    if (m_model->rowCount() > 0)
        m_table->selectRow(0);
}

void RegisterWindow::showSelection()
{
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    const bool printable = current.isValid() && !m_model->entry(current.row()).row.sha256.isEmpty();
    m_printPage->setEnabled(printable && !m_printAgain->busy());
    m_printBatch->setEnabled(
        printable && !m_printAgain->busy() && !m_model->entry(current.row()).row.batchId.trimmed().isEmpty());
}

void RegisterWindow::printAgain(bool wholeBatch)
{
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    if (!current.isValid() || m_printAgain->busy())
        return;
    std::vector<RegisterEntry> pages { m_model->entry(current.row()) };
    if (wholeBatch) {
        QString error;
        pages = m_model->batchPages(pages.front().row.batchId, &error);
        if (pages.empty()) {
            told(error.isEmpty() ? QStringLiteral("Batch %1 has no printed page on record.")
                                       .arg(m_model->entry(current.row()).row.batchId.trimmed())
                                 : error);
            return;
        }
    }
    PrintAgainDialog confirm(pages, m_queues, this);
    if (confirm.exec() != QDialog::Accepted)
        return;
    m_outcome->clear();
    m_printPage->setEnabled(false);
    m_printBatch->setEnabled(false);
    m_printAgain->start(
        { pages, confirm.printer(), m_options.cupsServer, m_options.jobTimeoutSeconds, m_options.printOptions });
}

void RegisterWindow::told(const QString &line)
{
    // On the standard output too: the session's journal keeps what was printed again.
    QTextStream(stdout) << line << Qt::endl;
    const QString shown = m_outcome->text();
    m_outcome->setText(shown.isEmpty() ? line : shown + QLatin1Char('\n') + line);
}
