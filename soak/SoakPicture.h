#pragma once

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QLineF>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

class QPainter;

// A soak drawn as one picture: the memory of the station and of its browser-engine helpers
// over time, with the floors their growth is judged on, the faults as bands on the time
// axis and every completed print job as a tick. It is drawn from the two files the soak
// leaves in its folder, samples.csv and events.csv (columns found by their names), so a
// kept folder can be drawn again: hardcopy-soak --draw FOLDER.
class SoakPicture
{
public:
    static constexpr const char *kFileName = "soak.png";

    // Reads <folder>/samples.csv and <folder>/events.csv and writes <folder>/soak.png.
    static bool draw(const QString &folder, QString *error);

    bool load(const QString &folder, QString *error);
    QImage paint() const;

private:
    struct Series
    {
        QString name;
        QColor color;
        QList<QPointF> points; // ms from the start, MB
        bool withFloors = false;
    };
    struct Band
    {
        QString lane;
        QString name;
        qint64 fromMs = 0;
        qint64 toMs = 0;
    };

    bool loadSamples(const QString &path, QString *error);
    bool loadEvents(const QString &path, QString *error);
    qint64 msFromStart(const QDateTime &at) const { return m_start.msecsTo(at); }
    // The least memory of each stretch of the samples taken between runs after the first
    // runs, as the soak judges growth: one segment per stretch.
    QList<QLineF> floors(const Series &series) const;

    void paintMemory(QPainter &p, const QRectF &area) const;
    void paintLanes(QPainter &p, const QRectF &area) const;
    void paintTimeAxis(QPainter &p, const QRectF &area, qreal bottom) const;
    // Returns where the legend ends.
    qreal paintLegend(QPainter &p, const QRectF &area) const;
    qreal xAt(const QRectF &area, qint64 ms) const;
    QColor faultColor(const QString &name) const;

    QString m_title;
    QDateTime m_start;
    qint64 m_totalMs = 0;
    qint64 m_firstRunsEndMs = 0;
    QList<Series> m_series;
    QList<bool> m_betweenRuns; // per sample, in the order of every series' points
    QList<Band> m_faults;
    QStringList m_lanes;
    QStringList m_faultNames;
    QList<qint64> m_prints;
};
