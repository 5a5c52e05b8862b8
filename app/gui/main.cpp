// Starts Quillet.
#include "core/version.h"
#include "gui/quillet_app.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>

namespace {

// --help and --version answer on the terminal before any window or display is needed.
bool AnsweredOnTerminal(int argc, char** argv, int& status)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Quillet: makes a thumbnail of every picture in a folder.\n"
        "Pick the source and destination folders, the size and the switches in the window and "
        "press START. The settings are kept in ~/.config/Brackenfold/Quillet.conf; "
        "quillet-batch does the same job from a shell."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this text and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    // Qt's own options (-platform, -style ...) pass through to the application.
    if (!parser.parse(arguments))
        return false;
    if (parser.isSet(help)) {
        std::fputs("Usage: quillet [OPTION]...\n", stdout);
        std::fputs(parser.helpText().section(QLatin1Char('\n'), 1).toLocal8Bit().constData(), stdout);
        status = 0;
        return true;
    }
    if (parser.isSet(version)) {
        std::printf("quillet %s\n%s\n%s\n", QUILLET_VERSION, QUILLET_COPYRIGHT, QUILLET_LICENCE);
        status = 0;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (AnsweredOnTerminal(argc, argv, status))
        return status;
    CQuilletApp app(argc, argv);
    return app.Run();
}
