// Message boxes of the dialogs.
#include "gui/controls.h"

#include "res/strings.h"

namespace quillet::gui {

QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons, const QString& details)
{
    QMessageBox box(icon, QString::fromLatin1(res::kMessageCaption), text, buttons, parent);
    box.setDetailedText(details);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace quillet::gui

// Resources compiled into a static library are registered by hand, from the global namespace
// where the resource compiler puts its function.
static void RegisterResources()
{
    Q_INIT_RESOURCE(quillet);
}

void quillet::gui::InitResources()
{
    static const bool once = (RegisterResources(), true);
    (void)once;
}
