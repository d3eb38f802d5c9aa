#include "StationSupervisor.h"

#include <csignal>
#include <utility>

#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include "common/StationProcess.h"

namespace {

constexpr int kCheckEveryMs = 1000;

// "180", "180s", "3min": what the unit's times are written as.
qint64 unitMilliseconds(const QString &value)
{
    static const QRegularExpression time(QStringLiteral("^([0-9]+)\\s*(s|sec|min)?$"));
    const QRegularExpressionMatch match = time.match(value.trimmed());
    if (!match.hasMatch())
        return -1;
    return match.captured(1).toLongLong() * (match.captured(2) == QLatin1String("min") ? 60000 : 1000);
}

// Signals after which Restart=on-failure leaves a unit stopped: the clean ones.
bool cleanSignal(int signalNumber)
{
    return signalNumber == SIGHUP || signalNumber == SIGINT || signalNumber == SIGTERM || signalNumber == SIGPIPE;
}

// As systemd sends a signal: a stopped process is let go on, so that it can end.
void signalAndContinue(qint64 pid, int signalNumber)
{
    if (::kill(pid_t(pid), signalNumber) == 0 && signalNumber != SIGKILL && signalNumber != SIGCONT)
        ::kill(pid_t(pid), SIGCONT);
}

} // namespace

std::optional<UnitTimes> UnitTimes::read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("the station's unit %1 cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QMap<QString, qint64> service;
    bool inService = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('[')))
            inService = trimmed == QLatin1String("[Service]");
        else if (inService && trimmed.contains(QLatin1Char('=')) && !trimmed.startsWith(QLatin1Char('#')))
            service.insert(trimmed.section(QLatin1Char('='), 0, 0).trimmed(),
                unitMilliseconds(trimmed.section(QLatin1Char('='), 1)));
    }
    UnitTimes unit;
    unit.watchdogMs = service.value(QStringLiteral("WatchdogSec"), -1);
    unit.restartMs = service.value(QStringLiteral("RestartSec"), -1);
    unit.startTimeoutMs = service.value(QStringLiteral("TimeoutStartSec"), -1);
    unit.abortTimeoutMs
        = service.value(QStringLiteral("TimeoutAbortSec"), service.value(QStringLiteral("TimeoutStopSec"), -1));
    if (unit.watchdogMs <= 0 || unit.restartMs < 0 || unit.startTimeoutMs <= 0 || unit.abortTimeoutMs <= 0) {
        *error = QStringLiteral("the station's unit %1 does not give WatchdogSec, RestartSec, TimeoutStartSec and "
                                "TimeoutStopSec in seconds")
                     .arg(path);
        return std::nullopt;
    }
    return unit;
}

StationSupervisor::StationSupervisor(
    StationProcess &station, const UnitTimes &unit, std::function<bool()> start, QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_unit(unit)
    , m_start(std::move(start))
{
    connect(&m_socket, &NotifySocket::received, this, &StationSupervisor::receive);
    connect(&m_station.station, &QProcess::finished, this, [this] {
        if (!m_starting)
            processEnded();
    });
    m_check.setInterval(kCheckEveryMs);
    connect(&m_check, &QTimer::timeout, this, &StationSupervisor::check);
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &StationSupervisor::startLife);
}

bool StationSupervisor::listen(const QString &socketPath, QString *error)
{
    if (!m_socket.listen(socketPath, error))
        return false;
    // WATCHDOG_PID is left unset, as the manager leaves it for the main process it starts.
    m_station.setProcessEnvironmentExtra({
        { QStringLiteral("NOTIFY_SOCKET"), socketPath },
        { QStringLiteral("WATCHDOG_USEC"), QString::number(m_unit.watchdogMs * 1000) },
        { QStringLiteral("WATCHDOG_PID"), QString() },
    });
    return true;
}

bool StationSupervisor::startFirst()
{
    startLife();
    m_check.start();
    return current() != nullptr;
}

void StationSupervisor::stop()
{
    m_stopped = true;
    m_restart.stop();
    m_check.stop();
}

