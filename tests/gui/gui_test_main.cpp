// Runs the dialog test classes on the offscreen platform with the store in a scratch folder.
#include "gui_support.h"

#include "pxlib.h"

#include <QColor>
#include <QImage>
#include <QSettings>
#include <QTest>

#include <cstdio>

namespace guitest {

bool g_modalTimedOut = false;

std::map<std::string, Factory>& Registry()
{
    static std::map<std::string, Factory> registry;
    return registry;
}

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        texts << box->text();
        QAbstractButton* button = box->button(m_answer);
        (button != nullptr ? button : box->button(QMessageBox::Ok))->click();
    });
    m_timer.start();
}

QString MakeJpegs(const QString& folder, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QImage image(96, 64, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 200, 220));
        image.save(QStringLiteral("%1/p%2.jpg").arg(folder).arg(i), "JPG");
    }
    return folder;
}

QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

void ClearStore()
{
    QSettings settings(QStringLiteral("Brackenfold"), QStringLiteral("Quillet"));
    settings.clear();
    settings.sync();
}

}  // namespace guitest

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    InitializeLibrary();

    // gui_tests [class] [QtTest options...]: no class runs them all.
    QStringList arguments = app.arguments();
    std::string only;
    if (arguments.size() > 1 && !arguments[1].startsWith('-')) {
        only = arguments[1].toStdString();
        arguments.removeAt(1);
    }
    int failures = 0;
    bool ran = false;
    for (const auto& [name, factory] : guitest::Registry()) {
        if (!only.empty() && name != only)
            continue;
        ran = true;
        std::unique_ptr<QObject> test = factory();
        failures += QTest::qExec(test.get(), arguments);
    }
    if (!ran) {
        std::fprintf(stderr, "no test class named %s\n", only.c_str());
        return 2;
    }
    ShutdownLibrary();
    return failures == 0 ? 0 : 1;
}
