#include "demo/tds/TdsWriter.h"

#include <algorithm>
#include <iterator>

#include <QStringList>
#include <QVector>
#include <QtEndian>

namespace {

// SQL_Latin1_General_CP1_CI_AS, the server's collation and that of its nvarchar columns.
const QByteArray kCollation = QByteArray::fromHex("0904d00034");
// Latin1_General_CI_AS, the Windows collation of the varchar columns: locale 0x0409,
// case-insensitive, kana- and width-insensitive, no SQL sort order; code page 1252.
const QByteArray kCodePageCollation = QByteArray::fromHex("0904d00000");
// The characters of code page 1252 from 0x80 to 0x9F; 0 where the code page has none.
// clang-format off
constexpr char16_t kCodePage1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,      // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178, // 0x98
};
// clang-format on
const QString kServerName = QStringLiteral("DEMOLIMS");
constexpr quint64 kPlpNull = ~quint64(0);
constexpr quint64 kPlpUnknownLength = ~quint64(0) - 1;

} // namespace

void TdsWriter::u16(quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    m_bytes.append(bytes, 2);
}

void TdsWriter::u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    m_bytes.append(bytes, 4);
}

void TdsWriter::u64(quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    m_bytes.append(bytes, 8);
}

void TdsWriter::utf16(const QString &text)
{
    // QString holds UTF-16 in the machine's order; the wire wants little-endian.
    const qsizetype at = m_bytes.size();
    m_bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        for (qsizetype i = at; i + 1 < m_bytes.size(); i += 2)
            std::swap(m_bytes[i], m_bytes[i + 1]);
    }
}

void TdsWriter::bVarChar(const QString &text)
{
    const QString cut = text.left(255);
    u8(quint8(cut.size()));
    utf16(cut);
}

void TdsWriter::usVarChar(const QString &text)
{
    const QString cut = text.left(65535);
    u16(quint16(cut.size()));
    utf16(cut);
}

qsizetype TdsWriter::beginSized(quint8 token)
{
    u8(token);
    const qsizetype at = m_bytes.size();
    u16(0);
    return at;
}

void TdsWriter::endSized(qsizetype lengthAt)
{
    qToLittleEndian(quint16(m_bytes.size() - lengthAt - 2), m_bytes.data() + lengthAt);
}

void TdsWriter::envChange(quint8 type, const QString &newValue, const QString &oldValue)
{
    const qsizetype at = beginSized(0xE3);
    u8(type);
    bVarChar(newValue);
    bVarChar(oldValue);
    endSized(at);
}

void TdsWriter::collationChange()
{
    const qsizetype at = beginSized(0xE3);
    u8(7);
    u8(quint8(kCollation.size()));
    raw(kCollation);
    u8(0);
    endSized(at);
}

void TdsWriter::message(qint32 number, quint8 state, quint8 severity, const QString &text)
{
    const qsizetype at = beginSized(severity <= 10 ? 0xAB : 0xAA);
    u32(quint32(number));
    u8(state);
    u8(severity);
    usVarChar(text);
    bVarChar(kServerName);
    bVarChar(QString());
    u32(1);
    endSized(at);
}

void TdsWriter::loginAck(const QString &programName)
{
    const qsizetype at = beginSized(0xAD);
    u8(1); // T-SQL
    raw(QByteArray::fromHex("74000004")); // TDS 7.4, big-endian as the protocol has it
    bVarChar(programName);
    raw(QByteArray::fromHex("10000000")); // version 16.0.0.0
    endSized(at);
}

void TdsWriter::done(quint16 status, quint16 command, quint64 rowCount)
{
    u8(0xFD);
    u16(status);
    u16(command);
    u64(rowCount);
}

