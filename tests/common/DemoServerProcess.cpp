#include "common/DemoServerProcess.h"

#include <csignal>

#include <sys/types.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include "platform/database/ConnectionText.h"
#include "demo/tds/DemoTdsServer.h"
#include "settings/StationSettings.h"

namespace {

// The process's state letter in /proc/<pid>/stat ('T' while stopped by a signal); 0
// when it cannot be read.
char processState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The program's name is in parentheses and may hold blanks and parentheses itself.
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() ? line.at(close + 2) : 0;
}

} // namespace

DemoServerProcess::DemoServerProcess(const QString &databasePath, const QString &user)
    : m_databasePath(databasePath)
    , m_user(user)
    , m_password(DemoTdsServer::randomPassword())
{
    m_passwordFile = m_dir.filePath(QStringLiteral("tds-password"));
    QFile file(m_passwordFile);
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(m_password.toUtf8()) < 0) {
        m_error = QStringLiteral("The password file %1 cannot be written.").arg(m_passwordFile);
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

DemoServerProcess::~DemoServerProcess()
{
    kill();
}

QString DemoServerProcess::program()
{
    QString folder = qEnvironmentVariable("HARDCOPY_BINARY_DIR");
    // A test started by hand from its own folder of the build: tests/<area>/tst_<area>.
    if (folder.isEmpty())
        folder = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../.."));
    return QDir(folder).absoluteFilePath(QStringLiteral("demo/hardcopy-demo-server"));
}

QString DemoServerProcess::start(quint16 port, int timeoutMs)
{
    if (isRunning()) {
        m_error = QStringLiteral("The server is running already.");
        return {};
    }
    m_port = 0;
    return launch(port, timeoutMs) ? address() : QString();
}

bool DemoServerProcess::restart(int timeoutMs)
{
    if (m_port == 0) {
        m_error = QStringLiteral("The server never listened, so it has no port to come back on.");
        return false;
    }
    if (isRunning()) {
        m_error = QStringLiteral("The server is still running; kill() it first.");
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const quint16 port = m_port;
        if (launch(port, qMax<qint64>(1, deadline.remainingTime())))
            return true;
        m_port = port;
        if (deadline.hasExpired())
            return false;
        // The bind failed (or the server did not come up): the port may still be held
        // by the killed process's connections for a moment.
        QThread::msleep(50);
    }
}

bool DemoServerProcess::launch(quint16 port, qint64 timeoutMs)
{
    m_error.clear();
    const QStringList arguments = { QStringLiteral("--db"), m_databasePath, QStringLiteral("--tds-only"),
        QStringLiteral("--tds-port"), QString::number(port), QStringLiteral("--tds-user"), m_user,
        QStringLiteral("--tds-password-file"), m_passwordFile };
    m_process.start(program(), arguments + options);
    if (!m_process.waitForStarted(int(timeoutMs))) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program(), m_process.errorString());
        return false;
    }
    if (!waitForListening(timeoutMs)) {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
        const QString said = QString::fromUtf8(m_process.readAllStandardError()).trimmed();
        if (m_error.isEmpty())
            m_error = QStringLiteral("The server did not listen on port %1: %2").arg(port).arg(said);
        return false;
    }
    if (port != 0 && m_port != port) {
        m_error = QStringLiteral("The server listens on port %1 instead of %2.").arg(m_port).arg(port);
        kill();
        return false;
    }
    return true;
}

bool DemoServerProcess::waitForListening(qint64 timeoutMs)
{
    static const QRegularExpression line(QStringLiteral("tds listening on 127\\.0\\.0\\.1,([0-9]+)"));
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out;
    for (;;) {
        out += m_process.readAllStandardOutput();
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(out));
        if (match.hasMatch()) {
            m_port = match.captured(1).toUShort();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        m_process.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(1000))));
    }
}

bool DemoServerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    // SIGKILL ends a stopped process as well.
    m_process.kill();
    if (!m_process.waitForFinished(10000)) {
        m_error = QStringLiteral("The server did not end after SIGKILL.");
        return false;
    }
    return true;
}

bool DemoServerProcess::freeze()
{
    if (!isRunning() || ::kill(pid_t(processId()), SIGSTOP) != 0) {
        m_error = QStringLiteral("The server is not running.");
        return false;
    }
    return waitForState(true, 10000);
}

bool DemoServerProcess::thaw()
{
    if (!isRunning() || ::kill(pid_t(processId()), SIGCONT) != 0) {
        m_error = QStringLiteral("The server is not running.");
        return false;
    }
    return waitForState(false, 10000);
}

bool DemoServerProcess::waitForState(bool stopped, qint64 timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (isFrozen() != stopped) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return true;
}

bool DemoServerProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool DemoServerProcess::isFrozen() const
{
    return isRunning() && processState(processId()) == 'T';
}

QString DemoServerProcess::address() const
{
    return m_port == 0 ? QString() : QStringLiteral("127.0.0.1,%1").arg(m_port);
}

void DemoServerProcess::pointAt(StationSettings &settings) const
{
    settings.demoDatabaseServer = address();
    settings.databaseUser = m_user;
    settings.databasePassword = m_password;
}

QString DemoServerProcess::connectionText() const
{
    StationSettings settings;
    settings.databaseServer = address();
    settings.databaseUser = m_user;
    settings.databasePassword = m_password;
    // FreeTDS needs the protocol version, as the demo's own wiring gives it.
    settings.connectionOptions = QStringLiteral("TDS_Version=7.4;");
    return buildConnectionText(settings);
}
