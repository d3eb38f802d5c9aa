// The operator console: the two dialogs, the login, the rating filter, the printer options
// and the statistics panel.
#include <functional>

#include <QtTest>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <QTemporaryDir>

#include "common/StationFixture.h"
#include "console/ResumeRecord.h"
#include "console/Form_DistribAction.h"
#include "console/Form_Password.h"
#include "console/QtOperatorDialogs.h"
#include "platform/desktop/DataGrid.h"

namespace {

const QString kLoginPrefix = QStringLiteral("exec lab.dbo.lab_login @password = '");
const QString kInvalidCode = QStringLiteral("Invalid code....access denied");
const QString kInsufficientRights = QStringLiteral("User does not have sufficient rights");

template<class T>
T *child(const QWidget *dialog, const char *name)
{
    T *found = dialog->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

QLabel *infoLine(const QWidget *dialog) { return child<QLabel>(dialog, "lbl_Info"); }
QLineEdit *passwordBox(const QWidget *dialog) { return child<QLineEdit>(dialog, "txt_password"); }

// What the operator does with a dialog once it is on screen.
enum class Answer { OkButton, CancelButton, EnterKey, EscapeKey, WindowFrame };

void answer(QDialog &dialog, QPushButton *ok, QPushButton *cancel, Answer how)
{
    switch (how) {
    case Answer::OkButton:
        QTest::mouseClick(ok, Qt::LeftButton);
        break;
    case Answer::CancelButton:
        QTest::mouseClick(cancel, Qt::LeftButton);
        break;
    case Answer::EnterKey:
        QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Return);
        break;
    case Answer::EscapeKey:
        QTest::keyClick(&dialog, Qt::Key_Escape);
        break;
    case Answer::WindowFrame:
        dialog.close();
        break;
    }
}

// Runs `act` on the modal dialog as soon as its exec() has shown it.
void whenModal(std::function<void(QWidget *)> act)
{
    QTimer::singleShot(0, [act] {
        QWidget *modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        act(modal);
    });
}

ResultSetPtr loginRow(const DbValue &rights, const QString &labCode = QStringLiteral("TORLAB"),
                      const QString &empNum = QStringLiteral("4711"))
{
    return std::make_shared<ResultSet>(
        QStringList{QStringLiteral("FG_CUSTSRV_RES"), QStringLiteral("LABCODE"), QStringLiteral("EMP_NUM")},
        std::vector<ResultSet::Row>{{rights, DbValue::fromText(labCode), DbValue::fromText(empNum)}});
}

// A logged-out station in front of a LIMS that answers the login with `loginAnswer`
// (null: the statement fails) and every work-list query with an empty list.
class ConsoleStation
{
public:
    ConsoleStation()
    {
        fixture.load();
        fixture.scripted->responder = [this](const QString &sql) {
            if (sql.startsWith(kLoginPrefix)) {
                if (!loginAnswer)
                    return ScriptedDbConnection::error(QStringLiteral("Login failed"));
                ScriptedDbConnection::Reply reply;
                reply.result = std::make_shared<ResultSet>(*loginAnswer);
                return reply;
            }
            if (sql.contains(QLatin1String("tbl_Distrib_ActiveClients(")))
                return ScriptedDbConnection::rows({QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"),
                                                   QStringLiteral("ENDUSER_ID"), QStringLiteral("REC_DATE"),
                                                   QStringLiteral("SAMPLES"), QStringLiteral("TOTAL_REPORTS")},
                                                  {});
            return ScriptedDbConnection::ok();
        };
        loginAnswer = *loginRow(DbValue::fromInt(100));
    }

    void login(const QString &password)
    {
        fixture.dialogs.passwords << password;
        QTest::mouseClick(button("cmd_Access"), Qt::LeftButton);
    }

