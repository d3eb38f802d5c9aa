#pragma once

#include <QString>

// The folder of the station's own state (its status record, its register, the documents
// it keeps): $XDG_STATE_HOME/hardcopy-station, XDG_STATE_HOME defaulting to
// ~/.local/state. One place, so that every room that keeps state finds the same folder.
QString stationStateFolder();
