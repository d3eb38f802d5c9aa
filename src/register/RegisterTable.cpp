#include "register/RegisterTable.h"

#include <algorithm>

#include <QStringList>

#include "register/DistributionRegister.h"

namespace {

constexpr char32_t kControlPictures = 0x2400; // U+2400 "␀" to U+241F, and U+2421 "␡" for DEL
constexpr char32_t kDelete = 0x7f;

QString what(const RegisterRow &row)
{
    if (row.kind == RegisterRow::Reprint)
        return QStringLiteral("reprint of %1 %2").arg(row.refersTo).arg(row.outcome);
    return row.outcome.isEmpty() ? row.kind : row.kind + QLatin1Char(' ') + row.outcome;
}

QString sentTo(const RegisterRow &row)
{
    if (row.destination == RegisterRow::Cups)
        return QStringLiteral("CUPS %1 job %2 %3").arg(row.queue).arg(row.jobId).arg(row.jobState);
    if (row.destination == RegisterRow::PdfFolder)
        return row.pdfFile.isEmpty() ? row.queue : row.pdfFile;
    if (row.destination == RegisterRow::QtPrinter)
        return QStringLiteral("printer %1 %2").arg(row.queue, row.jobState);
    return {};
}

QString recorded(const QString &isoLocal)
{
    // 2026-12-08T10:15:02.123+01:00 -> 2026-12-08 10:15:02 +01:00
    return isoLocal.left(10) + QLatin1Char(' ') + isoLocal.mid(11, 8) + QLatin1Char(' ') + isoLocal.mid(23);
}

QStringList cells(const RegisterEntry &entry)
{
    const RegisterRow &row = entry.row;
    const QString document = entry.document == QLatin1String("pruned")
        ? QStringLiteral("pruned %1").arg(entry.prunedUtc.left(10))
        : entry.document;
    const QString operatorName
        = row.labCode.isEmpty() && row.empNum.isEmpty() ? row.systemUser : row.labCode + QLatin1Char('/') + row.empNum;
    const QString digest = row.sha256.isEmpty() ? QString() : row.sha256.left(16) + QChar(0x2026);
    return { QString::number(row.seq), recorded(row.recordedLocal), what(row),
        QStringList { row.clientId, row.clientName }.join(QLatin1Char(' ')).trimmed(), row.recordDate, row.batchId,
        row.printType, sentTo(row), row.bytes ? QString::number(row.bytes) : QString(), digest, document, operatorName,
        row.detail };
}

} // namespace

namespace RegisterTable {

QString visible(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (c < 0x20)
            shown += QChar(char16_t(kControlPictures + c));
        else if (c == kDelete)
            shown += QChar(char16_t(kControlPictures + 0x21));
        else if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            shown += QStringLiteral("<U+%1>").arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
        else
            shown += QString::fromUcs4(&c, 1);
    }
    return shown;
}

QString table(const std::vector<RegisterEntry> &entries)
{
    std::vector<QStringList> lines { { QStringLiteral("Row"), QStringLiteral("Recorded"), QStringLiteral("What"),
        QStringLiteral("Client"), QStringLiteral("Record date"), QStringLiteral("Batch"), QStringLiteral("Page"),
        QStringLiteral("Sent to"), QStringLiteral("Bytes"), QStringLiteral("SHA-256"), QStringLiteral("Document"),
        QStringLiteral("Operator"), QStringLiteral("Detail") } };
    for (const RegisterEntry &entry : entries) {
        QStringList line = cells(entry);
        for (QString &cell : line)
            cell = visible(cell);
        lines.push_back(line);
    }
    QList<qsizetype> widths(lines.front().size(), 0);
    for (const QStringList &line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line[i].size());
    }
    QString out;
    for (const QStringList &line : lines) {
        QStringList padded;
        for (qsizetype i = 0; i < line.size(); ++i)
            padded << (i + 1 < line.size() ? line[i].leftJustified(widths[i]) : line[i]);
        QString text = padded.join(QStringLiteral("  "));
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        out += text + QLatin1Char('\n');
    }
    return out;
}

QString csvField(const QString &text)
{
    static const QString special = QStringLiteral("\",\r\n");
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return special.contains(c); }))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString csv(const std::vector<RegisterEntry> &entries)
{
    QStringList header;
    for (const RegisterRow::Field &field : RegisterRow::fields())
        header << QLatin1String(field.name);
    header << QStringLiteral("hash") << QStringLiteral("document") << QStringLiteral("pruned_utc");
    QString out = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const RegisterEntry &entry : entries) {
        QStringList values;
        for (const RegisterRow::Field &field : RegisterRow::fields())
            values << csvField(entry.row.value(field));
        values << entry.row.hash << entry.document << entry.prunedUtc;
        out += values.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out;
}

} // namespace RegisterTable
