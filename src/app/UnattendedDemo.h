#pragma once

#include <memory>

#include <QString>

class OperatorDialogs;
class StationRuntime;

// One demo cycle with nobody at the window, for a newcomer's machine without a display:
// the demo operator logs in, "Once only" is chosen (which prints every due client once
// and stops the services), a picture of the window is saved, and the station says where
// the printed pages, the picture and its status record are, and how it is doing.
namespace UnattendedDemo {

// Answers the login with the demo operator's password, as a person would type it.
std::unique_ptr<OperatorDialogs> demoOperator(const QString &password);

// Runs the cycle on the loaded window once the event loop runs; ends the event loop with
// 0 when the run went through, 1 otherwise.
void start(StationRuntime &station, const QString &screenshotPath);

} // namespace UnattendedDemo
