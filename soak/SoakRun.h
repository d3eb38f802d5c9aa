#pragma once

#include <functional>
#include <memory>

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include "Evidence.h"
#include "FaultSchedule.h"
#include "Promises.h"
#include "ServiceWatch.h"
#include "StationProbe.h"
#include "StationSupervisor.h"

class SoakWorld;

struct SoakOptions
{
    double minutes = 15;
    quint32 seed = 0;
    // How often memory and CPU are sampled: a soak of hours samples less often, so that
    // its six stretches of floors span a growth too slow to show within one hour.
    double sampleSeconds = 15;
    QString display;
    bool keepFiles = false;
    // A soak of the station's memory: no fault on the station itself, so that one process
    // serves the whole soak, and clients fall due many times as fast.
    bool memory = false;
};

// One soak: the world started and the station logged in, then for the chosen time a tick
// every second lays and lifts the faults of the schedule, lets clients fall due each
// minute, reads the evidence and checks the promises; at the end the table is printed.
class SoakRun : public QObject
{
    Q_OBJECT

public:
    explicit SoakRun(const SoakOptions &options);
    ~SoakRun() override;

    // Starts everything; false (with the reason printed) when the world did not come up.
    bool start();
    // Exit code: 0 when every promise was kept, 1 when one broke, 2 when the soak could
    // not run.
    int exitCode() const { return m_exitCode; }

signals:
    void finished();

private:
    void tick();
    void layFaults(qint64 elapsedMs);
    // The station's own faults are over once its supervisor started it again.
    void followStationFault(LaidFault &laid, qint64 elapsedMs);
    void superviseWith(StationSupervisor &supervisor);
    void lifeEnded(const StationSupervisor::Life &life);
    // A fault matching `kind` was laid during [from, to] (to invalid: from alone).
    bool laidDuring(const std::function<bool(FaultKind)> &kind, const QDateTime &from, const QDateTime &to) const;
    const LaidFault *stationFaultAt(const QDateTime &at) const;
    void soakProblem(const QString &text);
    void beginQuiet(qint64 elapsedMs);
    void feed(qint64 elapsedMs);
    void readEvidence();
    void takeSample();
    void writeEvents() const;
    void finish();
    void say(const QString &line) const;

    SoakOptions m_options;
    ScheduleShape m_shape;
    std::unique_ptr<SoakWorld> m_world;
    std::unique_ptr<LimsLedger> m_lims;
    std::unique_ptr<CupsLedger> m_cups;
    std::unique_ptr<StationProbe> m_probe;
    std::unique_ptr<PromiseBook> m_book;
    ServiceWatch m_service;
    UnitTimes m_unit;
    QRandomGenerator m_random;
    QList<LaidFault> m_faults;
    QList<FedClient> m_fed;
    QDateTime m_start;
    QTimer m_timer;
    bool m_inTick = false;
    bool m_done = false;
    bool m_quiet = false;
    qint64 m_nextFeedMs = 60000;
    qint64 m_nextEvidenceMs = 0;
    qint64 m_nextSampleMs = 0;
    int m_exitCode = 2;
};
