// Opening the register: making one where there is none, and moving aside a file that is
// cut short or is not a register, so that a new one can start with a row that names it.
#include "register/DistributionRegister.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QtEndian>

namespace {

const auto kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr int kHeaderBytes = 100;

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

quint32 bigEndian32(const QByteArray &header, int at)
{
    return qFromBigEndian<quint32>(header.constData() + at);
}

// Why SQLite finds the file malformed, when it is that it is shorter than its own header
// says. Read only once SQLite has refused it: a file descriptor of the database closed
// in a process that has a connection to it would drop that connection's locks.
std::optional<QString> cutShort(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    const QByteArray header = file.read(kHeaderBytes);
    if (header.size() < kHeaderBytes)
        return QStringLiteral("is cut short: %1 bytes, less than its header").arg(size);
    const quint32 storedPageSize = qFromBigEndian<quint16>(header.constData() + 16);
    const qint64 pageSize = storedPageSize == 1 ? 65536 : storedPageSize;
    // The page count in the header holds while its change counter matches the one the
    // count was written with.
    const qint64 pages = bigEndian32(header, 28);
    if (pages > 0 && bigEndian32(header, 24) == bigEndian32(header, 92) && size < pages * pageSize)
        return QStringLiteral("is cut short: %1 of its %2 bytes").arg(size).arg(pages * pageSize);
    if (pageSize > 0 && size % pageSize != 0)
        return QStringLiteral("is cut short: %1 bytes, not a whole number of its %2-byte pages")
            .arg(size)
            .arg(pageSize);
    return std::nullopt;
}

// The write-ahead log and shared memory beside a database that are not there yet: SQLite
// makes them when it opens the file, and a reader cannot remove them again.
QStringList absentSidecars(const QString &path)
{
    QStringList absent;
    for (const char *suffix : { "-wal", "-shm" }) {
        if (!QFileInfo::exists(path + QLatin1String(suffix)))
            absent << path + QLatin1String(suffix);
    }
    return absent;
}

void removeFiles(const QStringList &paths)
{
    for (const QString &path : paths)
        QFile::remove(path);
}

} // namespace

bool DistributionRegister::open(Mode mode, QString *error)
{
    m_notice.clear();
    m_db.close();
    error->clear();
    const QString &file = m_settings.file;
    const bool readOnly = mode == Mode::Read;
    if (!QFileInfo::exists(file)) {
        if (mode != Mode::Write) {
            *error = QStringLiteral("The register %1 does not exist: nothing has been registered there yet").arg(file);
            return false;
        }
        RegisterRow start;
        start.kind = RegisterRow::Start;
        start.outcome = RegisterRow::New;
        start.detail = QStringLiteral("a new register at %1").arg(file);
        return m_documents.prepare(error) && createRegister(start, error);
    }
    const std::optional<QString> damage = damageOf(readOnly, error);
    if (!error->isEmpty())
        return false;
    if (damage && mode == Mode::Read) {
        *error = QStringLiteral("The register %1 %2").arg(file, *damage);
        return false;
    }
    if (damage && mode == Mode::Append) {
        *error = QStringLiteral("The register %1 %2: nothing is added to it; the station moves it aside and "
                                "starts a new one when it opens it")
                     .arg(file, *damage);
        return false;
    }
    if (readOnly)
        return true;
    if (!m_documents.prepare(error))
        return false;
    if (damage)
        return replaceDamaged(*damage, error);
    // A file whose mode was widened by hand is narrowed again: the rows name clients.
    QFile::setPermissions(file, kOwnerOnly);
    try {
        createIndexes();
    } catch (const RegisterDatabase::Refused &refused) {
        *error = QStringLiteral("The register %1 cannot be opened: %2").arg(file, refusal(refused));
        m_db.close();
        return false;
    }
    return true;
}