StationSupervisor::Life *StationSupervisor::running()
{
    return !m_processes.isEmpty() && !m_processes.last().ended.isValid() ? &m_processes.last() : nullptr;
}

const StationSupervisor::Life *StationSupervisor::current() const
{
    return const_cast<StationSupervisor *>(this)->running();
}

QDateTime StationSupervisor::startedAfter(const QDateTime &since) const
{
    for (const Life &life : m_processes) {
        if (life.started > since)
            return life.started;
    }
    return {};
}

void StationSupervisor::startLife()
{
    if (m_stopped)
        return;
    m_starting = true;
    const bool running = m_start();
    m_starting = false;
    Life life;
    life.started = life.lastKeepAlive = QDateTime::currentDateTime();
    life.launched = running;
    life.pid = running ? m_station.stationPid : 0;
    m_processes << life;
    for (const Early &early : std::exchange(m_early, {}))
        hear(early.sender, early.message, early.at);
    if (running)
        emit started(life.pid);
    // It may have ended while it was being started (its end was not heard then).
    if (!running || !m_station.running())
        processEnded();
}

void StationSupervisor::receive(qint64 sender, const QByteArray &message)
{
    // A station tells what it does from its first second, while it is still being started.
    if (m_starting) {
        m_early << Early { sender, message, QDateTime::currentDateTime() };
        return;
    }
    hear(sender, message, QDateTime::currentDateTime());
}

void StationSupervisor::hear(qint64 sender, const QByteArray &message, const QDateTime &now)
{
    Life *life = running();
    // NotifyAccess=main: only the station's own process is heard, not its helpers.
    if (!life || sender != life->pid)
        return;
    for (const QByteArray &line : message.split('\n')) {
        if (line == "READY=1") {
            life->ready = now;
        } else if (line == "WATCHDOG=1") {
            emit keptAlive(life->lastKeepAlive, now);
            life->lastKeepAlive = now;
            ++life->keepAlives;
        } else if (line.startsWith("STATUS=")) {
            life->status = QString::fromUtf8(line.mid(7));
            life->statusAt = now;
        }
    }
}

// Once a second: the keep-alives of the station's life, and whether its start is done.
void StationSupervisor::check()
{
    // Keep-alives the soak's own work kept waiting count before the verdict.
    m_socket.readPending();
    Life *life = running();
    if (!life || !life->endedBy.isEmpty() || m_starting)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    if (!life->ready.isValid() && life->started.msecsTo(now) > m_unit.startTimeoutMs) {
        endLife(*life, QStringLiteral("start time-out"), SIGTERM);
    } else if (life->lastKeepAlive.msecsTo(now) > m_unit.watchdogMs) {
        emit watchdogExpired(life->pid, life->lastKeepAlive);
        endLife(*life, QStringLiteral("watchdog"), SIGABRT);
    }
}

void StationSupervisor::endLife(Life &life, const QString &why, int signalNumber)
{
    life.endedBy = why;
    signalAndContinue(life.pid, signalNumber);
    QTimer::singleShot(m_unit.abortTimeoutMs, this, [this, pid = life.pid] {
        if (const Life *still = current(); still && still->pid == pid)
            ::kill(pid_t(pid), SIGKILL);
    });
}

void StationSupervisor::processEnded()
{
    Life *life = running();
    if (!life)
        return;
    QProcess &process = m_station.station;
    life->ended = QDateTime::currentDateTime();
    // Qt gives the signal's number as the exit code of a process a signal ended.
    const bool signalled = process.exitStatus() == QProcess::CrashExit;
    const int code = process.exitCode();
    // A start the LIMS refuses at once ends before its start has returned: its exit code counts.
    if (!life->launched)
        life->how = QStringLiteral("did not start");
    else
        life->how = (signalled ? QStringLiteral("signal %1") : QStringLiteral("exit code %1")).arg(code);
    life->failed = !life->launched || !life->endedBy.isEmpty() || (signalled ? !cleanSignal(code) : code != 0);
    const Life ending = *life;
    emit ended(ending);
    if (ending.failed && !m_stopped)
        m_restart.start(int(m_unit.restartMs));
}
