// The About box.
#pragma once

#include "ui_about_dialog.h"

#include <QDialog>

class CAboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDialog(QWidget* parent = nullptr);

private:
    Ui::CAboutDialog m_ui;
};
