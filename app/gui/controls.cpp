// Message boxes of the dialogs.
#include "gui/controls.h"

#include "res/strings.h"

#include <QPushButton>

namespace quillet::gui {

QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons, const QString& details)
{
    QMessageBox box(icon, MessageCaption(), text, buttons, parent);
    box.setDetailedText(details);
    KeepEnterOnDefault(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString MessageCaption()
{
    return QString::fromLatin1(res::kMessageCaption);
}

void KeepEnterOnDefault(QMessageBox& box)
{
    // OK or Yes, as the box itself would choose, else the first other button.
    auto accepts = [&box](QAbstractButton* button) {
        return box.buttonRole(button) == QMessageBox::AcceptRole || box.buttonRole(button) == QMessageBox::YesRole;
    };
    QPushButton* fallback = nullptr;
    for (QAbstractButton* button : box.buttons()) {
        auto* push = qobject_cast<QPushButton*>(button);
        if (push == nullptr)
            continue;
        const QMessageBox::ButtonRole role = box.buttonRole(button);
        if (role == QMessageBox::ActionRole || role == QMessageBox::InvalidRole)
            push->setAutoDefault(false);
        else if (fallback == nullptr || (accepts(push) && !accepts(fallback)))
            fallback = push;
    }
    if (box.defaultButton() == nullptr && fallback != nullptr)
        box.setDefaultButton(fallback);
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
