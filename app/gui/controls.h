// Finding a dialog's control by the number its layout gives it, and the message boxes.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QVariant>
#include <QWidget>

namespace quillet::gui {

// The control of `root` whose "id" property is `id`, or null.
template <class Control = QWidget>
Control* FindControl(const QWidget* root, int id)
{
    for (Control* control : root->findChildren<Control*>()) {
        const QVariant value = control->property("id");
        if (value.isValid() && value.toInt() == id)
            return control;
    }
    return nullptr;
}

// A modal message box with the program's window title, and a "Details" part when `details`
// is not empty; gives the button pressed.
QMessageBox::StandardButton ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        const QString& details = QString());

// The title of the program's windows and message boxes.
QString MessageCaption();

// Enter presses the box's default button wherever the focus is: its other buttons (Show
// Details among them) are pressed with Space or a click only.
void KeepEnterOnDefault(QMessageBox& box);

// Registers the icons and layouts compiled into the program; safe to call more than once.
void InitResources();

}  // namespace quillet::gui
