#include "SoakPicture.h"

#include <algorithm>
#include <cmath>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>

#include "MemoryGrowth.h"

namespace {

constexpr int kWidth = 1400;
constexpr qreal kLeft = 120;
constexpr qreal kRight = 44;
constexpr qreal kMemoryHeight = 320;
constexpr qreal kLaneHeight = 20;

const QColor kInk(0x30, 0x30, 0x30);
const QColor kGrid(0xe4, 0xe4, 0xe4);

// A small CSV: one header line, values without commas or quotes.
struct Table
{
    QStringList header;
    QList<QStringList> rows;
    int column(const char *name) const { return int(header.indexOf(QLatin1String(name))); }
};

bool readTable(const QString &path, Table *table, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        *error = path + QStringLiteral(": empty");
        return false;
    }
    table->header = lines.first().trimmed().split(QLatin1Char(','));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QStringList row = lines.at(i).trimmed().split(QLatin1Char(','));
        if (row.size() >= table->header.size())
            table->rows << row;
    }
    return true;
}

QDateTime timeOf(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

// 10, 20, 50, 100... MB between grid lines, for about five of them.
double gridStep(double span)
{
    const double raw = span / 5;
    const double magnitude = std::pow(10, std::floor(std::log10(std::max(raw, 1.0))));
    for (const double m : { 1.0, 2.0, 5.0 }) {
        if (raw <= m * magnitude)
            return m * magnitude;
    }
    return 10 * magnitude;
}

} // namespace

bool SoakPicture::draw(const QString &folder, QString *error)
{
    SoakPicture picture;
    if (!picture.load(folder, error))
        return false;
    const QString path = QDir(folder).filePath(QLatin1String(kFileName));
    // Eight bits a pixel keep the picture small enough for the documentation.
    const QImage image = picture.paint().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    if (!image.save(path, "PNG")) {
        *error = path + QStringLiteral(": cannot be written");
        return false;
    }
    return true;
}

bool SoakPicture::load(const QString &folder, QString *error)
{
    const QDir dir(folder);
    return loadEvents(dir.filePath(QStringLiteral("events.csv")), error)
        && loadSamples(dir.filePath(QStringLiteral("samples.csv")), error);
}

bool SoakPicture::loadEvents(const QString &path, QString *error)
{
    Table table;
    if (!readTable(path, &table, error))
        return false;
    const int kind = table.column("kind"), lane = table.column("lane"), name = table.column("name");
    const int begin = table.column("begin"), end = table.column("end");
    if (kind < 0 || lane < 0 || name < 0 || begin < 0 || end < 0) {
        *error = path + QStringLiteral(": needs the columns kind, lane, name, begin, end");
        return false;
    }
    for (const QStringList &row : table.rows) {
        if (row.at(kind) == QLatin1String("soak")) {
            m_title = row.at(name);
            m_start = timeOf(row.at(begin));
            m_totalMs = m_start.msecsTo(timeOf(row.at(end)));
        }
    }
    if (!m_start.isValid() || m_totalMs <= 0) {
        *error = path + QStringLiteral(": no soak row with its start and end");
        return false;
    }
    // The lanes in the order a run meets them: the board, the database, the report server,
    // the printer, the station's own machine; any other after them.
    QStringList lanes;
    for (const QStringList &row : table.rows) {
        const qint64 at = msFromStart(timeOf(row.at(begin)));
        if (row.at(kind) == QLatin1String("fault")) {
            m_faults << Band { row.at(lane), row.at(name), at, msFromStart(timeOf(row.at(end))) };
            if (!lanes.contains(row.at(lane)))
                lanes << row.at(lane);
            if (!m_faultNames.contains(row.at(name)))
                m_faultNames << row.at(name);
        } else if (row.at(kind) == QLatin1String("print")) {
            m_prints << at;
        } else if (row.at(kind) == QLatin1String("first_runs")) {
            m_firstRunsEndMs = at;
        }
    }
    for (const char *known : { "status board", "database", "statements", "report server", "printer", "station" }) {
        if (lanes.removeAll(QLatin1String(known)) > 0)
            m_lanes << QLatin1String(known);
    }
    m_lanes << lanes;
    return true;
}

