#include "platform/database/DbValue.h"

#include <cmath>
#include <limits>

#include "platform/Failure.h"

namespace {

QString g_datePart = QStringLiteral("M/d/yyyy");
QString g_timePart = QStringLiteral("h:mm:ss AP");

bool readNumber(const QString &text, double *out)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (ok && out)
        *out = value;
    return ok && std::isfinite(value);
}

QString realText(double value)
{
    QString text = QString::number(value, 'g', 15);
    return text;
}

} // namespace

DbValue DbValue::fromBool(bool value)
{
    DbValue v;
    v.m_kind = Kind::Boolean;
    v.m_bool = value;
    return v;
}

DbValue DbValue::fromInt(qint64 value)
{
    DbValue v;
    v.m_kind = Kind::Integer;
    v.m_int = value;
    return v;
}

DbValue DbValue::fromReal(double value)
{
    DbValue v;
    v.m_kind = Kind::Real;
    v.m_real = value;
    return v;
}

DbValue DbValue::fromText(const QString &value)
{
    DbValue v;
    v.m_kind = Kind::Text;
    v.m_text = value;
    return v;
}

DbValue DbValue::fromDateTime(const QDateTime &value)
{
    if (!value.isValid())
        return {};
    DbValue v;
    v.m_kind = Kind::DateTime;
    v.m_dateTime = value;
    return v;
}

DbValue DbValue::fromVariant(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return fromBool(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return fromInt(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return fromReal(value.toDouble());
    case QMetaType::QDateTime:
        return fromDateTime(value.toDateTime());
    case QMetaType::QDate:
        return fromDateTime(value.toDate().startOfDay());
    default:
        return fromText(value.toString());
    }
}

QString DbValue::toText() const
{
    switch (m_kind) {
    case Kind::Null:
        throw Failure::invalidUseOfNull();
    case Kind::Boolean:
        return m_bool ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Integer:
        return QString::number(m_int);
    case Kind::Real:
        return realText(m_real);
    case Kind::Text:
        return m_text;
    case Kind::DateTime:
        return generalDateText(m_dateTime);
    }
    return {};
}

QString DbValue::concatText() const
{
    return isNull() ? QString() : toText();
}

bool DbValue::isNumeric() const
{
    switch (m_kind) {
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Real:
        return true;
    case Kind::Text:
        return readNumber(m_text, nullptr);
    default:
        return false;
    }
}

double DbValue::toDouble() const
{
    switch (m_kind) {
    case Kind::Null:
        throw Failure::invalidUseOfNull();
    case Kind::Boolean:
        return m_bool ? -1.0 : 0.0;
    case Kind::Integer:
        return double(m_int);
    case Kind::Real:
        return m_real;
    case Kind::Text: {
        double value = 0;
        if (!readNumber(m_text, &value))
            throw Failure::typeMismatch();
        return value;
    }
    case Kind::DateTime:
        throw Failure::typeMismatch();
    }
    return 0;
}

qint16 DbValue::toInt16() const
{
    if (m_kind == Kind::Integer)
        return checkedInt16(m_int);
    return checkedInt16(toDouble());
}

qint32 DbValue::toInt32() const
{
    if (m_kind == Kind::Integer)
        return checkedInt32(m_int);
    return checkedInt32(toDouble());
}

QDateTime DbValue::toDateTime() const
{
    switch (m_kind) {
    case Kind::Null:
        throw Failure::invalidUseOfNull();
    case Kind::DateTime:
        return m_dateTime;
    default:
        throw Failure::typeMismatch();
    }
}

QVariant DbValue::toVariant() const
{
    switch (m_kind) {
    case Kind::Null:
        return {};
    case Kind::Boolean:
        return m_bool;
    case Kind::Integer:
        return m_int;
    case Kind::Real:
        return m_real;
    case Kind::Text:
        return m_text;
    case Kind::DateTime:
        return m_dateTime;
    }
    return {};
}

bool DbValue::operator==(const DbValue &other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case Kind::Null:
        return true;
    case Kind::Boolean:
        return m_bool == other.m_bool;
    case Kind::Integer:
        return m_int == other.m_int;
    case Kind::Real:
        return m_real == other.m_real;
    case Kind::Text:
        return m_text == other.m_text;
    case Kind::DateTime:
        return m_dateTime == other.m_dateTime;
    }
    return false;
}

void DbValue::setGeneralDateFormat(const QString &datePart, const QString &timePart)
{
    g_datePart = datePart;
    g_timePart = timePart;
}

QString DbValue::generalDatePart() { return g_datePart; }
QString DbValue::generalTimePart() { return g_timePart; }

QString generalDateText(const QDateTime &value)
{
    // QDateTime::toString uses the C locale, so AM/PM and digits do not depend on the
    // workstation's language.
    const QString date = value.date().toString(g_datePart);
    if (value.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + value.time().toString(g_timePart);
}

double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode rounds halves to even
}

qint16 checkedInt16(qint64 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        throw Failure::overflow();
    return qint16(value);
}

qint16 checkedInt16(double value)
{
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint16>::min()
        || rounded > std::numeric_limits<qint16>::max())
        throw Failure::overflow();
    return qint16(rounded);
}

qint32 checkedInt32(qint64 value)
{
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw Failure::overflow();
    return qint32(value);
}

qint32 checkedInt32(double value)
{
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint32>::min()
        || rounded > std::numeric_limits<qint32>::max())
        throw Failure::overflow();
    return qint32(rounded);
}
