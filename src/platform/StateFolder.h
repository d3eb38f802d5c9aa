#pragma once

#include <QString>

// The folder of what the station keeps about itself between its lives (its status
// record, its resume record, its lock): $XDG_STATE_HOME/hardcopy-station, XDG_STATE_HOME
// defaulting to ~/.local/state.
QString stationStateFolder();
