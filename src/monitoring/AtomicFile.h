#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Replaces the file at path with bytes in one step: QSaveFile writes NAME.XXXXXX beside it
// and renames it over the file when complete, so a reader (--status, node_exporter, whose
// collector reads only names ending in .prom) never sees half a file. False, with the
// reason in *error, when it could not be written.
bool replaceFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                           QString *error);
