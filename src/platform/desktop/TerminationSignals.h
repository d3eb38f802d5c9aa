#pragma once

#include <functional>

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (the session's end, a reboot, the service manager's stop, a
// Ctrl+C in a terminal) reach the station as a call on the window's thread, from its
// event loop, instead of ending the process where it stands. One per process.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(std::function<void(int signalNumber)> handler, QObject *parent = nullptr);
    ~TerminationSignals() override;

    // The signal's name for the log ("SIGTERM").
    static QString name(int signalNumber);

private:
    void readSignal();

    std::function<void(int)> m_handler;
    QSocketNotifier *m_notifier = nullptr;
};
