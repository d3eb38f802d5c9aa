#include "register/RegisterRow.h"

#include <QCryptographicHash>

namespace {

using Field = RegisterRow::Field;
using R = RegisterRow;

// The order is the canonical encoding's: a column added later goes at the end, with a
// new version of the encoding.
constexpr Field kFields[] = {
    { "seq", nullptr, &R::seq },
    { "kind", &R::kind },
    { "recorded_utc", &R::recordedUtc },
    { "recorded_local", &R::recordedLocal },
    { "host", &R::host },
    { "system_user", &R::systemUser },
    { "lab_code", &R::labCode },
    { "emp_num", &R::empNum },
    { "client_id", &R::clientId },
    { "client_name", &R::clientName },
    { "record_date", &R::recordDate },
    { "batch_id", &R::batchId },
    { "print_type", &R::printType },
    { "report_url", &R::reportUrl },
    { "destination", &R::destination },
    { "queue", &R::queue },
    { "job_id", nullptr, &R::jobId },
    { "job_state", &R::jobState },
    { "job_ended_utc", &R::jobEndedUtc },
    { "pdf_file", &R::pdfFile },
    { "outcome", &R::outcome },
    { "detail", &R::detail },
    { "bytes", nullptr, &R::bytes },
    { "sha256", &R::sha256 },
    { "refers_to", nullptr, &R::refersTo },
    { "previous_head", &R::previousHead },
};

void appendNetstring(QByteArray &out, const QByteArray &bytes)
{
    out += QByteArray::number(bytes.size());
    out += ':';
    out += bytes;
    out += ',';
}

} // namespace

std::span<const RegisterRow::Field> RegisterRow::fields()
{
    return kFields;
}

QString RegisterRow::value(const Field &field) const
{
    return field.text ? this->*field.text : QString::number(this->*field.number);
}

void RegisterRow::setValue(const Field &field, const QString &value)
{
    if (field.text)
        this->*field.text = value;
    else
        this->*field.number = value.toLongLong();
}

QByteArray RegisterRow::canonical(const QString &previousHash) const
{
    QByteArray out;
    out.reserve(1024);
    appendNetstring(out, QByteArrayLiteral("hardcopy-register/1"));
    appendNetstring(out, previousHash.toUtf8());
    for (const Field &field : kFields)
        appendNetstring(out, value(field).toUtf8());
    return out;
}

QString RegisterRow::chainHash(const QString &previousHash) const
{
    return QString::fromLatin1(QCryptographicHash::hash(canonical(previousHash), QCryptographicHash::Sha256).toHex());
}

QString RegisterRow::noPreviousHash()
{
    return QString(64, QLatin1Char('0'));
}

void RegisterRow::makeStorable()
{
    for (const Field &field : kFields) {
        if (field.text)
            this->*field.text = QString::fromUtf8((this->*field.text).toUtf8());
    }
}
