// The application object.
#include "gui/quillet_app.h"

#include "gui/controls.h"
#include "gui/main_dialog.h"
#include "gui/qsettings_store.h"
#include "gui/texts.h"
#include "pxlib.h"

#include <QIcon>

#include <memory>

CQuilletApp::CQuilletApp(int& argc, char** argv) : QApplication(argc, argv)
{
    InitializeLibrary();
    setOrganizationName(QStringLiteral("Brackenfold"));
    setApplicationName(QStringLiteral("Quillet"));
    setDesktopFileName(QStringLiteral("quillet"));
    quillet::gui::InitResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/128.svg")));
    m_translations = quillet::gui::InstallTranslations(QLocale());
}

CQuilletApp::~CQuilletApp()
{
    ShutdownLibrary();
}

int CQuilletApp::Run()
{
    quillet::gui::QtSettingsStore store;
    auto dialog = std::make_unique<CMainDialog>(store);
    dialog->exec();
    return 0;
}
