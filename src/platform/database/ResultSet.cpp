#include "platform/database/ResultSet.h"

#include <iterator>

#include "platform/Failure.h"

ResultSet::ResultSet(QStringList columns, std::vector<Row> rows)
    : m_open(true)
    , m_columns(std::move(columns))
    , m_rowCount(int(rows.size()))
{
    const size_t width = size_t(m_columns.size());
    m_cells.reserve(rows.size() * width);
    for (Row &row : rows) {
        row.resize(width);
        std::move(row.begin(), row.end(), std::back_inserter(m_cells));
    }
}

std::shared_ptr<ResultSet> ResultSet::fromCells(QStringList columns, std::vector<DbValue> cells)
{
    auto result = std::make_shared<ResultSet>();
    result->m_open = true;
    result->m_columns = std::move(columns);
    result->m_cells = std::move(cells);
    const size_t width = size_t(result->m_columns.size());
    result->m_rowCount = width > 0 ? int(result->m_cells.size() / width) : 0;
    result->m_cells.resize(size_t(result->m_rowCount) * width);
    return result;
}

void ResultSet::requireOpen() const
{
    if (!m_open)
        throw Failure::objectClosed();
}

void ResultSet::close()
{
    requireOpen();
    m_open = false;
}

bool ResultSet::eof() const
{
    requireOpen();
    return m_position >= m_rowCount;
}

DbValue ResultSet::field(const QString &name) const
{
    requireOpen();
    const int column = columnIndex(name);
    if (column < 0)
        throw Failure::itemNotFound(name);
    if (m_position >= m_rowCount)
        throw Failure::noCurrentRecord();
    return m_cells[size_t(m_position) * size_t(m_columns.size()) + size_t(column)];
}

void ResultSet::moveNext()
{
    requireOpen();
    if (m_position >= m_rowCount)
        throw Failure::noCurrentRecord();
    ++m_position;
}

void ResultSet::moveFirst()
{
    requireOpen();
    m_position = 0;
}

int ResultSet::position() const
{
    requireOpen();
    return m_position;
}

void ResultSet::setPosition(int row)
{
    requireOpen();
    if (row < 0 || row > m_rowCount)
        throw Failure::noCurrentRecord();
    m_position = row;
}

int ResultSet::rowCount() const
{
    requireOpen();
    return m_rowCount;
}

int ResultSet::columnCount() const
{
    requireOpen();
    return int(m_columns.size());
}

QString ResultSet::columnName(int column) const
{
    requireOpen();
    return m_columns.value(column);
}

int ResultSet::columnIndex(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

const DbValue &ResultSet::value(int row, int column) const
{
    requireOpen();
    if (row < 0 || row >= m_rowCount || column < 0 || column >= int(m_columns.size()))
        throw Failure::subscriptOutOfRange();
    return m_cells[size_t(row) * size_t(m_columns.size()) + size_t(column)];
}
