#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

#include "monitoring/StationStatus.h"

// The station's status record: a small JSON file that --status (and anything else on the
// machine) reads to tell how the station is doing. It is replaced as a whole, so a reader
// never sees half of it. It holds no secret, so the station's group may read it.
class StatusRecord
{
public:
    explicit StatusRecord(QString path);

    const QString &path() const { return m_path; }
    // Creates the folder; the file is readable by the station's user and group (0640).
    bool write(const StationStatus &status);
    std::optional<StationStatus> read();
    QString errorString() const { return m_error; }

    static QByteArray toJson(const StationStatus &status);
    static std::optional<StationStatus> fromJson(const QByteArray &json, QString *error = nullptr);

private:
    QString m_path;
    QString m_error;
};
