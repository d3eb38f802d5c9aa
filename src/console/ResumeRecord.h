#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What an operator's login set up, as far as the station needs it to take the session up
// again after an abnormal end. No password: none is kept anywhere.
struct ResumeSession
{
    QString labCode;
    QString employee;
    QString ratingFilter; // the Tag of the run's rating option ("" for All)
    QString frequency; // the refresh frequency's item text ("1 Minute", ...)
    bool print = true; // "Print reports"
    bool servicesStarted = false; // the services ran or waited for their next run
    QDateTime loggedInAt;

    friend bool operator==(const ResumeSession &, const ResumeSession &) = default;
};

// The resume record: a small file in the station's state folder (mode 0600) that the
// station keeps while an operator is logged in, so that a station started again after a
// crash, a kill, a hang or a power cut takes the session up with nobody at the login.
// The operator's exit ends it. It is replaced only by a whole new one, as the status
// record is.
class ResumeRecord
{
public:
    // installation: what the session was made for (the LIMS server); a record made for
    // another, or on another host, is not taken up.
    ResumeRecord(QString path, QString installation, QString host);

    const QString &path() const { return m_path; }

    // What the record found at start says: the session to take up, or why not (one line
    // for the log; empty when there is no record). lastHeartbeat: when the station's life
    // before this one was last known alive (invalid: unknown).
    struct Verdict
    {
        std::optional<ResumeSession> session;
        QString why;
    };
    Verdict judge(const QDateTime &now, const QDateTime &lastHeartbeat, int withinHours) const;

    // Writes the session when it differs from what was written last; false when the
    // write failed (trouble() says why).
    bool keep(const ResumeSession &session);
    // The operator's exit: the next start waits for a login.
    void end();

    // Empty while the record is written; else what the window shows.
    QString trouble() const { return m_trouble; }
    void setTroubleObserver(std::function<void(const QString &)> observer) { m_observer = std::move(observer); }

    QByteArray toJson(const ResumeSession &session, const QDateTime &written) const;

private:
    void setTrouble(const QString &text);
    QString notOwnReason() const;

    QString m_path;
    QString m_installation;
    QString m_host;
    std::optional<ResumeSession> m_written;
    QString m_trouble;
    std::function<void(const QString &)> m_observer;
};