    QPushButton *button(const char *name) const { return fixture.control<QPushButton>(name); }
    Form_HardCopy &form() { return *fixture.form; }
    QStringList &executed() { return fixture.scripted->executed; }
    QStringList statementsStartingWith(const QString &prefix) const
    {
        QStringList found;
        for (const QString &sql : fixture.scripted->executed) {
            if (sql.startsWith(prefix))
                found << sql;
        }
        return found;
    }
    bool workListLoaded() const
    {
        for (const QString &sql : fixture.scripted->executed) {
            if (sql.contains(QLatin1String("tbl_Distrib_ActiveClients(")) && sql.contains(QLatin1String("'HARD_COPY', ")))
                return true;
        }
        return false;
    }

    // The controls that stay disabled until a login, and whether each is enabled. (The
    // grid, also enabled by the login, may be enabled before it.)
    QList<bool> lockedControls() const
    {
        QList<bool> enabled{button("cmd_Automation")->isEnabled(), button("cmd_Printer")->isEnabled(),
                            button("cmd_View")->isEnabled(),
                            fixture.control<QComboBox>("cbo_Freq_HardCopy")->isEnabled()};
        for (QRadioButton *option : fixture.form->opt_FilterRating)
            enabled << option->isEnabled();
        return enabled;
    }

    StationFixture fixture;
    std::optional<ResultSet> loginAnswer;
};

} // namespace

class ConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    // Form_DistribAction
    void actionDialogAnswersWithTheChosenCodeWord_data();
    void actionDialogAnswersWithTheChosenCodeWord();
    void actionDialogNamesTheClientInBoldArial();
    void actionDialogWithoutClientLeavesTheInfoLineBlank();
    // Form_Password
    void passwordDialogAnswersWithTheTypedTextOnlyOnOk_data();
    void passwordDialogAnswersWithTheTypedTextOnlyOnOk();
    void passwordDialogHidesTheTypedCharacters();
    void realDialogsAskModallyAndAreDeletedAfterTheAnswer();

    // Login
    void loginSendsTheTrimmedPasswordWithQuotesDoubled_data();
    void loginSendsTheTrimmedPasswordWithQuotesDoubled();
    void emptyPasswordSendsNothing();
    void loginOutcomeDependsOnTheRightsValue_data();
    void loginOutcomeDependsOnTheRightsValue();
    void successfulLoginUnlocksTheWindowForGood();
    void successfulLoginLoadsTheCustomWorkList();
    void failedLoginCanBeRepeated();
    void unreachableLimsEndsTheLoginWithAMessage();
    // Resume record
    void resumeRecordIsTakenUpOnlyWhenItsOwnAndRecent_data();
    void resumeRecordIsTakenUpOnlyWhenItsOwnAndRecent();

    // Rating filter and printer options
    void ratingClickReloadsOnlyWhenStoppedOrCountingDown_data();
    void ratingClickReloadsOnlyWhenStoppedOrCountingDown();
    void printerOptionsOpenThePageSetup();

    // Statistics panel
    void elapsedTextIsHoursMinutesSeconds_data();
    void elapsedTextIsHoursMinutesSeconds();
    void elapsedTextCountsSecondBoundaries();
    void setStatisticsWritesOnlyUsableFigures_data();
    void setStatisticsWritesOnlyUsableFigures();
    void resetStatisticsClearsThePanelAndTheSkipLists();
};

void ConsoleTest::actionDialogAnswersWithTheChosenCodeWord_data()
{
    QTest::addColumn<int>("choice"); // -1: options untouched
    QTest::addColumn<Answer>("how");
    QTest::addColumn<QString>("action");
    QTest::newRow("Ok untouched") << -1 << Answer::OkButton << "PRINT";
    QTest::newRow("Enter untouched") << -1 << Answer::EnterKey << "PRINT";
    QTest::newRow("HOLD, Ok") << 1 << Answer::OkButton << "HOLD";
    QTest::newRow("DELETE, Ok") << 2 << Answer::OkButton << "DELETE";
    QTest::newRow("DELETE, then PRINT, Ok") << 0 << Answer::OkButton << "PRINT";
    QTest::newRow("HOLD, Cancel") << 1 << Answer::CancelButton << "";
    QTest::newRow("HOLD, Escape") << 1 << Answer::EscapeKey << "";
    QTest::newRow("closed by the frame") << 2 << Answer::WindowFrame << "";
}

