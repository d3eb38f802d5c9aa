#pragma once

#include <memory>
#include <vector>

#include <QString>
#include <QStringList>

#include "platform/database/DbValue.h"

// A result set held entirely by the client: all rows are fetched when the statement
// runs, so the grid can show it and the procedures can walk it without the server.
// A closed result set fails on every read, as the callers' failure handling expects.
class ResultSet
{
public:
    using Row = std::vector<DbValue>;

    // A closed, empty result set: what a given-up query returns.
    ResultSet() = default;
    ResultSet(QStringList columns, std::vector<Row> rows);
    // The same from the values of all rows one after the other, row by row: a long
    // list then costs one allocation for its values rather than one a row.
    static std::shared_ptr<ResultSet> fromCells(QStringList columns, std::vector<DbValue> cells);

    bool isOpen() const { return m_open; }
    void close();

    bool eof() const;
    DbValue field(const QString &name) const;
    void moveNext();
    void moveFirst();

    // Position of the current row (0-based); rowCount() when past the last row.
    int position() const;
    void setPosition(int row);

    int rowCount() const;
    int columnCount() const;
    QString columnName(int column) const;
    int columnIndex(const QString &name) const; // -1 when absent; names compare case-insensitively
    const DbValue &value(int row, int column) const;

private:
    void requireOpen() const;

    bool m_open = false;
    QStringList m_columns;
    std::vector<DbValue> m_cells; // row after row
    int m_rowCount = 0;
    int m_position = 0;
};

using ResultSetPtr = std::shared_ptr<ResultSet>;

inline ResultSetPtr closedResultSet() { return std::make_shared<ResultSet>(); }
