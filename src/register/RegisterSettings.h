#pragma once

#include <QString>

// Where the register lives and how long it keeps the documents it was given
// (`[Register] File`, `KeepDays`, `KeepMegabytes` of the station's settings).
struct RegisterSettings
{
    QString file = defaultFile(); // the SQLite database
    int keepDays = 90; // a kept document older than this is pruned
    int keepMegabytes = 2000; // beyond this the oldest kept documents are pruned

    // The documents kept beside the database: "register.sqlite" keeps them in
    // "register-documents" of the same folder.
    QString documentsFolder() const;
    // $XDG_STATE_HOME/hardcopy-station/register.sqlite.
    static QString defaultFile();
};