void ConsoleTest::actionDialogAnswersWithTheChosenCodeWord()
{
    QFETCH(int, choice);
    QFETCH(Answer, how);
    QFETCH(QString, action);

    Form_DistribAction dialog;
    dialog.sClient = QStringLiteral("ACME Water");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.opt_Action[0]->isChecked());
    if (choice == 0)
        QTest::mouseClick(dialog.opt_Action[2], Qt::LeftButton);
    if (choice >= 0)
        QTest::mouseClick(dialog.opt_Action[size_t(choice)], Qt::LeftButton);
    QCOMPARE(dialog.opt_Action[size_t(qMax(choice, 0))]->isChecked(), true);

    answer(dialog, dialog.cmd_Action[0], dialog.cmd_Action[1], how);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.sAction, action);
}

void ConsoleTest::actionDialogNamesTheClientInBoldArial()
{
    Form_DistribAction dialog;
    dialog.sClient = QStringLiteral("ACME Water");
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Manual Distribution Actions"));
    QCOMPARE(infoLine(&dialog)->text(), QStringLiteral("CLIENT : ACME Water"));
    const QFont font = infoLine(&dialog)->font();
    QCOMPARE(font.family(), QStringLiteral("Arial"));
    QCOMPARE(font.pointSize(), 10);
    QVERIFY(font.bold());
}

void ConsoleTest::actionDialogWithoutClientLeavesTheInfoLineBlank()
{
    Form_DistribAction dialog;
    dialog.show();
    QVERIFY(infoLine(&dialog)->text().isEmpty());
    QVERIFY(!infoLine(&dialog)->font().bold());
    QTest::mouseClick(dialog.opt_Action[1], Qt::LeftButton);
    QTest::mouseClick(dialog.cmd_Action[0], Qt::LeftButton);
    QCOMPARE(dialog.sAction, QStringLiteral("HOLD"));
}

void ConsoleTest::passwordDialogAnswersWithTheTypedTextOnlyOnOk_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Answer>("how");
    QTest::addColumn<QString>("password");
    QTest::newRow("Ok") << "s3cret" << Answer::OkButton << "s3cret";
    QTest::newRow("Enter") << "s3cret" << Answer::EnterKey << "s3cret";
    QTest::newRow("blanks kept for the caller") << "  s3 cret " << Answer::OkButton << "  s3 cret ";
    QTest::newRow("Ok on an empty box") << "" << Answer::OkButton << "";
    QTest::newRow("Cancel") << "s3cret" << Answer::CancelButton << "";
    QTest::newRow("Escape") << "s3cret" << Answer::EscapeKey << "";
    QTest::newRow("closed by the frame") << "s3cret" << Answer::WindowFrame << "";
}

void ConsoleTest::passwordDialogAnswersWithTheTypedTextOnlyOnOk()
{
    QFETCH(QString, typed);
    QFETCH(Answer, how);
    QFETCH(QString, password);

    Form_Password dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    passwordBox(&dialog)->setFocus();
    QTest::keyClicks(passwordBox(&dialog), typed);
    answer(dialog, dialog.cmd_bttn[0], dialog.cmd_bttn[1], how);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.password, password);
}

void ConsoleTest::passwordDialogHidesTheTypedCharacters()
{
    Form_Password dialog;
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Distribution Access Security"));
    QCOMPARE(child<QLabel>(&dialog, "lbl_Prompt")->text(), QStringLiteral("Enter your LIMS password : "));
    QTest::keyClicks(passwordBox(&dialog), QStringLiteral("abc d"));
    QCOMPARE(passwordBox(&dialog)->displayText(), QStringLiteral("*****"));
}

