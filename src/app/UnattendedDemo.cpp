#include "app/UnattendedDemo.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include "app/Form_HardCopy.h"
#include "app/ServiceText.h"
#include "app/StationRuntime.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/StatusCheck.h"
#include "monitoring/StatusRecord.h"
#include "platform/desktop/OperatorDialogs.h"
#include "register/RegisterSettings.h"
#include "ui_Form_HardCopy.h"

namespace {

class DemoOperator : public OperatorDialogs
{
public:
    explicit DemoOperator(QString password) : m_password(std::move(password)) {}
    QString askPassword(QWidget *) override { return m_password; }
    // With the services running nobody is asked about a client; should it happen, the
    // client is left alone.
    QString askAction(QWidget *, const QString &) override { return QString(); }

private:
    QString m_password;
};

int pdfCount(const QString &folder)
{
    return int(QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files).size());
}

void runCycle(StationRuntime &station, const QString &screenshotPath)
{
    Form_HardCopy &form = station.window();
    QTextStream out(stdout);
    const QString folder = station.settings().pdfFolder;
    const int pdfsBefore = pdfCount(folder);

    form.runEvent("cmd_Access_Click", [&] { form.cmd_Access_Click(); });
    QComboBox *frequency = form.ui->cbo_Freq_HardCopy;
    frequency->setCurrentIndex(frequency->findText(ServiceText::OnceOnly));
    // "Once only" starts one run at once; it has ended when the click returns.
    form.runEvent("cbo_Freq_HardCopy_Click", [&] { form.cbo_Freq_HardCopy_Click(); });
    const bool ended = form.ui->cmd_Automation->text() == ServiceText::StartServices;

    const bool saved = form.grab().save(screenshotPath);
    station.monitor().publish();
    const StationStatus status = StatusRecord(station.monitor().statusPath()).read().value_or(StationStatus());
    const StatusCheck::Result check = StatusCheck().check(status, QDateTime::currentDateTime());

    out << "One unattended demo cycle: " << (ended ? "the run has ended" : "the run did not end") << ".\n"
        << "  printed pages (PDF): " << QDir::toNativeSeparators(folder) << " (" << pdfCount(folder) - pdfsBefore
        << " new)\n"
        << (status.printerTrouble.isEmpty() ? QString() : QStringLiteral("  the printer:         %1\n").arg(status.printerTrouble))
        << "  the window:          "
        << (saved ? QDir::toNativeSeparators(screenshotPath) : QStringLiteral("(no picture could be saved)")) << "\n"
        << "  status record:       " << QDir::toNativeSeparators(station.monitor().statusPath()) << "\n"
        << "  the register:        " << QDir::toNativeSeparators(RegisterSettings::from(station.settings()).file)
        << " (hardcopy-station --demo --register)\n"
        << "  hardcopy-station --status says:\n    " << check.line << Qt::endl;
    QApplication::exit(ended && saved ? 0 : 1);
}

} // namespace

namespace UnattendedDemo {

std::unique_ptr<OperatorDialogs> demoOperator(const QString &password)
{
    return std::make_unique<DemoOperator>(password);
}

void start(StationRuntime &station, const QString &screenshotPath)
{
    QTimer::singleShot(0, qApp, [&station, screenshotPath] { runCycle(station, screenshotPath); });
}

} // namespace UnattendedDemo
