#pragma once

class Clock;
class Timer;
class MessageBoxes;
class EventProcessor;
class WebBrowser;
class PrintSpooler;
class Keyboard;
class OperatorDialogs;
class StationActivity;
class ResumeRecord;
class ThreadedRegister;
class StationTurn;

// The seams through which the main window reaches the world. The application passes
// the real implementations; tests pass fakes. None is owned by the window.
struct StationSeams
{
    Clock *clock = nullptr;
    Timer *timer = nullptr;           // Timer1
    MessageBoxes *messages = nullptr;
    EventProcessor *events = nullptr;
    WebBrowser *browser = nullptr;    // WebBrowser1
    PrintSpooler *spooler = nullptr;  // where the rendered pages are printed; none: nothing prints
    Keyboard *keyboard = nullptr;
    OperatorDialogs *dialogs = nullptr;
    StationActivity *activity = nullptr; // what IT staff see from afar; none: nobody watches
    ResumeRecord *resume = nullptr; // the session kept for a restart; none: a restart waits for a login
    // Every page sent and every batch deleted or kept, on record before the deletion;
    // none: nothing is recorded (the fixtures of tests that are not about it).
    ThreadedRegister *distributionRegister = nullptr;
    // The turn among the stations of this application started against one LIMS: only the
    // one that holds it prints; none: this station always prints (the fixtures).
    StationTurn *turn = nullptr;
};
