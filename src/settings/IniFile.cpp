#include "settings/IniFile.h"

#include <QFile>
#include <QHash>

namespace {

// The text between the quotes, its escapes undone; empty optional when the quotes do not
// close at the end of the value.
std::optional<QString> unquoted(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return std::nullopt;
    QString text;
    for (qsizetype i = 1; i < value.size() - 1; ++i) {
        const QChar c = value.at(i);
        if (c == u'\\' && i + 1 < value.size() - 1) {
            text += value.at(++i);
            continue;
        }
        if (c == u'"' || c == u'\\')
            return std::nullopt; // a quote or a backslash left alone inside
        text += c;
    }
    return text;
}

} // namespace

IniFile IniFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

IniFile IniFile::parse(const QByteArray &text)
{
    IniFile ini;
    QString section = QStringLiteral("General");
    QHash<QString, int> firstLine; // "section/key": where it was first written
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const int lineNumber = int(n) + 1;
        const QString line = QString::fromUtf8(lines.at(n)).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            ini.m_problems << QStringLiteral("line %1 (\"%2\") is neither a [section], a key = value nor a comment")
                                  .arg(lineNumber)
                                  .arg(line);
            continue;
        }
        Entry entry { section, line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), lineNumber };
        if (entry.value.startsWith(u'"')) {
            const std::optional<QString> inside = unquoted(entry.value);
            if (!inside) {
                ini.m_problems << QStringLiteral("[%1] %2 = %3 (line %4): a quoted value must end with its quote, "
                                                 "and a quote or backslash inside it is written \\\" or \\\\")
                                      .arg(entry.section, entry.key, entry.value)
                                      .arg(lineNumber);
                continue;
            }
            entry.value = *inside;
        }
        const QString name = entry.section + u'/' + entry.key;
        if (const auto first = firstLine.constFind(name); first != firstLine.cend()) {
            ini.m_problems << QStringLiteral("[%1] %2 is written twice (lines %3 and %4): write it once")
                                  .arg(entry.section, entry.key)
                                  .arg(*first)
                                  .arg(lineNumber);
            continue;
        }
        firstLine.insert(name, lineNumber);
        ini.m_entries.push_back(std::move(entry));
    }
    return ini;
}
