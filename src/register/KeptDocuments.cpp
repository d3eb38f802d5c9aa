#include "register/KeptDocuments.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include "platform/DurableFile.h"

KeptDocuments::KeptDocuments(QString folder)
    : m_folder(std::move(folder))
{
}

QString KeptDocuments::pathOf(const QString &sha256) const
{
    return m_folder + QLatin1Char('/') + sha256 + QStringLiteral(".pdf");
}

bool KeptDocuments::prepare(QString *error) const
{
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (QDir().mkpath(m_folder) && QFile::setPermissions(m_folder, ownerOnly))
        return true;
    *error = QStringLiteral("The register's document folder %1 cannot be made").arg(m_folder);
    return false;
}

bool KeptDocuments::store(const QString &sha256, const QByteArray &pdf, QString *error) const
{
    FileWriteError failure;
    if (writeFileDurably(pathOf(sha256), pdf, QFile::ReadOwner | QFile::WriteOwner, &failure))
        return true;
    if (failure.diskFull())
        *error = QStringLiteral("The register's document folder %1 is full (%2)").arg(m_folder, failure.systemText());
    else
        *error = QStringLiteral("The document %1 was not kept in %2: %3").arg(sha256, m_folder, failure.text);
    return false;
}

KeptDocuments::State KeptDocuments::read(const QString &sha256, QByteArray *pdf) const
{
    QFile file(pathOf(sha256));
    if (!file.open(QIODevice::ReadOnly))
        return State::Missing;
    *pdf = file.readAll();
    return digestOf(*pdf) == sha256 ? State::Intact : State::Altered;
}

bool KeptDocuments::remove(const QString &sha256) const
{
    const QString path = pathOf(sha256);
    return QFile::remove(path) || !QFile::exists(path);
}

QString KeptDocuments::digestOf(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}
