#pragma once

#include <QMap>
#include <QRegularExpression>
#include <QStringList>

#include "common/Fakes.h"

// A small scripted LIMS for the service-cycle tests: a work list that honours the
// exclusion clauses, a status board, and batch deletion that removes a client. The
// report server behind the fake browser answers a cover page, then the samples page.
class MiniLims
{
public:
    struct Client
    {
        qint64 id;
        QString name;
        qint64 samples;
    };

    QVector<Client> clients;
    QString holder = QStringLiteral("HARD_COPY");
    QString lastUpdate = QStringLiteral("3/2/2026 09:00");
    QString delay = QStringLiteral("15");
    int boardQueries = 0;
    QStringList deletedBatches;
    int deletionsRefused = 0; // the next deletions the procedure refuses
    bool listFails = false;
    QStringList statements; // every statement, in order

    void addClients(int count, qint64 samples = 2)
    {
        for (int i = 0; i < count; ++i)
            clients.push_back({qint64(100 + clients.size()), QStringLiteral("Client %1").arg(clients.size()), samples});
    }

    ScriptedDbConnection::Reply answer(const QString &sql)
    {
        statements << sql;
        if (sql.contains(QLatin1String("tbl_Distrib_ActiveClients(")))
            return listFails ? ScriptedDbConnection::error() : workList(sql);
        if (sql.contains(QLatin1String("from   cinrg.dbo.settings (nolock)"))) {
            ++boardQueries;
            return board();
        }
        if (sql.startsWith(QLatin1String("update cinrg.dbo.settings set value = '"))) {
            static const QRegularExpression currApp(QStringLiteral("set value = '([^']*)' where parameter = 'Zentrab_CurrApp"));
            const auto match = currApp.match(sql);
            if (match.hasMatch())
                holder = match.captured(1);
            return ScriptedDbConnection::ok();
        }
        if (sql.contains(QLatin1String("Distrib_ActiveSamples_DelBatch")) && deletionsRefused > 0) {
            --deletionsRefused;
            return ScriptedDbConnection::error(QStringLiteral("Batch is locked"));
        }
        if (sql.contains(QLatin1String("Distrib_ActiveSamples_DelBatch"))) {
            static const QRegularExpression batch(QStringLiteral("@batchId = 'B([0-9]+)'"));
            const auto match = batch.match(sql);
            if (match.hasMatch()) {
                deletedBatches << match.captured(1);
                const qint64 id = match.captured(1).toLongLong();
                clients.erase(std::remove_if(clients.begin(), clients.end(), [id](const Client &c) { return c.id == id; }),
                              clients.end());
            }
            return ScriptedDbConnection::ok();
        }
        return ScriptedDbConnection::ok();
    }

    ScriptedDbConnection::Reply workList(const QString &sql) const
    {
        static const QRegularExpression skipped(QStringLiteral("not\\(contact_id = ([0-9]+) "));
        QSet<qint64> excluded;
        for (auto it = skipped.globalMatch(sql); it.hasNext();)
            excluded.insert(it.next().captured(1).toLongLong());
        std::vector<ResultSet::Row> rows;
        qint64 total = 0;
        for (const Client &c : clients) {
            if (!excluded.contains(c.id))
                total += c.samples;
        }
        for (const Client &c : clients) {
            if (excluded.contains(c.id))
                continue;
            rows.push_back({DbValue::fromInt(c.id), DbValue::fromText(c.name), DbValue::fromText(QStringLiteral("E%1").arg(c.id)),
                            DbValue::fromDateTime(QDateTime(QDate(2026, 3, 1), QTime(0, 0))), DbValue::fromInt(c.samples),
                            DbValue::fromInt(total)});
        }
        return ScriptedDbConnection::rows({QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"), QStringLiteral("ENDUSER_ID"),
                                           QStringLiteral("REC_DATE"), QStringLiteral("SAMPLES"), QStringLiteral("TOTAL_REPORTS")},
                                          std::move(rows));
    }

    ScriptedDbConnection::Reply board() const
    {
        auto row = [](const QString &name, const QString &value) {
            return ResultSet::Row{DbValue::fromText(name), DbValue::fromText(value)};
        };
        return ScriptedDbConnection::rows({QStringLiteral("PARAMETER"), QStringLiteral("VALUE")},
                                          {row(QStringLiteral("Zentrab_CurrApp_CA"), holder),
                                           row(QStringLiteral("Zentrab_LastPing_CA"), lastUpdate),
                                           row(QStringLiteral("Zentrab_LastUpd_CA"), lastUpdate),
                                           row(QStringLiteral("Zentrab_Delay_CA"), delay),
                                           row(QStringLiteral("Zentrab_Freq_CA"), QStringLiteral("5"))});
    }

    // The report server: a cover page with the batch B<contact id>, then the samples page.
    static FakePage page(const QString &url)
    {
        static const QRegularExpression cid(QStringLiteral("&cid=([0-9]+)"));
        const QString id = cid.match(url).captured(1);
        FakePage page;
        page.elements[QStringLiteral("BATCH_ID")] = QStringLiteral("B") + id;
        page.elements[QStringLiteral("PrintType")] = url.contains(QLatin1String("&pt=SAMPLES")) ? QStringLiteral("SAMPLES")
                                                                                               : QStringLiteral("COVER");
        return page;
    }
};
