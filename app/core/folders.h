// Folder checks of the folder browser: the form of a path, folder names, and creating
// a missing folder on request.
#pragma once

#include <string>

namespace quillet {

// Results of ValidatePath and CheckFolder.
inline constexpr int kFolderUsable = 0;
inline constexpr int kFolderDeclined = -1;
inline constexpr int kFolderInvalid = 1;
inline constexpr int kFolderNotCreated = 2;

enum class PathMode { Check, Create };

// False for an empty name, a name that begins or ends with a tab, a space or ".", and a
// name holding one of  " * / : < > ? \ |  (characters outside codes 34 to 124 all pass).
bool IsValidFolderName(const std::string& name);

// An absolute path: "/" alone (the root), or "/" followed by valid names separated by
// single separators, without a trailing one. In create mode each missing folder along
// the path is created. Gives kFolderUsable, kFolderInvalid or kFolderNotCreated.
int ValidatePath(const std::string& path, PathMode mode);

// What CheckFolder asks and tells the user; the dialog shows these as message boxes.
class FolderPrompts {
public:
    virtual ~FolderPrompts() = default;
    // The question text is CreateQuestionText(path); true only for "Yes".
    virtual bool AskCreate(const std::string& path) = 0;
    // The text is FolderErrorText(result, path).
    virtual void ShowError(int result, const std::string& path) = 0;
};

// Checks a typed or picked folder, offering to create it when it is missing. Gives
// kFolderUsable, kFolderDeclined, kFolderInvalid or kFolderNotCreated.
int CheckFolder(const std::string& path, FolderPrompts& prompts);

std::string CreateQuestionText(const std::string& path);
std::string FolderErrorText(int result, const std::string& path);

// A folder as typed on Linux: "~" and "~/..." name `home` and its sub-folders, and trailing
// separators are dropped ("/" stays the root). Anything else comes back unchanged.
std::string ExpandTypedFolder(const std::string& text, const std::string& home);

// Creates and removes a probe file in `folder`: empty when that worked, else the reason.
std::string ProbeWritable(const std::string& folder);

// The refusal shown before a run when the destination cannot take thumbnails.
std::string NotWritableText(const std::string& folder, const std::string& reason);

}  // namespace quillet
