#pragma once

#include <QString>

#include "platform/StateFolder.h"

struct StationSettings;

// Where the register lives and how long it keeps the documents it was given
// (`[Register] File`, `KeepDays`, `KeepMegabytes` of the station's settings).
struct RegisterSettings
{
    QString file = defaultRegisterFilePath(); // the SQLite database
    int keepDays = 90; // a kept document older than this is pruned
    int keepMegabytes = 2000; // beyond this the oldest kept documents are pruned

    // The documents kept beside the database: "register.sqlite" keeps them in
    // "register-documents" of the same folder.
    QString documentsFolder() const;
    // The register the station's settings name.
    static RegisterSettings from(const StationSettings &settings);
};
