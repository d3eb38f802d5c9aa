#pragma once

#include <memory>
#include <vector>

#include <QAbstractTableModel>

#include "register/DistributionRegister.h"

// The register's pages for the register window, latest first, read a page of rows at a
// time as the view scrolls (fetchMore), so that a register of a year opens as fast as a
// new one. It opens the register read-only and never moves a damaged one aside: that is
// the station's, when it opens it.
class RegisterModel : public QAbstractTableModel
{
public:
    enum Column { Row, When, Client, ClientName, RecordDate, Batch, Page, WentTo, JobEnd, Operator, Document, Columns };
    static constexpr int kRowsAtATime = 200;
    // The register's state line verifies this many of its last rows, as --check does.
    static constexpr qint64 kRowsVerified = 1000;

    explicit RegisterModel(RegisterSettings settings, QObject *parent = nullptr);
    ~RegisterModel() override;

    // Opens the register afresh (the station may have started a new one) and shows the
    // first rows that match.
    void search(const PageSearch &search);
    // Rows, head and whether its last rows verify; a damaged or unreadable register said plainly.
    QString state() const { return m_state; }
    bool readable() const { return m_register != nullptr; }
    const RegisterEntry &entry(int row) const { return m_entries.at(size_t(row)); }
    // The latest printed pages of the batch, cover first, as --reprint sends them.
    std::vector<RegisterEntry> batchPages(const QString &batchId, QString *error);
    const RegisterSettings &settings() const { return m_settings; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    void open();
    void append(std::vector<RegisterEntry> rows);

    RegisterSettings m_settings;
    std::unique_ptr<DistributionRegister> m_register;
    PageSearch m_search;
    std::vector<RegisterEntry> m_entries;
    bool m_more = false;
    QString m_state;
};
