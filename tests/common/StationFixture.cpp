#include "common/StationFixture.h"

StationFixture::StationFixture(std::unique_ptr<DbConnection> conn)
{
    if (!conn) {
        auto scriptedConnection = std::make_unique<ScriptedDbConnection>();
        scripted = scriptedConnection.get();
        conn = std::move(scriptedConnection);
    }
    connection = conn.get();
    db = std::make_unique<dbModule>(std::move(conn), messages);

    settings.databaseServer = QStringLiteral("db.test,1433");
    settings.databaseUser = QStringLiteral("station");
    settings.databasePassword = QStringLiteral("secret");
    settings.reportServer = QStringLiteral("reports.test");

    events.clock = &clock;
    events.addTicker([this] { browser.advance(); });
    events.openWindows = [this] { return form ? form->openWindowCount() : 1; };
}

StationFixture::~StationFixture()
{
    form.reset();
}

Form_HardCopy &StationFixture::create()
{
    StationSeams seams;
    seams.clock = &clock;
    seams.timer = &timer;
    seams.messages = &messages;
    seams.events = &events;
    seams.browser = &browser;
    seams.spooler = &browser;
    seams.keyboard = &keyboard;
    seams.dialogs = &dialogs;
    seams.distributionRegister = distributionRegister;
    form = std::make_unique<Form_HardCopy>(seams, *db, settings);
    return *form;
}

Form_HardCopy &StationFixture::load()
{
    if (!form)
        create();
    form->Form_Load();
    return *form;
}