// Connects to the file and reads its head. Damage is returned; anything else that
// keeps it from being opened (no right to read it) goes into *error.
std::optional<QString> DistributionRegister::damageOf(bool readOnly, QString *error)
{
    if (QFileInfo(m_settings.file).size() == 0)
        return QStringLiteral("is empty");
    const QStringList absent = absentSidecars(m_settings.file);
    try {
        // Looked at read-only first: another application's database is left as it was.
        connect(true);
        if (m_db.value(QStringLiteral("PRAGMA application_id")).toInt() != kApplicationId) {
            m_db.close();
            return QStringLiteral("is not a register: it is another application's database");
        }
        m_db.value(QStringLiteral("SELECT hash FROM register_rows ORDER BY seq DESC LIMIT 1"));
        if (!readOnly)
            connect(false);
    } catch (const RegisterDatabase::Refused &refused) {
        m_db.close();
        // A damaged file is moved aside as it was found.
        if (refused.damaged())
            removeFiles(absent);
        if (refused.notADatabase())
            return QStringLiteral("is not an SQLite database");
        if (refused.damaged())
            return cutShort(m_settings.file).value_or(QStringLiteral("is damaged (%1)").arg(refusal(refused)));
        *error = QStringLiteral("The register %1 cannot be opened: %2").arg(m_settings.file, refusal(refused));
    }
    return std::nullopt;
}

// A page's end names its submission's row: looked up at every start. Registers written
// before ends named their submissions get the index when the station opens them.
void DistributionRegister::createIndexes()
{
    m_db.run(QStringLiteral("CREATE INDEX IF NOT EXISTS rows_by_reference ON register_rows (refers_to)"));
}

void DistributionRegister::connect(bool readOnly)
{
    m_db.open(m_settings.file, readOnly);
}

void DistributionRegister::createSchema()
{
    QStringList columns;
    for (const RegisterRow::Field &field : RegisterRow::fields()) {
        const QLatin1String name(field.name);
        if (name == QLatin1String("seq"))
            columns << QStringLiteral("seq INTEGER PRIMARY KEY");
        else
            columns << name
                    + (field.text ? QStringLiteral(" TEXT NOT NULL DEFAULT ''")
                                  : QStringLiteral(" INTEGER NOT NULL DEFAULT 0"));
    }
    columns << QStringLiteral("hash TEXT NOT NULL");
    m_db.run(QStringLiteral("CREATE TABLE register_rows (%1)").arg(columns.join(QStringLiteral(", "))));
    m_db.run(QStringLiteral("CREATE TABLE documents (sha256 TEXT PRIMARY KEY, bytes INTEGER NOT NULL, "
                            "kept_utc TEXT NOT NULL, pruned_utc TEXT NOT NULL DEFAULT '', "
                            "pruned_by INTEGER NOT NULL DEFAULT 0)"));
    m_db.run(QStringLiteral("CREATE INDEX documents_by_age ON documents (pruned_utc, kept_utc)"));
    createIndexes();
    m_db.run(QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId));
    m_db.run(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
}

// The new register is made whole under a hidden name beside the file (mode 0600 before
// SQLite writes a byte, schema and start row) and only then linked into place, so that
// the file under the register's name is always a register: an empty file or half a
// schema there is someone else's doing and counts as damage.
bool DistributionRegister::createRegister(RegisterRow start, QString *error)
{
    const QFileInfo target(m_settings.file);
    const QString folder = target.absolutePath();
    const QString draft = QStringLiteral("%1/.%2.new-%3").arg(folder, target.fileName()).arg(::getpid());
    for (const char *suffix : { "", "-wal", "-shm" })
        QFile::remove(draft + QLatin1String(suffix));
    QFile empty(draft);
    if (!QDir().mkpath(folder) || !empty.open(QIODevice::WriteOnly) || !empty.setPermissions(kOwnerOnly)) {
        *error = QStringLiteral("The register %1 cannot be made: %2").arg(m_settings.file, empty.errorString());
        return false;
    }
    empty.close();
    try {
        m_db.open(draft, false);
        m_db.begin();
        createSchema();
        appendInTransaction(start);
        m_db.commit();
        m_db.close();
    } catch (const RegisterDatabase::Refused &refused) {
        m_db.close();
        QFile::remove(draft);
        *error = QStringLiteral("The register %1 cannot be made: %2").arg(m_settings.file, refusal(refused));
        return false;
    }
    // link() never replaces: a register another process made meanwhile stays, and is used.
    const int linked = ::link(QFile::encodeName(draft).constData(), QFile::encodeName(m_settings.file).constData());
    const int linkError = errno;
    QFile::remove(draft);
    if (linked != 0 && linkError != EEXIST) {
        *error = QStringLiteral("The register %1 cannot be made: %2")
                     .arg(m_settings.file, QString::fromLocal8Bit(std::strerror(linkError)));
        return false;
    }
    syncFolder(folder);
    try {
        connect(false);
    } catch (const RegisterDatabase::Refused &refused) {
        *error = QStringLiteral("The register %1 cannot be opened: %2").arg(m_settings.file, refusal(refused));
        return false;
    }
    return true;
}

