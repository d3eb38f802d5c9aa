#pragma once

#include <QByteArray>
#include <QString>

// What a client's LOGIN7 message says, as far as the demo LIMS cares.
struct TdsLogin
{
    quint32 tdsVersion = 0;
    quint32 packetSize = 0;
    QString hostName;
    QString userName;
    QString password;
    QString appName;
    QString database;

    // Reads a whole LOGIN7 message; false when it is too short or its fields point
    // outside it.
    static bool parse(const QByteArray &message, TdsLogin *login);
    // The client's obfuscation of the password undone: each byte XORed with 0xA5, then
    // its two halves swapped.
    static QString decodePassword(const QByteArray &bytes);
};

// PRELOGIN's ENCRYPTION values.
enum class TdsEncrypt : quint8 { Off = 0x00, On = 0x01, NotSupported = 0x02, Required = 0x03 };

// The ENCRYPTION option of a client's PRELOGIN; NotSupported when it has none.
TdsEncrypt preloginEncryption(const QByteArray &message);
// The answer to a client's PRELOGIN: version 16.0, the server's ENCRYPTION answer, no
// instance, no MARS.
QByteArray preloginAnswer(TdsEncrypt encryption);
