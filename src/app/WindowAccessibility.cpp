#include "app/WindowAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace {

QAccessibleInterface *stationWindowInterface(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (className != QLatin1String("Form_HardCopy") || !widget || !widget->isWindow())
        return nullptr;
    // A window's name is its title, so the caption reaches the tools as it stands.
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void presentStationWindowAsWindow()
{
    static bool installed = false;
    if (installed)
        return;
    QAccessible::installFactory(stationWindowInterface);
    installed = true;
}
