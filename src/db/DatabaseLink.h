#pragma once

#include <functional>

#include <QDateTime>
#include <QString>

class Clock;

// What the station knows of its link to the LIMS: up, or down since when and why. While
// the server stays away it paces the attempts to open the connection again, so that a
// long outage neither hammers the server nor holds the window for more than one bounded
// attempt at a time. Each change is logged once and reported to an observer (the window
// shows it).
class DatabaseLink
{
public:
    // At most one reopen attempt in this many seconds once an attempt has failed.
    static constexpr int kReopenSpacingSeconds = 10;

    struct State
    {
        bool up = true;
        QDateTime downSince;   // wall-clock time the link was found lost
        QString reason; // the driver's words for the last failure, or the refusal's
        bool refused = false; // the last attempt reached a server whose link the settings refuse
        int failedReopens = 0; // attempts since the link was lost
    };

    explicit DatabaseLink(const Clock *clock = nullptr);

    void setClock(const Clock *clock) { m_clock = clock; }
    void setObserver(std::function<void()> observer) { m_observer = std::move(observer); }
    const State &state() const { return m_state; }

    // True when a reopen may be tried now: at once after the loss, then spaced.
    bool reopenDue() const;
    void lost(const QString &reason);
    // refused: the server answered, and the station refused the link it offered.
    void reopenFailed(const QString &reason, bool refused = false);
    void reopened();

private:
    QDateTime now() const;
    qint64 steadyMs() const;
    void changed();

    const Clock *m_clock = nullptr;
    std::function<void()> m_observer;
    State m_state;
    qint64 m_lastFailedAttemptMs = 0;
};

// The line the window shows while the link is down; empty while it is up.
QString databaseTroubleText(const DatabaseLink::State &state, const QDateTime &now);
