#pragma once

#include <QStringList>

struct StartOptions;

// What the station does on a console, without its window: each writes to standard
// output and returns the exit code.
namespace ConsoleCommands {

// --check: the installation, every edge, one line each.
int check(const StartOptions &options);
// --register, --verify-register, --reprint.
int registerCommand(const StartOptions &options);
// --status, as a monitoring plugin answers.
int status(const QStringList &arguments);

} // namespace ConsoleCommands