void ConsoleTest::realDialogsAskModallyAndAreDeletedAfterTheAnswer()
{
    QWidget owner;
    owner.show();
    QtOperatorDialogs dialogs;

    whenModal([](QWidget *modal) {
        auto *dialog = qobject_cast<Form_Password *>(modal);
        QVERIFY(dialog);
        QTest::keyClicks(passwordBox(dialog), QStringLiteral("pw"));
        QTest::mouseClick(dialog->cmd_bttn[0], Qt::LeftButton);
    });
    QCOMPARE(dialogs.askPassword(&owner), QStringLiteral("pw"));

    whenModal([](QWidget *modal) {
        auto *dialog = qobject_cast<Form_DistribAction *>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), modal->parentWidget());
        QCOMPARE(infoLine(dialog)->text(), QStringLiteral("CLIENT : O'Hara Labs"));
        QTest::mouseClick(dialog->opt_Action[2], Qt::LeftButton);
        QTest::mouseClick(dialog->cmd_Action[0], Qt::LeftButton);
    });
    QCOMPARE(dialogs.askAction(&owner, QStringLiteral("O'Hara Labs")), QStringLiteral("DELETE"));

    QVERIFY(owner.findChildren<QDialog *>().isEmpty());
}

void ConsoleTest::loginSendsTheTrimmedPasswordWithQuotesDoubled_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("statement");
    QTest::newRow("plain") << "s3cret" << "exec lab.dbo.lab_login @password = 's3cret'";
    QTest::newRow("blanks around") << "  s3 cret  " << "exec lab.dbo.lab_login @password = 's3 cret'";
    QTest::newRow("blanks only") << "   " << "exec lab.dbo.lab_login @password = ''";
    QTest::newRow("quote") << "o'neil" << "exec lab.dbo.lab_login @password = 'o''neil'";
    QTest::newRow("injection") << "x' or '1'='1"
                               << "exec lab.dbo.lab_login @password = 'x'' or ''1''=''1'";
}

void ConsoleTest::loginSendsTheTrimmedPasswordWithQuotesDoubled()
{
    QFETCH(QString, password);
    QFETCH(QString, statement);
    ConsoleStation station;
    station.login(password);
    QCOMPARE(station.statementsStartingWith(kLoginPrefix), QStringList{statement});
}

void ConsoleTest::emptyPasswordSendsNothing()
{
    ConsoleStation station;
    const int before = station.executed().size();
    station.login(QString());
    QCOMPARE(station.fixture.dialogs.passwordQuestions, 1);
    QCOMPARE(station.executed().size(), before);
    QVERIFY(station.fixture.messages.shown.isEmpty());
    QVERIFY(station.button("cmd_Access")->isEnabled());
}

void ConsoleTest::loginOutcomeDependsOnTheRightsValue_data()
{
    QTest::addColumn<bool>("hasRow");
    QTest::addColumn<DbValue>("rights");
    QTest::addColumn<bool>("granted");
    QTest::addColumn<QString>("message"); // shown to the operator; "*" = any failure text

    QTest::newRow("no such user") << false << DbValue() << false << kInvalidCode;
    QTest::newRow("rights 200") << true << DbValue::fromInt(200) << true << "";
    QTest::newRow("rights 0") << true << DbValue::fromInt(0) << true << "";
    QTest::newRow("rights 201") << true << DbValue::fromInt(201) << false << kInsufficientRights;
    QTest::newRow("rights 200.5 rounds to 200") << true << DbValue::fromReal(200.5) << true << "";
    QTest::newRow("rights 200.6 rounds to 201") << true << DbValue::fromReal(200.6) << false << kInsufficientRights;
    QTest::newRow("rights as text") << true << DbValue::fromText(QStringLiteral(" 150 ")) << true << "";
    QTest::newRow("rights null") << true << DbValue() << false << "*";
    QTest::newRow("rights not a number") << true << DbValue::fromText(QStringLiteral("admin")) << false << "*";
    QTest::newRow("rights beyond 16 bits") << true << DbValue::fromInt(70000) << false << "*";
}

