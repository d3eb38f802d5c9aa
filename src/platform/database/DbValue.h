#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

// A value of a database column or of a procedure argument that may be null: the
// station uses column values as text in their general conversion, and converts
// counts with the checked integer rules below.
class DbValue
{
public:
    enum class Kind { Null, Boolean, Integer, Real, Text, DateTime };

    DbValue() = default;
    static DbValue null() { return {}; }
    static DbValue fromBool(bool value);
    static DbValue fromInt(qint64 value);
    static DbValue fromReal(double value);
    static DbValue fromText(const QString &value);
    static DbValue fromDateTime(const QDateTime &value);
    // Maps a QVariant from a driver; an invalid or null variant becomes null.
    static DbValue fromVariant(const QVariant &value);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }

    // The general conversion to text; a null value cannot be converted (invalid use of null).
    QString toText() const;
    // Concatenation: a null value contributes nothing.
    QString concatText() const;
    // A number, or a text that reads as a number once blanks around it are removed.
    bool isNumeric() const;
    double toDouble() const;
    // Checked whole-number conversions: halves round to the even neighbour; a value
    // outside the range fails with an overflow, a non-number with a type mismatch.
    qint16 toInt16() const;
    qint32 toInt32() const;
    QDateTime toDateTime() const;
    QVariant toVariant() const;

    bool operator==(const DbValue &other) const;

    // Installation setting: the general date format (date part and time part). The time
    // part is left out for a value at midnight. Default: the US general date.
    static void setGeneralDateFormat(const QString &datePart, const QString &timePart);
    static QString generalDatePart();
    static QString generalTimePart();

private:
    Kind m_kind = Kind::Null;
    bool m_bool = false;
    qint64 m_int = 0;
    double m_real = 0.0;
    QString m_text;
    QDateTime m_dateTime;
};

// General date text of a date and time, as DbValue::toText gives it.
QString generalDateText(const QDateTime &value);

// Checked integer arithmetic of the window state (16-bit counters).
qint16 checkedInt16(qint64 value);
qint16 checkedInt16(double value);
qint32 checkedInt32(qint64 value);
qint32 checkedInt32(double value);
// Rounds to the nearest whole number, halves to the even neighbour.
double roundHalfEven(double value);