void TdsWriter::columnMetadata(const QVector<Column> &types, const QStringList &names, const QVector<int> &maxChars)
{
    u8(0x81);
    u16(quint16(types.size()));
    for (qsizetype i = 0; i < types.size(); ++i) {
        u32(0); // user type
        u16(0x0001); // nullable
        switch (types.at(i)) {
        case Column::Int:
        case Column::BigInt:
            u8(0x26);
            u8(types.at(i) == Column::Int ? 4 : 8);
            break;
        case Column::DateTime:
            u8(0x6F);
            u8(8);
            break;
        case Column::NVarChar:
            u8(0xE7);
            u16(quint16(qMax(1, maxChars.at(i)) * 2));
            raw(kCollation);
            break;
        case Column::NVarCharMax:
            u8(0xE7);
            u16(0xFFFF);
            raw(kCollation);
            break;
        case Column::VarChar:
            u8(0xA7);
            u16(quint16(qBound(1, maxChars.at(i), kLongestVarChar)));
            raw(kCodePageCollation);
            break;
        }
        bVarChar(names.at(i));
    }
}

void TdsWriter::nullValue(Column type)
{
    switch (type) {
    case Column::Int:
    case Column::BigInt:
    case Column::DateTime:
        u8(0);
        break;
    case Column::NVarChar:
    case Column::VarChar:
        u16(0xFFFF);
        break;
    case Column::NVarCharMax:
        u64(kPlpNull);
        break;
    }
}

void TdsWriter::intValue(Column type, qint64 value)
{
    if (type == Column::Int) {
        u8(4);
        u32(quint32(qint32(value)));
    } else {
        u8(8);
        u64(quint64(value));
    }
}

// Days since 1900-01-01 and three-hundredths of a second since midnight.
void TdsWriter::dateTimeValue(const QDateTime &value)
{
    qint64 days = QDate(1900, 1, 1).daysTo(value.date());
    qint64 ticks = (qint64(value.time().msecsSinceStartOfDay()) * 3 + 5) / 10;
    if (ticks >= 24LL * 3600 * 300) {
        ticks = 0;
        ++days;
    }
    u8(8);
    u32(quint32(qint32(days)));
    u32(quint32(ticks));
}

bool TdsWriter::textValue(Column type, const QString &text)
{
    if (type == Column::VarChar) {
        bool complete = true;
        const QByteArray bytes = codePage1252(text, &complete);
        u16(quint16(bytes.size()));
        raw(bytes);
        return complete;
    }
    if (type == Column::NVarChar) {
        u16(quint16(text.size() * 2));
        utf16(text);
        return true;
    }
    u64(kPlpUnknownLength);
    if (!text.isEmpty()) {
        u32(quint32(text.size() * 2));
        utf16(text);
    }
    u32(0); // the last chunk
    return true;
}

QByteArray TdsWriter::codePage1252(const QString &text, bool *complete)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    bool whole = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        char byte = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            byte = char(c);
        } else {
            const auto *high = std::find(std::begin(kCodePage1252High), std::end(kCodePage1252High), c);
            if (high != std::end(kCodePage1252High))
                byte = char(0x80 + (high - std::begin(kCodePage1252High)));
        }
        if (byte == '?' && c != u'?') {
            whole = false;
            // A character outside the basic plane is one character, and one '?'.
            if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
        }
        bytes.append(byte);
    }
    if (complete)
        *complete = whole;
    return bytes;
}

QByteArray TdsWriter::packets(quint8 type, const QByteArray &payload, int packetSize)
{
    const int room = qMax(1, packetSize - kHeaderSize);
    QByteArray out;
    out.reserve(payload.size() + (payload.size() / room + 1) * kHeaderSize);
    quint8 packetId = 1;
    qsizetype from = 0;
    do {
        const qsizetype length = qMin<qsizetype>(room, payload.size() - from);
        const bool last = from + length >= payload.size();
        char header[kHeaderSize] = { char(type), char(last ? 0x01 : 0x00), 0, 0, 0, 0, char(packetId++), 0 };
        qToBigEndian(quint16(length + kHeaderSize), header + 2);
        out.append(header, kHeaderSize);
        out.append(payload.constData() + from, length);
        from += length;
    } while (from < payload.size());
    return out;
}