void ConsoleTest::loginOutcomeDependsOnTheRightsValue()
{
    QFETCH(bool, hasRow);
    QFETCH(DbValue, rights);
    QFETCH(bool, granted);
    QFETCH(QString, message);

    ConsoleStation station;
    if (hasRow) {
        station.loginAnswer = *loginRow(rights);
    } else {
        station.loginAnswer = ResultSet({QStringLiteral("FG_CUSTSRV_RES"), QStringLiteral("LABCODE"),
                                         QStringLiteral("EMP_NUM")},
                                        {});
    }
    station.login(QStringLiteral("s3cret"));

    QCOMPARE(!station.button("cmd_Access")->isEnabled(), granted);
    QCOMPARE(station.form().sLabCode, granted ? QStringLiteral("TORLAB") : QString());
    QCOMPARE(station.form().sEmpNum, granted ? QStringLiteral("4711") : QString());
    if (!granted) {
        QVERIFY(!station.lockedControls().contains(true));
        QCOMPARE(station.fixture.messages.shown.size(), 1);
        if (message != QLatin1String("*"))
            QCOMPARE(station.fixture.messages.shown.first(), message);
    } else {
        QVERIFY(!station.lockedControls().contains(false));
        QVERIFY(station.fixture.control<DataGrid>("DataGrid1")->isEnabled());
    }
}

void ConsoleTest::successfulLoginUnlocksTheWindowForGood()
{
    ConsoleStation station;
    station.loginAnswer = *loginRow(DbValue::fromInt(200), QStringLiteral("KPRLAB"), QStringLiteral("0815"));
    QVERIFY(station.button("cmd_Access")->isEnabled());
    QVERIFY(!station.lockedControls().contains(true));

    station.login(QStringLiteral("s3cret"));

    Form_HardCopy &form = station.form();
    QCOMPARE(form.sLabCode, QStringLiteral("KPRLAB"));
    QCOMPARE(form.sEmpNum, QStringLiteral("0815"));
    QVERIFY(!station.button("cmd_Access")->isEnabled());
    QVERIFY(!station.lockedControls().contains(false));
    QVERIFY(station.fixture.control<DataGrid>("DataGrid1")->isEnabled());
    auto *frequency = station.fixture.control<QComboBox>("cbo_Freq_HardCopy");
    QCOMPARE(frequency->currentIndex(), 0);
    QCOMPARE(frequency->currentText(), QStringLiteral("1 Minute"));
    QVERIFY(form.opt_FilterRating[3]->isChecked());
    QCOMPARE(form.opt_FilterRating[3]->text(), QStringLiteral("Custom"));
    QVERIFY(station.fixture.messages.shown.isEmpty());

    // No logout: the login button cannot be pressed again.
    QTest::mouseClick(station.button("cmd_Access"), Qt::LeftButton);
    QCOMPARE(station.fixture.dialogs.passwordQuestions, 1);
}

void ConsoleTest::successfulLoginLoadsTheCustomWorkList()
{
    ConsoleStation station;
    station.login(QStringLiteral("s3cret"));
    QVERIFY2(station.workListLoaded(), qPrintable(station.executed().join(QLatin1Char('\n'))));
    QCOMPARE(station.form().sQueryRating, QStringLiteral("CUSTOM"));
}

void ConsoleTest::failedLoginCanBeRepeated()
{
    ConsoleStation station;
    station.loginAnswer = *loginRow(DbValue::fromInt(250));
    station.login(QStringLiteral("wrong"));
    QVERIFY(station.button("cmd_Access")->isEnabled());
    QCOMPARE(station.fixture.messages.shown, QStringList{kInsufficientRights});

    station.loginAnswer = *loginRow(DbValue::fromInt(10));
    station.login(QStringLiteral("right"));
    QCOMPARE(station.fixture.dialogs.passwordQuestions, 2);
    QVERIFY(!station.button("cmd_Access")->isEnabled());
    QCOMPARE(station.statementsStartingWith(kLoginPrefix).size(), 2);
}