bool DistributionRegister::replaceDamaged(const QString &damage, QString *error)
{
    m_db.close();
    const QString moved = moveAside(error);
    if (moved.isEmpty())
        return false;
    const std::optional<RegisterRow> good = lastGoodRow(moved);
    RegisterRow start;
    start.kind = RegisterRow::Start;
    start.outcome = RegisterRow::Replaces;
    start.detail = QStringLiteral("the register %1 %2; it was moved aside to %3").arg(m_settings.file, damage, moved);
    if (good) {
        start.refersTo = good->seq;
        start.previousHead = good->hash;
    }
    if (!createRegister(start, error))
        return false;
    const QString head = good ? QStringLiteral("its last good row is %1, head %2").arg(good->seq).arg(good->hash)
                              : QStringLiteral("no row of it could be read");
    m_notice = QStringLiteral("The register %1 %2: it was moved aside to %3 and a new register was started (%4)")
                   .arg(m_settings.file, damage, moved, head);
    return true;
}

// Renames the file, with its write-ahead log and shared memory, to a name of its own
// beside it; nothing is deleted. The new name, or empty with *error.
QString DistributionRegister::moveAside(QString *error) const
{
    const QString stamp = m_now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString moved = QStringLiteral("%1.damaged-%2").arg(m_settings.file, stamp);
    for (int n = 2; QFileInfo::exists(moved); ++n)
        moved = QStringLiteral("%1.damaged-%2-%3").arg(m_settings.file, stamp).arg(n);
    if (!QFile::rename(m_settings.file, moved)) {
        *error
            = QStringLiteral("The register %1 is damaged and cannot be moved aside to %2").arg(m_settings.file, moved);
        return {};
    }
    for (const char *suffix : { "-wal", "-shm" }) {
        if (QFileInfo::exists(m_settings.file + QLatin1String(suffix)))
            QFile::rename(m_settings.file + QLatin1String(suffix), moved + QLatin1String(suffix));
    }
    syncFolder(QFileInfo(m_settings.file).absolutePath());
    return moved;
}

// The last row of a damaged register up to which its chain still holds.
std::optional<RegisterRow> DistributionRegister::lastGoodRow(const QString &path) const
{
    std::optional<RegisterRow> good;
    // What the reader makes beside the file goes again once it is done.
    const auto removeMadeHere = qScopeGuard([absent = absentSidecars(path)] { removeFiles(absent); });
    RegisterDatabase damaged;
    try {
        damaged.open(path, true);
        // Without it SQLite refuses a file shorter than its header says; with it, the
        // pages that are there can be read.
        damaged.run(QStringLiteral("PRAGMA writable_schema = ON"));
        QSqlQuery rows = damaged.run(QStringLiteral("SELECT %1 FROM register_rows ORDER BY seq").arg(columnList()));
        QString previous = RegisterRow::noPreviousHash();
        while (rows.next()) {
            const RegisterRow row = rowFrom(rows);
            if (row.seq != (good ? good->seq + 1 : 1) || row.chainHash(previous) != row.hash)
                break;
            previous = row.hash;
            good = row;
        }
    } catch (const RegisterDatabase::Refused &) {
        // Nothing of it can be read: no head.
    }
    return good;
}
