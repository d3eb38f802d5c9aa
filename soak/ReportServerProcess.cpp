#include "ReportServerProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

#include "common/DemoServerProcess.h"

ReportServerProcess::ReportServerProcess(QString databasePath)
    : m_databasePath(std::move(databasePath))
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

ReportServerProcess::~ReportServerProcess()
{
    kill();
}

bool ReportServerProcess::start(quint16 port, const QString &mode, int timeoutMs)
{
    kill();
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:([0-9]+)"));
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        m_process.start(DemoServerProcess::program(),
                        {QStringLiteral("--db"), m_databasePath, QStringLiteral("--port"), QString::number(port),
                         QStringLiteral("--mode"), mode});
        QByteArray out;
        while (m_process.waitForReadyRead(int(std::max<qint64>(100, deadline.remainingTime())))) {
            out += m_process.readAllStandardOutput();
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(out));
            if (match.hasMatch()) {
                m_port = quint16(match.captured(1).toUInt());
                return true;
            }
        }
        m_error = QString::fromUtf8(m_process.readAllStandardError()).trimmed();
        kill();
        if (deadline.hasExpired()) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("the report server did not listen on port %1").arg(port);
            return false;
        }
        // The port is still held by the connections of the process before.
        QThread::msleep(250);
    }
}

void ReportServerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}
