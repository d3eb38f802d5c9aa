#pragma once

#include <exception>
#include <string>

#include <QString>

// The one failure type of the station: a number and a description, as the operator
// would see them. Guards in the procedures are try/catch blocks around exactly the
// steps they cover.
class Failure : public std::exception
{
public:
    enum Number : int {
        InvalidProcedureCall = 5,
        Overflow = 6,
        SubscriptOutOfRange = 9,
        DivisionByZero = 11,
        TypeMismatch = 13,
        InvalidUseOfNull = 94,
        InvalidPropertyValue = 380,
        ObjectRequired = 424,
        NotSupported = 438,
        NoCurrentRecord = 3021,
        ItemNotFound = 3265,
        ObjectClosed = 3704,
    };

    Failure(int number, QString description);

    int number() const { return m_number; }
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

    static Failure overflow();
    static Failure divisionByZero();
    static Failure typeMismatch();
    static Failure invalidUseOfNull();
    static Failure subscriptOutOfRange();
    static Failure invalidPropertyValue();
    static Failure objectClosed();
    static Failure noCurrentRecord();
    static Failure itemNotFound(const QString &name);

private:
    int m_number;
    QString m_description;
    std::string m_what;
};

// Thrown when the station must end at once (a failed report request). It passes
// through every guard of the procedures and is handled only at the event's entry.
class ShutdownRequested : public std::exception
{
public:
    const char *what() const noexcept override { return "shutdown requested"; }
};
