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

// The answer to a client's PRELOGIN: version 16.0, no encryption (the demo LIMS offers
// none, and a client that insists gives up), no instance, no MARS.
QByteArray preloginAnswer();
