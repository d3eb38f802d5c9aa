#pragma once

#include <QDateTime>
#include <QString>

// What the LIMS's server says to a client that asks for encryption as the station's
// driver asks, found with a connection of the check's own: the PRELOGIN negotiation
// (MS-TDS 2.2.6.5) and, where the server encrypts, the TLS handshake inside PRELOGIN
// packets with the certificate checked against the station's CA. It logs in to
// nothing and sends no statement: it ends after the handshake.
//
// The driver reports a refused certificate and a server that cannot encrypt alike
// (FreeTDS: 20002 "Adaptive Server connection failed"); this tells them apart, and
// gives the TLS version, which no driver reports through ODBC.
struct TlsProbeRequest
{
    QString host;
    quint16 port = 1433;
    // The client's ENCRYPTION option: 0x01 (ON) as FreeTDS sends it for require, 0x00
    // (OFF) for request, 0x02 (NOT_SUP) for off.
    quint8 clientEncryption = 0x01;
    QString caFile; // PEM file, "system", or empty: not verified
    bool checkHostName = true;
    QString hostName; // the name the certificate must hold; empty: host
    int timeoutMs = 10000;
};

struct TlsProbeResult
{
    enum class Outcome {
        Unreachable, // no TCP connection, or no PRELOGIN answer
        Clear, // the server cannot encrypt (ENCRYPT_NOT_SUP)
        TurnedAway, // the server forces encryption and the client said it cannot
        LoginOnly, // both said OFF: TLS for the login only
        Encrypted, // the whole session in TLS
        HandshakeFailed, // the server meant to encrypt, the handshake did not finish
    };
    Outcome outcome = Outcome::Unreachable;
    quint8 serverEncryption = 0xFF; // the server's ENCRYPTION answer
    QString detail; // why unreachable, or the handshake's error
    QString tlsVersion; // "TLS1.3"
    bool verifiable = false; // a CA was given and could be read
    bool verified = false; // only from a verification that ran: its call succeeded and found nothing
    unsigned status = 0; // GnuTLS's verification status bits
    QString verifyError; // why the verification itself could not run
    QString peerSubject; // the certificate's subject
    QDateTime peerExpires;
};

TlsProbeResult probeTdsLink(const TlsProbeRequest &request);
// The verification status in words: "it is not issued by a CA in <ca>", "it is not
// issued for <host>", "it expired on <date>", ...
QString certificateProblem(const TlsProbeResult &result, const QString &caFile, const QString &hostName);
