#pragma once

#include <vector>

#include <QString>
#include <QStringList>

// The station's settings file as it is written. A line is a comment (its first character
// past the blanks is ';' or '#'), a section ("[Database]"), or "key = value", where the
// value is everything after the first '=', the blanks around it aside: a ';', a '#', a
// comma or a blank inside it is part of it. A value in double quotes is taken without
// them, exactly (blanks at its ends kept), with \" for a quote and \\ for a backslash.
// Keys before the first section belong to [General].
class IniFile
{
public:
    struct Entry
    {
        QString section;
        QString key;
        QString value;
        int line = 0;
    };

    static IniFile read(const QString &path);
    static IniFile parse(const QByteArray &text);

    const std::vector<Entry> &entries() const { return m_entries; }
    // Lines that are none of the three, and keys written twice: the file cannot be taken
    // as written.
    const QStringList &problems() const { return m_problems; }

private:
    std::vector<Entry> m_entries;
    QStringList m_problems;
};
