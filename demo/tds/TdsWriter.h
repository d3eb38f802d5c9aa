#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// The token stream of a server's answer in SQL Server's wire protocol (TDS 7.4), built
// token by token, and cut into packets at the negotiated size. Numbers travel
// little-endian, except where the protocol says otherwise (the packet header, the TDS
// version of the login acknowledgement).
class TdsWriter
{
public:
    // Packet types.
    static constexpr quint8 kSqlBatch = 0x01;
    static constexpr quint8 kRpc = 0x03;
    static constexpr quint8 kTabularResult = 0x04;
    static constexpr quint8 kAttention = 0x06;
    static constexpr quint8 kLogin7 = 0x10;
    static constexpr quint8 kPrelogin = 0x12;
    static constexpr int kHeaderSize = 8;

    // DONE status bits.
    static constexpr quint16 kDoneMore = 0x0001;
    static constexpr quint16 kDoneError = 0x0002;
    static constexpr quint16 kDoneCount = 0x0010;
    static constexpr quint16 kDoneAttention = 0x0020;

    // Column types. VarChar is a text in the Windows code page 1252, with the collation
    // Latin1_General_CI_AS; the others' texts travel as UTF-16.
    enum class Column { Int, BigInt, DateTime, NVarChar, NVarCharMax, VarChar };
    // The longest VarChar in bytes.
    static constexpr int kLongestVarChar = 8000;

    const QByteArray &bytes() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }

    void u8(quint8 value) { m_bytes.append(char(value)); }
    void u16(quint16 value);
    void u32(quint32 value);
    void u64(quint64 value);
    void raw(const QByteArray &bytes) { m_bytes.append(bytes); }
    void utf16(const QString &text);
    // A text with a one-byte (B_VARCHAR) or two-byte (US_VARCHAR) length in characters.
    void bVarChar(const QString &text);
    void usVarChar(const QString &text);

    void envChange(quint8 type, const QString &newValue, const QString &oldValue);
    void collationChange();
    // INFO (class 10 and below) or ERROR, with the server's name.
    void message(qint32 number, quint8 state, quint8 severity, const QString &text);
    void loginAck(const QString &programName);
    void done(quint16 status, quint16 command, quint64 rowCount);

    void columnMetadata(const QVector<Column> &types, const QStringList &names, const QVector<int> &maxChars);
    void rowToken() { u8(0xD1); }
    void nullValue(Column type);
    void intValue(Column type, qint64 value);
    void dateTimeValue(const QDateTime &value);
    // False when a VarChar's code page lacks a character of the text: it goes as '?', as
    // SQL Server stores such a character in a varchar column.
    bool textValue(Column type, const QString &text);

    // The text in the Windows code page 1252; complete is false when a character was
    // replaced by '?'.
    static QByteArray codePage1252(const QString &text, bool *complete = nullptr);

    // The stream as packets of at most packetSize bytes, the last one marked as such.
    static QByteArray packets(quint8 type, const QByteArray &payload, int packetSize);

private:
    // A token with a two-byte length: the length is written once the body is there.
    qsizetype beginSized(quint8 token);
    void endSized(qsizetype lengthAt);

    QByteArray m_bytes;
};
