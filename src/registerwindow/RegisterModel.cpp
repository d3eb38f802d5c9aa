#include "registerwindow/RegisterModel.h"

#include "register/RegisterTable.h"

namespace {

QString shortTime(const QString &recorded)
{
    QString time = recorded.left(19);
    time.replace(QLatin1Char('T'), QLatin1Char(' '));
    return time;
}

QString wentTo(const RegisterRow &row)
{
    if (row.destination == RegisterRow::Cups)
        return row.jobId > 0 ? QStringLiteral("queue %1, job %2").arg(row.queue).arg(row.jobId)
                             : QStringLiteral("queue %1").arg(row.queue);
    if (row.destination == RegisterRow::PdfFolder)
        return QStringLiteral("PDF folder"); // the file's long name is in --register
    return QStringLiteral("printer %1").arg(row.queue);
}

QString jobEnd(const RegisterRow &row)
{
    QString end = row.kind == RegisterRow::Reprint ? QStringLiteral("%1 again").arg(row.outcome) : row.outcome;
    if (!row.jobState.isEmpty() && row.jobState != row.outcome)
        end += QStringLiteral(" (%1)").arg(row.jobState);
    if (row.kind == RegisterRow::Reprint)
        end += QStringLiteral(", of row %1").arg(row.refersTo);
    return end;
}

QString operatorOf(const RegisterRow &row)
{
    if (row.labCode.isEmpty() && row.empNum.isEmpty())
        return QStringLiteral("system user %1").arg(row.systemUser);
    return QStringLiteral("%1 %2").arg(row.labCode, row.empNum).trimmed();
}

QString text(const RegisterEntry &entry, int column)
{
    const RegisterRow &row = entry.row;
    switch (column) {
    case RegisterModel::Row:
        return QString::number(row.seq);
    case RegisterModel::When:
        return shortTime(row.recordedLocal);
    case RegisterModel::Client:
        return row.clientId;
    case RegisterModel::ClientName:
        return row.clientName;
    case RegisterModel::RecordDate:
        return row.recordDate;
    case RegisterModel::Batch:
        return row.batchId.trimmed();
    case RegisterModel::Page:
        return row.printType;
    case RegisterModel::WentTo:
        return wentTo(row);
    case RegisterModel::JobEnd:
        return jobEnd(row);
    case RegisterModel::Operator:
        return operatorOf(row);
    case RegisterModel::Document:
        return entry.document;
    default:
        return {};
    }
}

} // namespace

RegisterModel::RegisterModel(RegisterSettings settings, QObject *parent)
    : QAbstractTableModel(parent)
    , m_settings(std::move(settings))
{
}

RegisterModel::~RegisterModel() = default;

void RegisterModel::search(const PageSearch &search)
{
    beginResetModel();
    m_search = search;
    m_entries.clear();
    m_more = false;
    open();
    if (m_register) {
        QString error;
        append(m_register->latestPages(m_search, 0, kRowsAtATime, &error));
        if (!error.isEmpty())
            m_state = error;
    }
    endResetModel();
}

void RegisterModel::open()
{
    m_register = std::make_unique<DistributionRegister>(m_settings);
    QString error;
    if (!m_register->open(DistributionRegister::Mode::Read, &error)) {
        m_register.reset();
        m_state = QStringLiteral("%1. Nothing can be shown or printed again from it.").arg(error);
        return;
    }
    const RegisterSummary summary = m_register->summary();
    const RegisterVerification chain = m_register->verify(kRowsVerified);
    m_state = chain.intact ? QStringLiteral("The register %1: %2; its last %3 rows verify.")
                                 .arg(m_settings.file, summary.text())
                                 .arg(chain.rowsChecked)
                           : QStringLiteral("The register %1 does not verify: %2. It was altered after it was written; "
                                            "hardcopy-station --verify-register names every row that does not match.")
                                 .arg(m_settings.file, chain.problem);
}

void RegisterModel::append(std::vector<RegisterEntry> rows)
{
    m_more = int(rows.size()) == kRowsAtATime;
    for (RegisterEntry &entry : rows)
        m_entries.push_back(std::move(entry));
}

std::vector<RegisterEntry> RegisterModel::batchPages(const QString &batchId, QString *error)
{
    if (!m_register) {
        *error = m_state;
        return {};
    }
    return m_register->printedPages(batchId, QString(), error);
}

int RegisterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int RegisterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant RegisterModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RegisterEntry &shown = entry(index.row());
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return RegisterTable::visible(text(shown, index.column()));
    if (role == Qt::ToolTipRole && !shown.row.detail.isEmpty())
        return RegisterTable::visible(shown.row.detail);
    return {};
}

QVariant RegisterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const names[Columns] = { "Row", "When", "Client", "Client name", "Record date", "Batch", "Page",
        "Went to", "Job's end", "Operator", "Document" };
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns)
        return QString::fromLatin1(names[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool RegisterModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_more && m_register;
}

void RegisterModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QString error;
    std::vector<RegisterEntry> rows = m_register->latestPages(m_search, m_entries.back().row.seq, kRowsAtATime, &error);
    if (!error.isEmpty()) {
        m_state = error;
        m_more = false;
        return;
    }
    if (rows.empty()) {
        m_more = false;
        return;
    }
    beginInsertRows({}, rowCount(), rowCount() + int(rows.size()) - 1);
    append(std::move(rows));
    endInsertRows();
}
