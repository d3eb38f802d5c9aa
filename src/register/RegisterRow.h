#pragma once

#include <span>

#include <QByteArray>
#include <QLatin1String>
#include <QString>

// One row of the register: a page printed or failed, a batch deleted or kept, a page
// printed again, documents pruned, or the start of a register. The register sets the
// row number, the times, the host, the system user and the hash; the rest comes from
// the caller. Every value is text or a whole number (0 and the empty text mean none).
struct RegisterRow
{
    // kind
    static constexpr QLatin1String Start { "start" }; // the first row of a register
    static constexpr QLatin1String Page { "page" };
    static constexpr QLatin1String Batch { "batch" };
    static constexpr QLatin1String Reprint { "reprint" };
    static constexpr QLatin1String Prune { "prune" };
    // outcome
    static constexpr QLatin1String Submitted { "submitted" }; // page: handed to the print system
    static constexpr QLatin1String Printed { "printed" }; // page, reprint
    static constexpr QLatin1String Failed { "failed" }; // page, reprint
    static constexpr QLatin1String Unknown { "unknown" }; // page: the print system no longer knows its job
    static constexpr QLatin1String Deleted { "deleted" }; // batch
    static constexpr QLatin1String Kept { "kept" }; // batch: printed again by a later run
    static constexpr QLatin1String Pending { "pending" }; // batch: printed, its deletion not yet taken
    static constexpr QLatin1String New { "new" }; // start: no register was there
    static constexpr QLatin1String Replaces { "replaces" }; // start: a damaged one was moved aside
    static constexpr QLatin1String Pruned { "pruned" }; // prune
    // destination
    static constexpr QLatin1String Cups { "cups" };
    static constexpr QLatin1String PdfFolder { "pdf-folder" };
    static constexpr QLatin1String QtPrinter { "printer" };

    qint64 seq = 0; // 1, 2, 3, ... without a gap
    QString kind;
    QString recordedUtc; // 2026-12-08T09:15:02.123Z
    QString recordedLocal; // the same instant on the station's clock: 2026-12-08T10:15:02.123+01:00
    QString host;
    QString systemUser; // the system account whose process wrote the row
    QString labCode; // the operator's lab code and employee number (the LIMS login)
    QString empNum;
    QString clientId;
    QString clientName;
    QString recordDate;
    QString batchId;
    QString printType;
    QString reportUrl;
    QString destination; // Cups, PdfFolder or QtPrinter
    QString queue; // the CUPS queue, the PDF folder or the printer
    qint64 jobId = 0;
    QString jobState; // the job's final state as the print system named it
    QString jobEndedUtc; // when the station learnt of that end
    QString pdfFile; // the file written into the PDF folder
    QString outcome;
    QString detail; // the print system's reason, why a batch was kept, the damaged file, what was pruned
    qint64 bytes = 0; // the document sent
    QString sha256; // its SHA-256, lowercase hex
    // A page's end: its submission's row; reprint: the original's row; start: the damaged
    // register's last good row.
    qint64 refersTo = 0;
    QString previousHead; // start: the damaged register's last good head
    QString hash; // the chain: SHA-256 over the previous row's hash and this row's fields

    // One column of the register: its name in the database and the CSV, and the member.
    struct Field
    {
        const char *name;
        QString RegisterRow::*text = nullptr;
        qint64 RegisterRow::*number = nullptr;
    };
    // Every column but the hash, in the order of the canonical encoding.
    static std::span<const Field> fields();
    QString value(const Field &field) const;
    void setValue(const Field &field, const QString &value);

    // The bytes the hash is taken over (see docs/register.md): the netstrings of
    // "hardcopy-register/1", the previous row's hash and every field in order, each
    // "<length in bytes>:<UTF-8>,"; numbers in decimal.
    QByteArray canonical(const QString &previousHash) const;
    QString chainHash(const QString &previousHash) const;
    // What the first row of a register chains on: 64 zeros.
    static QString noPreviousHash();
    // Text as it comes back from the database: what UTF-8 cannot carry (a lone
    // surrogate) becomes U+FFFD before the row is hashed and stored.
    void makeStorable();
};
