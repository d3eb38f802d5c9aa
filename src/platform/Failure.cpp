#include "platform/Failure.h"

Failure::Failure(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(QStringLiteral("Error %1: %2").arg(number).arg(m_description).toStdString())
{
}

Failure Failure::overflow() { return {Overflow, QStringLiteral("Overflow")}; }
Failure Failure::divisionByZero() { return {DivisionByZero, QStringLiteral("Division by zero")}; }
Failure Failure::typeMismatch() { return {TypeMismatch, QStringLiteral("Type mismatch")}; }
Failure Failure::invalidUseOfNull() { return {InvalidUseOfNull, QStringLiteral("Invalid use of Null")}; }
Failure Failure::subscriptOutOfRange() { return {SubscriptOutOfRange, QStringLiteral("Subscript out of range")}; }
Failure Failure::invalidPropertyValue() { return {InvalidPropertyValue, QStringLiteral("Invalid property value")}; }

Failure Failure::objectClosed()
{
    return {ObjectClosed, QStringLiteral("Operation is not allowed when the object is closed.")};
}

Failure Failure::noCurrentRecord()
{
    return {NoCurrentRecord,
            QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                           "Requested operation requires a current record.")};
}

Failure Failure::itemNotFound(const QString &name)
{
    return {ItemNotFound,
            QStringLiteral("Item cannot be found in the collection corresponding to the requested name "
                           "or ordinal: %1").arg(name)};
}
