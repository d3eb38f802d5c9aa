#include "common/PrivateCups.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTest>

namespace {

const char kCupsd[] = "/usr/sbin/cupsd";
const char kSystemServerBin[] = "/usr/lib/cups";

bool writeText(const QString &path, const QString &text, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return false;
    file.close();
    return file.setPermissions(permissions);
}

} // namespace

PrivateCups::PrivateCups() = default;

PrivateCups::~PrivateCups()
{
    stop();
}

QString PrivateCups::unavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("a private cupsd needs root");
    if (!QFileInfo::exists(QString::fromLatin1(kCupsd)))
        return QStringLiteral("cupsd is not installed (scripts/install-deps.sh installs it)");
    return {};
}

bool PrivateCups::writeFiles(QString *error)
{
    const QString root = m_dir.path();
    // Programs the server starts check that their folders are not open to others; the
    // folder must still be passable for the filters, which run as lp.
    QFile::setPermissions(root,
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther);
    for (const char *folder : { "etc/ppd", "spool/tmp", "cache", "state", "log", "bin/backend", "out" })
        QDir(root).mkpath(QString::fromLatin1(folder));
    for (const char *part : { "cgi-bin", "daemon", "driver", "filter", "monitor", "notifier" }) {
        QFile::link(QStringLiteral("%1/%2").arg(QLatin1String(kSystemServerBin), QLatin1String(part)),
            QStringLiteral("%1/bin/%2").arg(root, QLatin1String(part)));
    }
    QFile::link(QStringLiteral("%1/backend/socket").arg(QLatin1String(kSystemServerBin)),
        root + QStringLiteral("/bin/backend/socket"));
    const QString backend = QStringLiteral(R"(#!/bin/sh
if [ $# -eq 0 ]; then echo 'direct testbe "Unknown" "Station test backend"'; exit 0; fi
case "${DEVICE_URI#testbe:/}" in
  ok) cat "${6:--}" > "%1/out/job-$1.pdf"; exit 0;;
  fail) exit 1;;
  stop) exit 4;;
  cancel) exit 5;;
  hang) while :; do sleep 1; done;;
  empty) echo 'STATE: +media-empty-error' >&2; while :; do sleep 1; done;;
  switch)
    if [ -e "%1/stuck" ]; then
      echo 'STATE: +media-empty-error' >&2
      echo 'INFO: Load paper in tray 1' >&2
      while [ -e "%1/stuck" ]; do sleep 1; done
    fi
    echo 'STATE: -media-empty-error' >&2
    cat "${6:--}" > "%1/out/job-$1.pdf"; exit 0;;
esac
exit 1
)")
                                .arg(root);
    const QString files = QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                                         "CacheDir %1/cache\nStateDir %1/state\nServerBin %1/bin\n"
                                         "DataDir /usr/share/cups\nDocumentRoot /usr/share/cups/doc-root\n"
                                         "AccessLog %1/log/access_log\nErrorLog %1/log/error_log\n"
                                         "PageLog %1/log/page_log\nPrintcap %1/printcap\nFileDevice Yes\n")
                              .arg(root);
    // Every job stays in the history, finished or not, for as long as the server runs and
    // across restarts; the documents themselves are not kept.
    const QString config = QStringLiteral("Listen %1\nLogLevel info\nBrowsing No\nWebInterface No\n"
                                          "DefaultAuthType None\n"
                                          "PreserveJobHistory Yes\nPreserveJobFiles No\nMaxJobs 0\n"
                                          "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                          "<Policy default>\n  JobPrivateValues none\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                          "</Policy>\n")
                               .arg(socketPath());
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!writeText(root + QStringLiteral("/bin/backend/testbe"), backend, ownerOnly | QFile::ExeOwner)
        || !writeText(root + QStringLiteral("/etc/cups-files.conf"), files, ownerOnly | QFile::ReadOther)
        || !writeText(root + QStringLiteral("/etc/cupsd.conf"), config, ownerOnly | QFile::ReadOther)) {
        *error = QStringLiteral("cannot write the private cupsd's files in %1").arg(root);
        return false;
    }
    return true;
}

bool PrivateCups::start(QString *error)
{
    if (!m_dir.isValid() || !writeFiles(error)) {
        if (error->isEmpty())
            *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString etc = m_dir.filePath(QStringLiteral("etc"));
    m_cupsd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_cupsd.start(QString::fromLatin1(kCupsd),
        { QStringLiteral("-f"), QStringLiteral("-c"), etc + QStringLiteral("/cupsd.conf"), QStringLiteral("-s"),
            etc + QStringLiteral("/cups-files.conf") });
    if (!m_cupsd.waitForStarted(5000)) {
        *error = QStringLiteral("cupsd did not start: ") + m_cupsd.errorString();
        return false;
    }
    QString output;
    const bool up = QTest::qWaitFor(
        [&] {
            return m_cupsd.state() != QProcess::Running
                || (run(QStringLiteral("lpstat"), { QStringLiteral("-r") }, &output)
                    && output.contains(QLatin1String("scheduler is running")));
        },
        10000);
    if (!up || m_cupsd.state() != QProcess::Running) {
        QFile log(m_dir.filePath(QStringLiteral("log/error_log")));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("the private cupsd did not come up: ") + QString::fromUtf8(log.readAll().right(2000));
        return false;
    }
    return true;
}

void PrivateCups::stop()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return;
    resume();
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(10000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

bool PrivateCups::restart(QString *error)
{
    stop();
    return start(error);
}

void PrivateCups::setStuck(bool stuck)
{
    const QString path = m_dir.filePath(QStringLiteral("stuck"));
    if (!stuck) {
        QFile::remove(path);
        return;
    }
    // Readable by all, should the backend ever run as lp.
    writeText(path, QString(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

void PrivateCups::pause()
{
    ::kill(pid_t(m_cupsd.processId()), SIGSTOP);
}

void PrivateCups::resume()
{
    if (m_cupsd.processId() > 0)
        ::kill(pid_t(m_cupsd.processId()), SIGCONT);
}

bool PrivateCups::run(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), socketPath());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(15000);
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivateCups::addQueue(const QString &name, const QString &mode, const QString &errorPolicy)
{
    QStringList arguments { QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
        QStringLiteral("testbe:/") + mode };
    if (!errorPolicy.isEmpty())
        arguments << QStringLiteral("-o") << QStringLiteral("printer-error-policy=") + errorPolicy;
    return run(QStringLiteral("lpadmin"), arguments);
}

QStringList PrivateCups::activeJobs()
{
    QString output;
    run(QStringLiteral("lpstat"), { QStringLiteral("-o") }, &output);
    return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int PrivateCups::documentsPrinted() const
{
    return int(QDir(outputFolder()).entryList(QDir::Files).size());
}
