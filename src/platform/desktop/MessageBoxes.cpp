#include "platform/desktop/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "platform/Log.h"

void QtMessageBoxes::show(const QString &text)
{
    QWidget *owner = (m_owner && m_owner->isVisible()) ? m_owner : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok, owner);
    // The box keeps the event loop, and so the keep-alive, turning while nothing else
    // moves: with nobody there to click, it would hold the station for ever.
    QTimer closer;
    if (m_unattended && m_unattended()) {
        qCWarning(lcConsole).noquote() << "message shown while the station runs unattended; it closes by itself in"
                                       << kUnattendedCloseSeconds << "s:" << QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (m_shownUnattended)
            m_shownUnattended(text);
        box.setInformativeText(QStringLiteral("The station runs unattended: this message closes by itself in %1 "
                                              "minutes.")
                                   .arg(kUnattendedCloseSeconds / 60));
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout, &box, &QMessageBox::accept);
        closer.start(kUnattendedCloseSeconds * 1000);
    }
    box.exec();
}
