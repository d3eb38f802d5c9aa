#pragma once

#include <memory>

#include "app/Form_HardCopy.h"
#include "common/Fakes.h"
#include "db/dbModule.h"
#include "register/ThreadedRegister.h"
#include "settings/StationSettings.h"

// A main window wired to fakes: the scripted database (or any connection the test
// passes, such as the demo LIMS), a fake browser, clock, timer, message boxes, events,
// keyboard and dialogs. Tests drive it through its controls and procedures.
class StationFixture
{
public:
    explicit StationFixture(std::unique_ptr<DbConnection> connection = nullptr);
    ~StationFixture();

    // Builds the window (after the test has adjusted settings); load() also runs Form_Load.
    Form_HardCopy &create();
    Form_HardCopy &load();

    template<class T>
    T *control(const char *name) const
    {
        return form->findChild<T *>(QLatin1String(name));
    }

    FakeClock clock;
    FakeTimer timer;
    RecordingMessageBoxes messages;
    ScriptedEvents events;
    FakeBrowser browser;
    FakeKeyboard keyboard;
    FakeDialogs dialogs;
    StationSettings settings;
    ThreadedRegister *distributionRegister = nullptr; // none: nothing is recorded
    ScriptedDbConnection *scripted = nullptr; // null when the test passed its own connection
    DbConnection *connection = nullptr;
    std::unique_ptr<dbModule> db;
    std::unique_ptr<Form_HardCopy> form;
};
