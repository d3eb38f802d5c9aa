#include "demo/tds/TdsLogin.h"

#include <QtEndian>

namespace {

constexpr qsizetype kFixedLength = 94;

quint16 le16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

// One of the offset/length pairs of the fixed part: a text in UTF-16LE characters.
bool field(const QByteArray &message, qsizetype pairAt, QByteArray *bytes)
{
    const qsizetype offset = le16(message, pairAt);
    const qsizetype chars = le16(message, pairAt + 2);
    if (offset + chars * 2 > message.size())
        return false;
    *bytes = message.mid(offset, chars * 2);
    return true;
}

QString fromUtf16Le(const QByteArray &bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(le16(bytes, i * 2));
    return text;
}

} // namespace

QString TdsLogin::decodePassword(const QByteArray &bytes)
{
    QByteArray plain = bytes;
    for (char &c : plain) {
        const auto b = quint8(quint8(c) ^ 0xA5);
        c = char(quint8((b << 4) | (b >> 4)));
    }
    return fromUtf16Le(plain);
}

bool TdsLogin::parse(const QByteArray &message, TdsLogin *login)
{
    if (message.size() < kFixedLength)
        return false;
    login->tdsVersion = qFromLittleEndian<quint32>(message.constData() + 4);
    login->packetSize = qFromLittleEndian<quint32>(message.constData() + 8);
    QByteArray host, user, password, app, database;
    if (!field(message, 36, &host) || !field(message, 40, &user) || !field(message, 44, &password)
        || !field(message, 48, &app) || !field(message, 68, &database))
        return false;
    login->hostName = fromUtf16Le(host);
    login->userName = fromUtf16Le(user);
    login->password = decodePassword(password);
    login->appName = fromUtf16Le(app);
    login->database = fromUtf16Le(database);
    return true;
}

TdsEncrypt preloginEncryption(const QByteArray &message)
{
    // Option tokens: type, then big-endian offset and length of its data; 0xFF ends them.
    for (qsizetype at = 0; at + 5 <= message.size() && quint8(message.at(at)) != 0xFF; at += 5) {
        const auto offset = qFromBigEndian<quint16>(message.constData() + at + 1);
        const auto length = qFromBigEndian<quint16>(message.constData() + at + 3);
        if (quint8(message.at(at)) == 0x01 && length >= 1 && offset < message.size())
            return TdsEncrypt(quint8(message.at(offset)) & 0x03);
    }
    return TdsEncrypt::NotSupported;
}

QByteArray preloginAnswer(TdsEncrypt encryption)
{
    // Option tokens with big-endian offsets and lengths, then their data.
    const QByteArray options = QByteArray::fromHex("00001a0006" // VERSION
                                                   "0100200001" // ENCRYPTION
                                                   "0200210001" // INSTOPT
                                                   "0300220000" // THREADID
                                                   "0400220001" // MARS
                                                   "ff");
    // Version 16.0.0, sub-build 0; the encryption answer; no instance; MARS off.
    QByteArray data = QByteArray::fromHex("100000000000"
                                          "02"
                                          "00"
                                          "00");
    data[6] = char(encryption);
    return options + data;
}
