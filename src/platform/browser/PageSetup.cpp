#include "platform/browser/PageSetup.h"

#include <QMarginsF>
#include <QPageSize>
#include <QPrinter>
#include <QSettings>

#include "platform/DurableFile.h"
#include "platform/Log.h"

namespace {

const QString kSettingsGroup = QStringLiteral("PageSetup");

} // namespace

QString PageSetup::orientationName(QPageLayout::Orientation orientation)
{
    return orientation == QPageLayout::Landscape ? QStringLiteral("Landscape") : QStringLiteral("Portrait");
}

bool PageSetup::savePageLayout(const QPageLayout &layout, QString *error)
{
    if (!layout.isValid())
        return false;
    // The settings file is replaced only by a whole new one: a full disk leaves the old
    // page setup, never an empty file.
    FileWriteError failure;
    const bool saved = saveSettingsDurably(QSettings().fileName(), [&layout](QSettings &settings) {
        settings.beginGroup(kSettingsGroup);
        const QPageSize size = layout.pageSize();
        const QSizeF points = size.definitionSize();
        settings.setValue(QStringLiteral("pageSizeId"), int(size.id()));
        settings.setValue(QStringLiteral("pageSizeName"), size.name());
        settings.setValue(QStringLiteral("pageWidth"), points.width());
        settings.setValue(QStringLiteral("pageHeight"), points.height());
        settings.setValue(QStringLiteral("pageSizeUnits"), int(size.definitionUnits()));
        settings.setValue(QStringLiteral("orientation"), orientationName(layout.orientation()));
        settings.setValue(QStringLiteral("marginUnits"), int(layout.units()));
        const QMarginsF margins = layout.margins();
        settings.setValue(QStringLiteral("marginLeft"), margins.left());
        settings.setValue(QStringLiteral("marginTop"), margins.top());
        settings.setValue(QStringLiteral("marginRight"), margins.right());
        settings.setValue(QStringLiteral("marginBottom"), margins.bottom());
        settings.endGroup();
    }, &failure);
    if (!saved && error)
        *error = failure.text;
    return saved;
}

QPageLayout PageSetup::savedPageLayout()
{
    QSettings settings;
    settings.beginGroup(kSettingsGroup);
    if (!settings.contains(QStringLiteral("pageSizeId")))
        return {};
    const auto id = QPageSize::PageSizeId(settings.value(QStringLiteral("pageSizeId")).toInt());
    QPageSize size;
    if (id != QPageSize::Custom && id >= QPageSize::PageSizeId(0) && id <= QPageSize::LastPageSize) {
        size = QPageSize(id);
    } else {
        const QSizeF definition(settings.value(QStringLiteral("pageWidth")).toDouble(),
                                settings.value(QStringLiteral("pageHeight")).toDouble());
        const auto units = QPageSize::Unit(settings.value(QStringLiteral("pageSizeUnits")).toInt());
        size = QPageSize(definition, units, settings.value(QStringLiteral("pageSizeName")).toString());
    }
    const QPageLayout::Orientation orientation =
        settings.value(QStringLiteral("orientation")).toString() == QStringLiteral("Landscape") ? QPageLayout::Landscape
                                                                                                : QPageLayout::Portrait;
    const auto units = QPageLayout::Unit(settings.value(QStringLiteral("marginUnits")).toInt());
    const QMarginsF margins(settings.value(QStringLiteral("marginLeft")).toDouble(),
                            settings.value(QStringLiteral("marginTop")).toDouble(),
                            settings.value(QStringLiteral("marginRight")).toDouble(),
                            settings.value(QStringLiteral("marginBottom")).toDouble());
    if (!size.isValid())
        return {};
    return QPageLayout(size, orientation, margins, units);
}

void PageSetup::forgetPageLayout()
{
    FileWriteError failure;
    if (!saveSettingsDurably(QSettings().fileName(), [](QSettings &settings) { settings.remove(kSettingsGroup); },
                             &failure))
        qCWarning(lcConsole).noquote() << "page setup not reset:" << failure.text;
}

void PageSetup::applyPageSetup(QPrinter &printer, int resolution)
{
    printer.setResolution(resolution > 0 ? resolution : 300);
    const QPageLayout layout = savedPageLayout();
    if (!layout.isValid())
        return;
    // A printer refuses margins below its hardware minimum; it then keeps its own.
    if (!printer.setPageLayout(layout)) {
        printer.setPageSize(layout.pageSize());
        printer.setPageOrientation(layout.orientation());
    }
}

QPageLayout PageSetup::pdfPageLayout()
{
    const QPageLayout layout = savedPageLayout();
    if (layout.isValid())
        return layout;
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                       QPageLayout::Millimeter);
}
