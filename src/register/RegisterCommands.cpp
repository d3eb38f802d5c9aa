#include "register/RegisterCommands.h"

#include <QFileInfo>
#include <QTextStream>

#include "register/RegisterTable.h"

namespace {

QString headText(qint64 seq, const QString &hash)
{
    return seq == 0 ? QStringLiteral("none (no rows)") : QStringLiteral("%1 %2").arg(seq).arg(hash);
}

} // namespace

namespace RegisterCommands {

int list(const RegisterSettings &settings, const RegisterQuery &query, bool csv, QTextStream &out)
{
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Read, &error)) {
        out << error << Qt::endl;
        return 1;
    }
    const std::vector<RegisterEntry> entries = reg.lookup(query, &error);
    if (!error.isEmpty()) {
        out << error << Qt::endl;
        return 1;
    }
    if (csv) {
        out << RegisterTable::csv(entries);
    } else {
        const RegisterSummary summary = reg.summary();
        out << RegisterTable::table(entries);
        out << QStringLiteral("%1 of %2 rows of the register %3; head %4")
                   .arg(entries.size())
                   .arg(summary.counted)
                   .arg(settings.file, headText(summary.rows, summary.head))
            << Qt::endl;
    }
    out.flush();
    return 0;
}

int verify(const RegisterSettings &settings, QTextStream &out)
{
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Read, &error)) {
        out << error << Qt::endl;
        return 1;
    }
    const RegisterVerification chain = reg.verify();
    if (!chain.intact) {
        out << QStringLiteral("The register %1 does not verify: %2").arg(settings.file, chain.problem) << Qt::endl;
        if (chain.headSeq > 0)
            out << QStringLiteral("Its head: %1").arg(headText(chain.headSeq, chain.head)) << Qt::endl;
        return 1;
    }
    out << QStringLiteral("The register %1 verifies: %2 rows, head %3")
               .arg(settings.file)
               .arg(chain.rowsChecked)
               .arg(headText(chain.headSeq, chain.head))
        << Qt::endl;
    out << QStringLiteral("A register rewritten or cut short at its end still verifies: compare this head with "
                          "the last one the log and the status record show.")
        << Qt::endl;
    qint64 checked = 0;
    const QStringList damaged = reg.damagedDocuments(&checked);
    for (const QString &problem : damaged)
        out << QStringLiteral("Kept documents: %1").arg(problem) << Qt::endl;
    if (damaged.isEmpty())
        out << QStringLiteral("Kept documents: %1 checked, each has its digest").arg(checked) << Qt::endl;
    return damaged.isEmpty() ? 0 : 1;
}

RegisterSummary summary(const RegisterSettings &settings)
{
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Read, &error)) {
        RegisterSummary missing;
        missing.exists = QFileInfo::exists(settings.file);
        missing.error = missing.exists ? error : QString();
        return missing;
    }
    return reg.summary();
}

CheckOutcome check(const RegisterSettings &settings, qint64 lastRows)
{
    if (!QFileInfo::exists(settings.file))
        return { true,
            QStringLiteral("register %1: none yet (it is made when the first page is printed)").arg(settings.file) };
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Read, &error))
        return { false, error };
    const RegisterVerification chain = reg.verify(lastRows);
    if (!chain.intact)
        return { false, QStringLiteral("register %1 does not verify: %2").arg(settings.file, chain.problem) };
    return { true,
        QStringLiteral("register %1: %2; its last %3 rows verify")
            .arg(settings.file, reg.summary().text())
            .arg(chain.rowsChecked) };
}

std::optional<QDateTime> parseDate(const QString &text, bool until)
{
    const QString trimmed = text.trimmed();
    const QDate day = QDate::fromString(trimmed, Qt::ISODate);
    if (day.isValid() && trimmed.size() == 10)
        return day.addDays(until ? 1 : 0).startOfDay();
    QString iso = trimmed;
    if (iso.size() > 10 && iso.at(10) == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

} // namespace RegisterCommands
