// The register window on a register of a year: 200,000 rows (two rows a page, a row a
// batch), written straight into the file with their chain, then opened and searched as
// the window does it, on the window's thread.
#include <algorithm>
#include <functional>

#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "register/DistributionRegister.h"
#include "registerwindow/RegisterModel.h"

namespace {

constexpr int kRows = 200000;
constexpr int kClients = 3000;

// A client's batch as the station writes it: each page submitted, then ended, then the batch.
std::vector<RegisterRow> batchRows(int batch, qint64 firstSeq)
{
    const int client = batch % kClients;
    RegisterRow base;
    base.kind = RegisterRow::Page;
    base.recordedUtc = QDateTime(QDate(2026, 1, 1), QTime(6, 0), QTimeZone::utc())
                           .addSecs(qint64(batch) * 150)
                           .toString(Qt::ISODateWithMs);
    base.recordedLocal = base.recordedUtc;
    base.host = QStringLiteral("station");
    base.systemUser = QStringLiteral("hardcopy");
    base.labCode = QStringLiteral("QVLAB");
    base.empNum = QStringLiteral("1001");
    base.clientId = QString::number(100000 + client);
    base.clientName = QStringLiteral("Laboratory client %1 Ltd").arg(client);
    base.recordDate = base.recordedUtc.left(10);
    base.batchId = QString::number(700000 + batch);
    base.destination = RegisterRow::Cups;
    base.queue = QStringLiteral("LAB");
    std::vector<RegisterRow> rows;
    for (const char *printType : { "COVER", "SAMPLES" }) {
        RegisterRow submitted = base;
        submitted.printType = QString::fromLatin1(printType);
        submitted.jobId = int(firstSeq + qint64(rows.size()));
        submitted.outcome = RegisterRow::Submitted;
        submitted.bytes = 20000;
        submitted.sha256 = KeptDocuments::digestOf(submitted.batchId.toUtf8() + printType);
        RegisterRow ended = submitted;
        ended.outcome = RegisterRow::Printed;
        ended.jobState = QStringLiteral("completed");
        rows.push_back(submitted);
        rows.push_back(ended);
    }
    RegisterRow deleted = base;
    deleted.kind = RegisterRow::Batch;
    deleted.outcome = RegisterRow::Deleted;
    rows.push_back(deleted);
    return rows;
}

// The rows after the register's first, in one transaction, each chained on the one before.
bool fillRegister(const RegisterSettings &settings, QString *error)
{
    {
        DistributionRegister reg(settings);
        if (!reg.open(DistributionRegister::Mode::Write, error))
            return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench fill"));
    db.setDatabaseName(settings.file);
    bool filled = db.open();
    {
        QSqlQuery head(db);
        filled = filled && head.exec(QStringLiteral("SELECT hash FROM register_rows WHERE seq = 1")) && head.next();
        QString previous = filled ? head.value(0).toString() : QString();
        QStringList names;
        QStringList marks;
        for (const RegisterRow::Field &field : RegisterRow::fields()) {
            names << QString::fromLatin1(field.name);
            marks << QStringLiteral("?");
        }
        QSqlQuery insert(db);
        QSqlQuery document(db); // each page's document in the station's index of them, as kept
        filled = filled
            && document.prepare(QStringLiteral("INSERT OR IGNORE INTO documents (sha256, bytes, kept_utc) "
                                               "VALUES (?, ?, ?)"));
        filled = filled && db.transaction()
            && insert.prepare(QStringLiteral("INSERT INTO register_rows (%1, hash) VALUES (%2, ?)")
                                  .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        qint64 seq = 2;
        for (int batch = 0; filled && seq <= kRows; ++batch) {
            for (RegisterRow &row : batchRows(batch, seq)) {
                row.seq = seq++;
                row.hash = row.chainHash(previous);
                previous = row.hash;
                int i = 0;
                for (const RegisterRow::Field &field : RegisterRow::fields()) {
                    // Every column is NOT NULL: an empty text is stored as one.
                    insert.bindValue(i++,
                        field.number ? QVariant(row.*field.number)
                                     : QVariant((row.*field.text).isNull() ? QStringLiteral("") : row.*field.text));
                }
                insert.bindValue(i, row.hash);
                filled = filled && insert.exec();
                if (row.outcome == RegisterRow::Submitted) {
                    document.bindValue(0, row.sha256);
                    document.bindValue(1, row.bytes);
                    document.bindValue(2, row.recordedUtc);
                    filled = filled && document.exec();
                }
            }
        }
        filled = filled && db.commit();
        if (!filled)
            *error = insert.lastError().isValid() ? insert.lastError().text() : db.lastError().text();
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench fill"));
    return filled;
}

// The slowest of a few tries: the first one reads the file from the disk cache like the rest.
double slowestMs(int tries, const std::function<void()> &step)
{
    double slowest = 0;
    for (int i = 0; i < tries; ++i) {
        QElapsedTimer clock;
        clock.start();
        step();
        slowest = std::max(slowest, double(clock.nsecsElapsed()) / 1e6);
    }
    return slowest;
}

} // namespace

bool measureRegisterWindowFigures(BenchHarness &b)
{
    RegisterSettings settings;
    settings.file = b.folder() + QStringLiteral("/year/register.sqlite");
    QDir().mkpath(b.folder() + QStringLiteral("/year"));
    QFile::remove(settings.file);
    QString error;
    QElapsedTimer filling;
    filling.start();
    if (!fillRegister(settings, &error))
        return b.fail(QStringLiteral("the register of a year could not be written: %1").arg(error));
    const double fillSeconds = double(filling.elapsed()) / 1000;

    RegisterModel model(settings);
    struct Step
    {
        const char *what;
        PageSearch search;
        bool scroll;
    };
    const Step steps[] = {
        { "opening: state line (rows, head, last 1000 rows verified) and the latest 200 pages", {}, false },
        { "scrolling: the next 200 pages", {}, true },
        { "a client by id (its pages over the year)", { QStringLiteral("101234"), {}, {}, {} }, false },
        { "a client by part of its name", { QStringLiteral("client 2345 ltd"), {}, {}, {} }, false },
        { "a batch", { {}, QStringLiteral("712345"), {}, {} }, false },
        { "a name that matches nothing (every row looked at)", { QStringLiteral("no such client"), {}, {}, {} },
            false },
    };
    for (const Step &step : steps) {
        model.search(step.search);
        const double ms = slowestMs(5, [&] {
            model.search(step.search);
            if (step.scroll)
                model.fetchMore({});
        });
        Figure figure;
        figure.name = QStringLiteral("Register window, %1 rows: %2").arg(kRows).arg(QString::fromLatin1(step.what));
        figure.measured = msText(ms);
        figure.target = QStringLiteral("<= 500 ms");
        figure.verdict = Figure::judge(model.readable(), ms <= 500);
        figure.notes << QStringLiteral("slowest of 5, on the window's thread; %1 rows shown").arg(model.rowCount());
        if (&step == &steps[0])
            figure.notes
                << QStringLiteral("the register written in %1 s: %2").arg(fillSeconds, 0, 'f', 1).arg(model.state());
        b.addFigure(figure);
    }
    // Why the window verifies the last rows only: the whole walk is --verify-register's.
    DistributionRegister reg(settings);
    QElapsedTimer walking;
    walking.start();
    const bool intact = reg.open(DistributionRegister::Mode::Read, &error) && reg.verify().intact;
    Figure walk;
    walk.name
        = QStringLiteral("Register of %1 rows: the whole chain walked (--verify-register, not the window)").arg(kRows);
    walk.measured = msText(double(walking.nsecsElapsed()) / 1e6);
    walk.target = QStringLiteral("(reported)");
    walk.verdict = Figure::judge(intact, true);
    b.addFigure(walk);
    return true;
}