void ConsoleTest::unreachableLimsEndsTheLoginWithAMessage()
{
    ConsoleStation station;
    station.loginAnswer.reset();
    station.login(QStringLiteral("s3cret"));
    QVERIFY(station.button("cmd_Access")->isEnabled());
    QVERIFY(!station.lockedControls().contains(true));
    QVERIFY(station.form().sLabCode.isEmpty());
    QCOMPARE(station.fixture.messages.shown.size(), 1);
    QVERIFY(station.fixture.messages.shown.first().contains(QLatin1String("LIMS database could not be reached")));
}

void ConsoleTest::ratingClickReloadsOnlyWhenStoppedOrCountingDown_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("automation");
    QTest::addColumn<int>("option");
    QTest::addColumn<bool>("reloads");
    QTest::newRow("stopped, All") << "Hardcopy services disabled" << "Start Services" << 0 << true;
    QTest::newRow("stopped, Severe") << "Hardcopy services disabled" << "Start Services" << 1 << true;
    QTest::newRow("counting down, Abnormal") << "Services restart in.....12 sec(s)." << "Stop Services" << 2 << true;
    QTest::newRow("running, Severe") << "Hardcopy services running" << "Stop Services" << 1 << false;
    QTest::newRow("wait mode, All") << "Hardcopy services running in wait mode" << "Stop Services" << 0 << false;
    QTest::newRow("Restart capitalised") << "Services Restart in.....12 sec(s)." << "Stop Services" << 2 << false;
    QTest::newRow("stopping") << "Hardcopy services running" << "Stopping Services" << 1 << false;
}

void ConsoleTest::ratingClickReloadsOnlyWhenStoppedOrCountingDown()
{
    QFETCH(QString, status);
    QFETCH(QString, automation);
    QFETCH(int, option);
    QFETCH(bool, reloads);

    ConsoleStation station;
    station.login(QStringLiteral("s3cret"));
    Form_HardCopy &form = station.form();
    station.fixture.control<QLabel>("lbl_ServDesc")->setText(status);
    station.button("cmd_Automation")->setText(automation);
    station.executed().clear();
    station.fixture.messages.shown.clear();

    // On the indicator: a radio button answers clicks only on its indicator and caption.
    QRadioButton *radio = form.opt_FilterRating[size_t(option)];
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));

    QVERIFY(form.opt_FilterRating[size_t(option)]->isChecked());
    QVERIFY(station.fixture.messages.shown.isEmpty());
    if (reloads) {
        QVERIFY(station.workListLoaded());
        QCOMPARE(form.sQueryRating, form.opt_FilterRating[size_t(option)]->property("Tag").toString());
    } else {
        QVERIFY(station.executed().isEmpty());
    }
}

void ConsoleTest::printerOptionsOpenThePageSetup()
{
    ConsoleStation station;
    station.login(QStringLiteral("s3cret"));
    QTest::mouseClick(station.button("cmd_Printer"), Qt::LeftButton);
    QCOMPARE(station.fixture.browser.pageSetups, 1);
}

void ConsoleTest::elapsedTextIsHoursMinutesSeconds_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("equal instants") << qint64(0) << "00:00:00";
    QTest::newRow("59 s") << qint64(59) << "00:00:59";
    QTest::newRow("one hour") << qint64(3600) << "01:00:00";
    QTest::newRow("mixed") << qint64(3725) << "01:02:05";
    QTest::newRow("ten hours") << qint64(36000) << "10:00:00";
    QTest::newRow("400000 s") << qint64(400000) << "111:06:40";
    QTest::newRow("beyond 32 bits of seconds") << qint64(5000000000) << "1388888:53:20";
    QTest::newRow("negative, under a minute") << qint64(-5) << "00:00:00";
    QTest::newRow("negative, over an hour") << qint64(-3661) << "00:00:00";
}

void ConsoleTest::elapsedTextIsHoursMinutesSeconds()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    const QDateTime from(QDate(2026, 3, 2), QTime(9, 5));
    QCOMPARE(Form_HardCopy::Get_ElapsedText(from, from.addSecs(seconds)), text);
}

