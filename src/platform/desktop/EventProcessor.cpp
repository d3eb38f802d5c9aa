#include "platform/desktop/EventProcessor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

QtEventProcessor::QtEventProcessor(std::function<int()> openWindows)
    : m_openWindows(std::move(openWindows))
{
}

int QtEventProcessor::doEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_openWindows();
}

int QtEventProcessor::waitEvents(int maxMilliseconds)
{
    // The wake-up timer bounds the sleep; any other event ends it sooner.
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.start(qMax(0, maxMilliseconds));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return m_openWindows();
}
