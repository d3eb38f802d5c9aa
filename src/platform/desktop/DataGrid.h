#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include "platform/database/ResultSet.h"

// Table model over a client-side result set. A closed result set shows no rows.
class ResultSetModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ResultSetModel(QObject *parent = nullptr);
    void setResultSet(ResultSetPtr resultSet);
    ResultSetPtr resultSet() const { return m_resultSet; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool usable() const { return m_resultSet && m_resultSet->isOpen(); }
    ResultSetPtr m_resultSet;
};

// The data-bound grid of the work list: bound to a result set, with columns addressed by
// their data field. The grid's current row is the result set's current row, so that a
// row the operator picks is the row the procedures read. A double-click (or Enter) on a
// row raises the row event.
class DataGrid : public QTableView
{
    Q_OBJECT

public:
    explicit DataGrid(QWidget *parent = nullptr);

    // Binding a closed result set fails (the object is closed), as a bound grid would.
    void setDataSource(ResultSetPtr resultSet);
    ResultSetPtr dataSource() const { return m_model.resultSet(); }
    int columnCount() const;
    QString dataField(int column) const;
    bool isColumnVisible(int column) const { return !isColumnHidden(column); }
    void setColumnVisible(int column, bool visible) { setColumnHidden(column, !visible); }
    void refresh();

signals:
    void rowEvent();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onCurrentChanged(const QModelIndex &current);
    ResultSetModel m_model;
};