void ConsoleTest::elapsedTextCountsSecondBoundaries()
{
    const QDateTime from(QDate(2026, 3, 2), QTime(9, 5, 0, 900));
    QCOMPARE(Form_HardCopy::Get_ElapsedText(from, from.addMSecs(200)), QStringLiteral("00:00:01"));
    QCOMPARE(Form_HardCopy::Get_ElapsedText(from, from.addMSecs(-800)), QStringLiteral("00:00:00"));
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 5, 0, 100));
    QCOMPARE(Form_HardCopy::Get_ElapsedText(start, start.addMSecs(800)), QStringLiteral("00:00:00"));
}

void ConsoleTest::setStatisticsWritesOnlyUsableFigures_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<DbValue>("value");
    QTest::addColumn<QString>("caption"); // "unchanged" when the label keeps its text

    QTest::newRow("total 37") << 0 << DbValue::fromInt(37) << "37 reports";
    QTest::newRow("total text with blanks") << 0 << DbValue::fromText(QStringLiteral(" 37 ")) << "37 reports";
    QTest::newRow("total real") << 0 << DbValue::fromReal(37.5) << "37.5 reports";
    QTest::newRow("total not numeric") << 0 << DbValue::fromText(QStringLiteral("many")) << "unchanged";
    QTest::newRow("total null") << 0 << DbValue() << "unchanged";
    QTest::newRow("elapsed trimmed") << 1 << DbValue::fromText(QStringLiteral(" 00:01:02 ")) << "00:01:02";
    QTest::newRow("elapsed any text") << 1 << DbValue::fromText(QStringLiteral("soon")) << "soon";
    QTest::newRow("elapsed null") << 1 << DbValue() << "unchanged";
    QTest::newRow("processed") << 2 << DbValue::fromInt(12) << "12";
    QTest::newRow("processed not numeric") << 2 << DbValue::fromText(QStringLiteral("12a")) << "unchanged";
    QTest::newRow("remaining empty text") << 3 << DbValue::fromText(QString()) << "";
    QTest::newRow("remaining null") << 3 << DbValue() << "unchanged";
    QTest::newRow("batch text") << 4 << DbValue::fromText(QStringLiteral(" 7")) << "7";
    QTest::newRow("batch empty text") << 4 << DbValue::fromText(QString()) << "unchanged";
}

void ConsoleTest::setStatisticsWritesOnlyUsableFigures()
{
    QFETCH(int, index);
    QFETCH(DbValue, value);
    QFETCH(QString, caption);

    StationFixture fixture;
    Form_HardCopy &form = fixture.load();
    const QString before = QStringLiteral("before");
    for (QLabel *label : form.lblStatsValue)
        label->setText(before);
    DbValue figures[5];
    figures[index] = value;
    form.Set_Statistics(figures[0], figures[1], figures[2], figures[3], figures[4]);

    for (int i = 0; i < 5; ++i) {
        const QString expected = i == index && caption != QLatin1String("unchanged") ? caption : before;
        QCOMPARE(form.lblStatsValue[size_t(i)]->text(), expected);
    }
}

void ConsoleTest::resetStatisticsClearsThePanelAndTheSkipLists()
{
    StationFixture fixture;
    Form_HardCopy &form = fixture.load();
    form.Set_Statistics(DbValue::fromInt(37), DbValue::fromText(QStringLiteral("00:10:00")), DbValue::fromInt(5),
                        DbValue::fromText(QStringLiteral("00:20:00")), DbValue::fromInt(3));
    form.sSkipContactId = QStringList{QStringLiteral("17"), QStringLiteral("25")};
    form.sSkipRecDate = QStringList{QStringLiteral("3/1/2026"), QStringLiteral("3/2/2026")};

    form.Reset_Statistics();

    QStringList captions;
    for (QLabel *label : form.lblStatsValue)
        captions << label->text();
    QCOMPARE(captions, (QStringList{QString(), QStringLiteral("00:00:00"), QString(), QStringLiteral("00:00:00"),
                                    QStringLiteral("0")}));
    QVERIFY(form.sSkipContactId.isEmpty());
    QVERIFY(form.sSkipRecDate.isEmpty());
}