bool SoakPicture::loadSamples(const QString &path, QString *error)
{
    Table table;
    if (!readTable(path, &table, error))
        return false;
    const int time = table.column("time"), between = table.column("between_runs");
    if (time < 0 || between < 0 || table.column("station_kb") < 0 || table.column("helpers_kb") < 0) {
        *error = path + QStringLiteral(": needs the columns time, station_kb, helpers_kb, between_runs");
        return false;
    }
    // The station and its helpers in all, then any other memory column (one per helper).
    const QList<QColor> others { QColor(0x9e, 0x9a, 0xc8), QColor(0x74, 0xc4, 0x76), QColor(0xd9, 0x8c, 0xb3),
        QColor(0x8c, 0x8c, 0x8c), QColor(0xbc, 0xbd, 0x22) };
    QList<int> columns;
    m_series << Series { QStringLiteral("station"), QColor(0x1f, 0x60, 0xb4), {}, true }
             << Series { QStringLiteral("helpers"), QColor(0xe0, 0x6c, 0x00), {}, true };
    columns << table.column("station_kb") << table.column("helpers_kb");
    for (int c = 0; c < table.header.size(); ++c) {
        const QString &name = table.header.at(c);
        if (name.endsWith(QLatin1String("_kb")) && !columns.contains(c)) {
            m_series << Series { name.chopped(3), others.at((m_series.size() - 2) % others.size()), {}, false };
            columns << c;
        }
    }
    for (const QStringList &row : table.rows) {
        const qint64 at = msFromStart(timeOf(row.at(time)));
        for (qsizetype s = 0; s < m_series.size(); ++s)
            m_series[s].points << QPointF(double(at), row.at(columns.at(s)).toDouble() / 1024);
        m_betweenRuns << (row.at(between) == QLatin1String("1"));
    }
    return true;
}

