#include "platform/ResultSet.h"

#include "platform/Failure.h"

ResultSet::ResultSet(QStringList columns, std::vector<Row> rows)
    : m_open(true)
    , m_columns(std::move(columns))
    , m_rows(std::move(rows))
{
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
    return m_position >= int(m_rows.size());
}

DbValue ResultSet::field(const QString &name) const
{
    requireOpen();
    const int column = columnIndex(name);
    if (column < 0)
        throw Failure::itemNotFound(name);
    if (m_position >= int(m_rows.size()))
        throw Failure::noCurrentRecord();
    return m_rows[size_t(m_position)][size_t(column)];
}

void ResultSet::moveNext()
{
    requireOpen();
    if (m_position >= int(m_rows.size()))
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
    if (row < 0 || row > int(m_rows.size()))
        throw Failure::noCurrentRecord();
    m_position = row;
}

int ResultSet::rowCount() const
{
    requireOpen();
    return int(m_rows.size());
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
    if (row < 0 || row >= int(m_rows.size()) || column < 0 || column >= int(m_columns.size()))
        throw Failure::subscriptOutOfRange();
    return m_rows[size_t(row)][size_t(column)];
}
