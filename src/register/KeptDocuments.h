#pragma once

#include <QByteArray>
#include <QString>

// The exact PDF of every page the station sent, one file per document named by its
// SHA-256, in a folder only the station's user may enter (0700; files 0600). A file is
// kept only once it is whole on disk, and it is read back only when its bytes still
// have its digest.
class KeptDocuments
{
public:
    enum class State { Intact, Missing, Altered };

    explicit KeptDocuments(QString folder);

    const QString &folder() const { return m_folder; }
    QString pathOf(const QString &sha256) const;
    // Creates the folder (and gives it mode 0700); false with the system's words.
    bool prepare(QString *error) const;
    bool store(const QString &sha256, const QByteArray &pdf, QString *error) const;
    // Intact: *pdf holds the document, whose digest is sha256.
    State read(const QString &sha256, QByteArray *pdf) const;
    bool remove(const QString &sha256) const;

    static QString digestOf(const QByteArray &bytes);

private:
    QString m_folder;
};
