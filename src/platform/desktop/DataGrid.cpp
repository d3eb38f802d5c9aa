#include "platform/desktop/DataGrid.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "platform/Failure.h"

ResultSetModel::ResultSetModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void ResultSetModel::setResultSet(ResultSetPtr resultSet)
{
    beginResetModel();
    m_resultSet = std::move(resultSet);
    endResetModel();
}

int ResultSetModel::rowCount(const QModelIndex &parent) const
{
    return (parent.isValid() || !usable()) ? 0 : m_resultSet->rowCount();
}

int ResultSetModel::columnCount(const QModelIndex &parent) const
{
    return (parent.isValid() || !usable()) ? 0 : m_resultSet->columnCount();
}

QVariant ResultSetModel::data(const QModelIndex &index, int role) const
{
    if (!usable() || !index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return m_resultSet->value(index.row(), index.column()).concatText();
}

QVariant ResultSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !usable())
        return {};
    if (orientation == Qt::Horizontal)
        return m_resultSet->columnName(section);
    return section + 1;
}

DataGrid::DataGrid(QWidget *parent)
    : QTableView(parent)
{
    setModel(&m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setDefaultSectionSize(20);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { onCurrentChanged(current); });
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            emit rowEvent();
    });
}

void DataGrid::setDataSource(ResultSetPtr resultSet)
{
    if (!resultSet || !resultSet->isOpen())
        throw Failure::objectClosed();
    m_model.setResultSet(std::move(resultSet));
}

int DataGrid::columnCount() const
{
    return m_model.columnCount();
}

QString DataGrid::dataField(int column) const
{
    const ResultSetPtr resultSet = m_model.resultSet();
    if (!resultSet || !resultSet->isOpen() || column < 0 || column >= resultSet->columnCount())
        throw Failure::subscriptOutOfRange();
    return resultSet->columnName(column);
}

void DataGrid::refresh()
{
    viewport()->update();
}

void DataGrid::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        emit rowEvent();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DataGrid::onCurrentChanged(const QModelIndex &current)
{
    const ResultSetPtr resultSet = m_model.resultSet();
    if (current.isValid() && resultSet && resultSet->isOpen())
        resultSet->setPosition(current.row());
}
