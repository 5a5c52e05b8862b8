// The About box.
#include "gui/about_dialog.h"

#include "core/version.h"
#include "gui/controls.h"
#include "res/strings.h"

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    quillet::gui::InitResources();
    m_ui.setupUi(this);
    m_ui.versionLabel->setText(tr("Quillet version %1").arg(QStringLiteral(QUILLET_VERSION)));
    m_ui.addressLabel->setText(QString::fromLatin1(quillet::res::kMakerAddress));
    setFixedSize(sizeHint());
}
