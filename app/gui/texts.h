// The dialogs' texts in the user's language: the fixed texts of the core and of the string
// table, the core's texts that carry a path, and loading the translations.
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>
#include <string>
#include <vector>

namespace quillet::gui {

// A fixed English text of the core or of the string table, translated ("Quillet" context).
QString Text(const char* english);

// The core's texts with a path or a number in them.
QString CreateQuestion(const std::string& path);
QString FolderError(int result, const std::string& path);
QString NotWritable(const std::string& folder, const std::string& reason);
QString NoBrowser(const QString& address);
QString FileLine(uint32_t position, uint32_t count, const std::string& path);

// Installs the program's and Qt's own translations for `locale` into the application; they
// stay while the returned objects live. Nothing is installed for English.
std::vector<std::unique_ptr<QTranslator>> InstallTranslations(const QLocale& locale);

}  // namespace quillet::gui