using RecordTweak = std::function<void(const QString &path)>;
Q_DECLARE_METATYPE(RecordTweak)

void ConsoleTest::resumeRecordIsTakenUpOnlyWhenItsOwnAndRecent_data()
{
    QTest::addColumn<bool>("servicesStarted");
    QTest::addColumn<qint64>("aliveHoursAgo"); // the record's own time
    QTest::addColumn<qint64>("heartbeatHoursAgo"); // the status record's last heartbeat
    QTest::addColumn<QString>("writtenFor"); // the LIMS the writer's station was made for
    QTest::addColumn<RecordTweak>("tweak");
    QTest::addColumn<QString>("why"); // empty: taken up
    const RecordTweak none = [](const QString &) {};
    const QString own = QStringLiteral("sqlhost,1433");
    QTest::newRow("its own, alive an hour ago") << true << qint64(1) << qint64(1) << own << none << QString();
    QTest::newRow("services stopped") << false << qint64(1) << qint64(1) << own << none
                                      << QStringLiteral("the services were not started when the station ended");
    QTest::newRow("alive 73 hours ago") << true << qint64(73) << qint64(73) << own << none
                                        << QStringLiteral("more than 72 hours ago");
    // The later of the two times says when the station was last alive.
    QTest::newRow("record 80 hours old, heartbeat an hour ago") << true << qint64(80) << qint64(1) << own << none
                                                               << QString();
    QTest::newRow("record an hour old, heartbeat 80 hours ago") << true << qint64(1) << qint64(80) << own << none
                                                               << QString();
    // The clock set back two hours (a flat battery) after the record was written.
    QTest::newRow("written ahead of the clock") << true << qint64(-2) << qint64(1) << own << none
                                                << QStringLiteral("the record's real age is unknown");
    QTest::newRow("made for another LIMS") << true << qint64(1) << qint64(1) << QStringLiteral("otherhost,1433") << none
                                           << QStringLiteral("it was made for another LIMS (otherhost,1433)");
    QTest::newRow("cut short") << true << qint64(1) << qint64(1) << own
                               << RecordTweak([](const QString &path) { QFile::resize(path, 40); })
                               << QStringLiteral("it is cut short or damaged (40 bytes");
    QTest::newRow("others may write it")
        << true << qint64(1) << qint64(1) << own
        << RecordTweak([](const QString &path) { QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOther); })
        << QStringLiteral("it is not the station's own (others may read or write it (mode 0602))");
}

void ConsoleTest::resumeRecordIsTakenUpOnlyWhenItsOwnAndRecent()
{
    QFETCH(bool, servicesStarted);
    QFETCH(qint64, aliveHoursAgo);
    QFETCH(qint64, heartbeatHoursAgo);
    QFETCH(QString, writtenFor);
    QFETCH(RecordTweak, tweak);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/resume.json"));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
    ResumeSession session { QStringLiteral("QVLAB"), QStringLiteral("1001"), QStringLiteral("Severe"),
        QStringLiteral("5 Minutes"), false, servicesStarted, now.addDays(-2) };
    QVERIFY(ResumeRecord(path, writtenFor, QStringLiteral("station-host")).keep(session));
    QCOMPARE(QFile::permissions(path) & 0x0FFF, QFile::ReadUser | QFile::WriteUser); // 0600
    tweak(path);

    const ResumeRecord reader(path, QStringLiteral("sqlhost,1433"), QStringLiteral("station-host"));
    // The record was written just now: it is judged aliveHoursAgo later.
    const QDateTime judged = now.addSecs(aliveHoursAgo * 3600);
    const ResumeRecord::Verdict verdict = reader.judge(judged, judged.addSecs(-heartbeatHoursAgo * 3600), 72);
    if (why.isEmpty()) {
        QVERIFY2(verdict.session.has_value(), qPrintable(verdict.why));
        QCOMPARE(*verdict.session, session);
    } else {
        QVERIFY(!verdict.session.has_value());
        QVERIFY2(verdict.why.contains(why), qPrintable(verdict.why));
    }
}

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
