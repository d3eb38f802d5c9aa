#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
struct StationSettings;

// --register, --verify-register or --reprint, with what they take.
struct RegisterCommand
{
    enum Kind { None, List, Verify, Reprint } kind = None;
    QString clientId;
    QString batchId; // --batch, or the batch of --reprint
    QString since;
    QString until;
    bool csv = false;
    QString page;
    QString printer;
    QStringList printOptions; // --option ATTRIBUTE=VALUE of --reprint, as given
};

// What the command line asks the station to do.
struct StartOptions
{
    QString settingsPath;
    bool demo = false;
    bool check = false;
    QString checkPage; // with --check: a report page whose parts are judged
    QString unattendedDemo; // where the unattended demo cycle saves its picture of the window
    RegisterCommand registerCommand;
    bool registerWindow = false; // the register in a window of its own, beside the station
};

// The program's name, organisation and version, before anything reads them.
void describeApplication();
// Whether the command line asks only for something a console can do. A parse error is
// also said on the console.
bool needsNoDisplay(int argc, char *argv[]);
// Help, version and unknown options end the program inside process().
StartOptions parseOptions(const QCoreApplication &app);

// What --status was given; help is shown and ends the program.
struct StatusOptions
{
    QString parseError; // the command line could not be parsed
    QString settingsPath;
    bool settingsNamed = false; // --config was given
    QString warningMinutes;
    QString criticalMinutes;
};
StatusOptions parseStatusOptions(const QStringList &arguments);

// The settings the command line names, with --demo and the date formats applied.
StationSettings loadSettings(const StartOptions &options);
