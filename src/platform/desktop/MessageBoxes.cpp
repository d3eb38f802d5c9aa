#include "platform/desktop/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

void QtMessageBoxes::show(const QString &text)
{
    QWidget *owner = (m_owner && m_owner->isVisible()) ? m_owner : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok, owner);
    box.exec();
}
