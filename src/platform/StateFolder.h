#pragma once

#include <QString>

// Where the station keeps its files when the settings name no other place: the one
// small place that the settings, the monitoring, the console and the start-up all ask,
// so that none of them asks another for a path.

// The folder of what the station keeps about itself between its lives (its status
// record, its resume record, its lock): $XDG_STATE_HOME/hardcopy-station, XDG_STATE_HOME
// defaulting to ~/.local/state.
QString stationStateFolder();
// $XDG_STATE_HOME/hardcopy-station/status.json: the status record (--status reads it).
QString defaultStatusFilePath();
// $XDG_STATE_HOME/hardcopy-station/resume.json: the operator's session kept for a restart.
QString defaultResumeFilePath();

// The settings file: $XDG_CONFIG_HOME/hardcopy-station/hardcopy-station.ini.
QString defaultSettingsPath();
// The log, the demo LIMS file and the demo's PDF folder, in the user's data folder
// ($XDG_DATA_HOME/hardcopy-station).
QString defaultLogPath();
QString defaultDemoDatabasePath();
QString defaultDemoPrintFolder();
