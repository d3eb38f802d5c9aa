#pragma once

#include <QByteArray>
#include <QString>

#include "monitoring/StationStatus.h"

// The station's figures in the text format of node_exporter's textfile collector
// (counters since the station started, gauges of its state), labelled with the lab. The
// file is replaced as a whole: the new text goes to a file beside it whose name does not
// end in .prom, which the collector passes over, and is then renamed.
class MetricsFile
{
public:
    explicit MetricsFile(QString path);

    const QString &path() const { return m_path; }
    // Readable by everyone (0644): node_exporter reads it as a user of its own.
    bool write(const StationStatus &status);
    QString errorString() const { return m_error; }

    static QByteArray text(const StationStatus &status);
    // A label value as the format wants it: backslash, double quote and line feed escaped.
    static QString labelValue(const QString &value);

private:
    QString m_path;
    QString m_error;
};