QList<QLineF> SoakPicture::floors(const Series &series) const
{
    QList<QPointF> judged;
    for (qsizetype i = 0; i < series.points.size(); ++i) {
        if (m_betweenRuns.at(i) && series.points.at(i).x() >= double(m_firstRunsEndMs))
            judged << series.points.at(i);
    }
    QList<QLineF> segments;
    if (!MemoryGrowth::judgedOnFloors(judged.size()))
        return segments;
    for (qsizetype i = 0; i < MemoryGrowth::kStretches; ++i) {
        const auto from = judged.begin() + judged.size() * i / MemoryGrowth::kStretches;
        const auto to = judged.begin() + judged.size() * (i + 1) / MemoryGrowth::kStretches;
        const auto least = std::min_element(from, to, [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
        segments << QLineF(from->x(), least->y(), (to - 1)->x(), least->y());
    }
    return segments;
}

QImage SoakPicture::paint() const
{
    const qreal lanesHeight = kLaneHeight * qreal(m_lanes.size() + 1);
    // Room for a legend of many rows; the picture is cut below the legend's last one.
    const int height = int(36 + kMemoryHeight + 16 + lanesHeight + 40 + 200);
    QImage image(kWidth, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(kInk);
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(14);
    p.setFont(bold);
    p.drawText(QPointF(kLeft, 22), m_title);
    p.setFont(font);

    const QRectF memory(kLeft, 36, kWidth - kLeft - kRight, kMemoryHeight);
    const QRectF lanes(kLeft, memory.bottom() + 16, memory.width(), lanesHeight);
    // The minutes' grid first, under the curves and the bands.
    paintTimeAxis(p, memory, lanes.bottom());
    paintMemory(p, memory);
    paintLanes(p, lanes);
    const qreal legendBottom = paintLegend(p, QRectF(kLeft, lanes.bottom() + 40, memory.width(), 200));
    p.end();
    return image.copy(0, 0, kWidth, std::min(height, int(legendBottom) + 8));
}

qreal SoakPicture::xAt(const QRectF &area, qint64 ms) const
{
    return area.left() + area.width() * qreal(std::clamp<qint64>(ms, 0, m_totalMs)) / qreal(m_totalMs);
}

void SoakPicture::paintMemory(QPainter &p, const QRectF &area) const
{
    double low = 1e18, high = 0;
    for (const Series &series : m_series) {
        for (const QPointF &point : series.points) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    if (high <= low) {
        low = std::max(0.0, low - 10);
        high = low + 20;
    }
    const double step = gridStep(high - low);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
    const auto yAt = [&](double mb) { return area.bottom() - area.height() * (mb - low) / (high - low); };
    for (double mb = low; mb <= high + step / 2; mb += step) {
        p.setPen(kGrid);
        p.drawLine(QPointF(area.left(), yAt(mb)), QPointF(area.right(), yAt(mb)));
        p.setPen(kInk);
        p.drawText(QRectF(0, yAt(mb) - 8, area.left() - 8, 16), Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("%1 MB").arg(mb, 0, 'f', 0));
    }
    if (m_firstRunsEndMs > 0) {
        p.setPen(QPen(kInk, 1, Qt::DotLine));
        const qreal x = xAt(area, m_firstRunsEndMs);
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        p.drawText(QPointF(x + 4, area.top() + 12), QStringLiteral("first runs done"));
    }
    // The others first, so that the station and its helpers in all stay on top.
    for (qsizetype s = m_series.size() - 1; s >= 0; --s) {
        const Series &series = m_series.at(s);
        QPolygonF line;
        for (const QPointF &point : series.points)
            line << QPointF(xAt(area, qint64(point.x())), yAt(point.y()));
        p.setPen(QPen(series.color, series.withFloors ? 1.5 : 1));
        p.drawPolyline(line);
        if (!series.withFloors)
            continue;
        p.setPen(QPen(series.color.darker(160), 3, Qt::SolidLine, Qt::FlatCap));
        for (const QLineF &floor : floors(series)) {
            p.drawLine(QPointF(xAt(area, qint64(floor.x1())), yAt(floor.y1())),
                QPointF(xAt(area, qint64(floor.x2())), yAt(floor.y2())));
        }
    }
    p.setPen(kInk);
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
}

void SoakPicture::paintLanes(QPainter &p, const QRectF &area) const
{
    const auto laneRect = [&](qsizetype i) {
        return QRectF(area.left(), area.top() + kLaneHeight * qreal(i), area.width(), kLaneHeight);
    };
    for (qsizetype i = 0; i <= m_lanes.size(); ++i) {
        const QRectF lane = laneRect(i);
        p.setPen(kInk);
        p.drawText(QRectF(0, lane.top(), area.left() - 8, lane.height()), Qt::AlignRight | Qt::AlignVCenter,
            i < m_lanes.size() ? m_lanes.at(i) : QStringLiteral("prints"));
        p.setPen(kGrid);
        p.drawLine(lane.bottomLeft(), lane.bottomRight());
    }
    for (const Band &band : m_faults) {
        const QRectF lane = laneRect(m_lanes.indexOf(band.lane));
        const qreal from = xAt(area, band.fromMs);
        // A one-off fault is drawn from when it was laid to when it was taken, at least a few pixels.
        const qreal to = std::max(xAt(area, band.toMs), from + 3);
        p.fillRect(QRectF(from, lane.top() + 3, to - from, lane.height() - 6), faultColor(band.name));
    }
    const QRectF prints = laneRect(m_lanes.size());
    p.setPen(QPen(kInk, 1));
    for (const qint64 at : m_prints) {
        const qreal x = xAt(area, at);
        p.drawLine(QPointF(x, prints.top() + 4), QPointF(x, prints.bottom() - 4));
    }
}

void SoakPicture::paintTimeAxis(QPainter &p, const QRectF &area, qreal bottom) const
{
    const qint64 minutes = m_totalMs / 60000;
    const qint64 every = minutes > 30 ? 5 : minutes > 10 ? 2 : 1;
    for (qint64 minute = 0; minute <= minutes; minute += every) {
        const qreal x = xAt(area, minute * 60000);
        p.setPen(kGrid);
        p.drawLine(QPointF(x, area.top()), QPointF(x, bottom));
        p.setPen(kInk);
        const QString label = QStringLiteral("+%1 min\n%2")
                                  .arg(minute)
                                  .arg(m_start.addSecs(minute * 60).toString(QStringLiteral("HH:mm")));
        p.drawText(QRectF(x - 40, bottom + 2, 80, 34), Qt::AlignHCenter | Qt::AlignTop, label);
    }
}

qreal SoakPicture::paintLegend(QPainter &p, const QRectF &area) const
{
    qreal x = area.left();
    qreal y = area.top() + 6;
    enum Mark { Line, Box, Tick };
    const auto entry = [&](const QColor &color, const QString &text, Mark mark) {
        const qreal width = 22 + p.fontMetrics().horizontalAdvance(text) + 18;
        if (x + width > area.right()) {
            x = area.left();
            y += 20;
        }
        p.setPen(QPen(color, mark == Tick ? 1 : 3));
        if (mark == Line)
            p.drawLine(QPointF(x, y + 6), QPointF(x + 16, y + 6));
        else if (mark == Tick)
            p.drawLine(QPointF(x + 8, y), QPointF(x + 8, y + 12));
        else
            p.fillRect(QRectF(x, y + 1, 16, 10), color);
        p.setPen(kInk);
        p.drawText(QPointF(x + 22, y + 11), text);
        x += width;
    };
    for (const Series &series : m_series) {
        entry(series.color, series.name + QStringLiteral(" (resident)"), Line);
        if (series.withFloors)
            entry(series.color.darker(160), series.name + QStringLiteral(": floor between runs"), Line);
    }
    for (const QString &name : m_faultNames)
        entry(faultColor(name), name, Box);
    entry(kInk, QStringLiteral("a print job completed"), Tick);
    return y + 16;
}

QColor SoakPicture::faultColor(const QString &name) const
{
    static const QList<QColor> palette { QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
        QColor(0xe3, 0x77, 0xc2), QColor(0x2c, 0xa0, 0x2c), QColor(0x17, 0xbe, 0xcf), QColor(0xbc, 0xbd, 0x22),
        QColor(0xff, 0x98, 0x96), QColor(0x7f, 0x7f, 0x7f), QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0xbb, 0x78) };
    return palette.at(std::max<qsizetype>(0, m_faultNames.indexOf(name)) % palette.size());
}
