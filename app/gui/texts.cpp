// The dialogs' texts in the user's language.
#include "gui/texts.h"

#include "core/folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace quillet::gui {
namespace {

// The core's fixed texts shown in the dialogs, listed for the translation tools; the core
// keeps its English for the terminal.
[[maybe_unused]] const char* const kCoreTexts[] = {
    QT_TRANSLATE_NOOP("Quillet", "No files to process"),
    QT_TRANSLATE_NOOP("Quillet", "Destination path is the same as source."),
    QT_TRANSLATE_NOOP("Quillet", "Please choose a destination folder."),
    QT_TRANSLATE_NOOP("Quillet", "Please enter a thumbnail size of at least 1 x 1."),
    QT_TRANSLATE_NOOP("Quillet", "Please enter a thumbnail size of at most 65500 x 65500: a JPEG file cannot be larger."),
    QT_TRANSLATE_NOOP("RunReport", "The destination folder is gone or can no longer be written to; the run was stopped."),
    QT_TRANSLATE_NOOP("Quillet", "&About Quillet..."),
    QT_TRANSLATE_NOOP("Quillet", "Processing"),
    QT_TRANSLATE_NOOP("Quillet", "Cancelling\u2026"),
    QT_TRANSLATE_NOOP("Quillet", "Please enter a positive integer."),
};

}  // namespace

QString Text(const char* english)
{
    return QCoreApplication::translate("Quillet", english);
}

QString CreateQuestion(const std::string& path)
{
    return QCoreApplication::translate("Quillet",
                                       "The folder:\n\n%1\n\ndoes not exist. Do you want the folder to be created?")
        .arg(QString::fromStdString(path));
}

QString FolderError(int result, const std::string& path)
{
    const QString folder = QString::fromStdString(path);
    if (result == kFolderInvalid)
        return QCoreApplication::translate("Quillet", "The folder:\n\n%1\n\nis invalid. Please reenter.").arg(folder);
    return QCoreApplication::translate("Quillet", "The folder:\n\n%1\n\ncan not be created. Please double check.")
        .arg(folder);
}

QString NotWritable(const std::string& folder, const std::string& reason)
{
    return QCoreApplication::translate("Quillet", "Thumbnails can not be written to the destination folder:\n\n%1\n\n%2.")
        .arg(QString::fromStdString(folder), QString::fromStdString(reason));
}

QString NoBrowser(const QString& address)
{
    return QCoreApplication::translate("Quillet", "No web browser could be started to open %1").arg(address);
}

QString FileLine(uint32_t position, uint32_t count, const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return QCoreApplication::translate("Quillet", "%1 of %2: %3")
        .arg(uint64_t{position} + 1)
        .arg(count)
        .arg(QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1)));
}

std::vector<std::unique_ptr<QTranslator>> InstallTranslations(const QLocale& locale)
{
    std::vector<std::unique_ptr<QTranslator>> installed;
    if (locale.language() == QLocale::English || locale.language() == QLocale::C)
        return installed;
    // Qt's own first: the buttons of the message boxes and the folder browser.
    for (const auto& [name, folder] : {std::pair{QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)},
                                       std::pair{QStringLiteral("quillet"), QStringLiteral(":/i18n")}}) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(locale, name, QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator.get()))
            installed.push_back(std::move(translator));
    }
    return installed;
}

}  // namespace quillet::gui
