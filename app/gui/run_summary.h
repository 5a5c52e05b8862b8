// The window that ends every run: how it ended, what went wrong if anything, and a way to
// the thumbnails.
#pragma once

#include <QMessageBox>
#include <QString>

#include <string>

namespace quillet::gui {

// The core's report texts through the translation system, in the "RunReport" context.
std::string TranslateReport(const char* source, long n);

// Shows the summary modally, with the details when there are any; "Open folder" opens
// `folder` in the desktop's file manager.
void ShowRunSummary(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& details,
                    const QString& folder);

}  // namespace quillet::gui
