#pragma once

#include <QString>

// The demo LIMS database file: schema, seed data, journal and fault injection.
namespace DemoLims {
// Creates and seeds the file when it does not exist yet. Returns false (with a reason)
// when the file cannot be created or opened.
bool ensureDatabase(const QString &path, QString *error = nullptr);
// The connection text under which the station opens the demo LIMS.
QString connectionText(const QString &path);
}
