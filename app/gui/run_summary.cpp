// The summary after a run.
#include "gui/run_summary.h"

#include "core/run_report.h"
#include "gui/controls.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

namespace quillet::gui {

std::string TranslateReport(const char* source, long n)
{
    const QString translated = QCoreApplication::translate("RunReport", source, nullptr, int(n));
    // Without a translation the English plural endings are the core's to choose.
    if (translated == QString::fromUtf8(source).replace(QStringLiteral("%n"), QString::number(n)))
        return EnglishText(source, n);
    return translated.toStdString();
}

void ShowRunSummary(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& details,
                    const QString& folder)
{
    QMessageBox box(icon, MessageCaption(), text, QMessageBox::Ok, parent);
    QPushButton* open = box.addButton(QCoreApplication::translate("RunSummary", "Open folder"), QMessageBox::ActionRole);
    open->setObjectName(QStringLiteral("openFolderButton"));
    box.setDetailedText(details);
    KeepEnterOnDefault(box);
    box.exec();
    if (box.clickedButton() == open)
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace quillet::gui
