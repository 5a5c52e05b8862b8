// Folder checks: path form, folder names, and creating a missing folder on request.
#include "core/folders.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace quillet {
namespace {

namespace fs = std::filesystem;

// Answers the creation question as told and records what was shown.
class ScriptedPrompts : public FolderPrompts {
public:
    explicit ScriptedPrompts(bool answerYes) : m_answerYes(answerYes) {}
    bool AskCreate(const std::string& path) override
    {
        asked.push_back(path);
        return m_answerYes;
    }
    void ShowError(int result, const std::string& path) override { errors.push_back(FolderErrorText(result, path)); }

    std::vector<std::string> asked;
    std::vector<std::string> errors;

private:
    bool m_answerYes;
};

TEST(FolderNames, EdgesAndForbiddenCharacters)
{
    struct Case {
        const char* name;
        bool valid;
    };
    const Case cases[] = {
        {"Photos", true},       {"two words", true},  {"a.b", true},      {"caf\xc3\xa9", true},
        {"", false},            {" lead", false},     {"trail ", false},  {"\tx", false},
        {"x.", false},          {".hidden", false},   {"wh?t", false},    {"a*b", false},
        {"a:b", false},         {"a\\b", false},      {"a|b", false},     {"<a", false},
        {"a>", false},          {"a\"b", false},      {"a/b", false},     {"a\x01" "b", true},
        {"\x7f", true},  // codes outside 34..124 are not looked at
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidFolderName(c.name), c.valid) << '"' << c.name << '"';
}

TEST(ValidatePath, FormInCheckMode)
{
    struct Case {
        const char* path;
        int result;
    };
    const Case cases[] = {
        {"/", kFolderUsable},
        {"/tmp", kFolderUsable},
        {"/no/such/folder/at/all", kFolderUsable},  // the form only
        {"", kFolderInvalid},
        {"tmp", kFolderInvalid},
        {"x/tmp", kFolderInvalid},  // relative
        {"/tmp/", kFolderInvalid},  // trailing separator
        {"//tmp", kFolderInvalid},
        {"/tmp//x", kFolderInvalid},
        {"/tmp/ x", kFolderInvalid},
        {"/tmp/x./y", kFolderInvalid},
        {"/tmp/wh?t", kFolderInvalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidatePath(c.path, PathMode::Check), c.result) << c.path;
}

TEST(ValidatePath, LongPathsAreNotCut)
{
    std::string path;
    for (int i = 0; i < 40; ++i)
        path += "/component";
    ASSERT_GT(path.size(), 300u);
    EXPECT_EQ(ValidatePath(path, PathMode::Check), kFolderUsable);
    EXPECT_EQ(ValidatePath(path + "/bad?", PathMode::Check), kFolderInvalid);
}

TEST(ValidatePath, CreateModeMakesEveryMissingLevel)
{
    test::TempFolder dir;
    const std::string nested = dir.path().string() + "/new/sub";
    EXPECT_EQ(ValidatePath(nested, PathMode::Create), kFolderUsable);
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(ValidatePath("/", PathMode::Create), kFolderUsable);
}

TEST(ValidatePath, CreateModeStopsAtAFileInTheWay)
{
    test::TempFolder dir;
    std::ofstream(dir.path().string() + "/file") << "x";
    EXPECT_EQ(ValidatePath(dir.path().string() + "/file/sub", PathMode::Create), kFolderNotCreated);
    // An invalid component later in the path is found only after the earlier ones were made.
    EXPECT_EQ(ValidatePath(dir.path().string() + "/made/bad?", PathMode::Create), kFolderInvalid);
    EXPECT_TRUE(fs::is_directory(dir.path().string() + "/made"));
}

TEST(CheckFolder, ExistingFolderIsUsableWithoutAQuestion)
{
    test::TempFolder dir;
    ScriptedPrompts prompts(true);
    EXPECT_EQ(CheckFolder(dir.path(), prompts), kFolderUsable);
    EXPECT_EQ(CheckFolder("/", prompts), kFolderUsable);
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_TRUE(prompts.errors.empty());
}

TEST(CheckFolder, InvalidPathsAreReportedAndNothingIsCreated)
{
    test::TempFolder dir;
    for (const std::string tail : {"/new/", "/ lead", "/dot.", "/wh?t", "/ok/ lead"}) {
        ScriptedPrompts prompts(true);
        const std::string path = dir.path().string() + tail;
        EXPECT_EQ(CheckFolder(path, prompts), kFolderInvalid) << path;
        EXPECT_TRUE(prompts.asked.empty());
        ASSERT_EQ(prompts.errors.size(), 1u);
        EXPECT_EQ(prompts.errors[0], "The folder:\n\n" + path + "\n\nis invalid. Please reenter.");
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CheckFolder, MissingNestedFolderIsCreatedAfterYes)
{
    test::TempFolder dir;
    const std::string path = dir.path().string() + "/new/sub";
    ScriptedPrompts prompts(true);
    EXPECT_EQ(CheckFolder(path, prompts), kFolderUsable);
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(CreateQuestionText(prompts.asked[0]),
              "The folder:\n\n" + path + "\n\ndoes not exist. Do you want the folder to be created?");
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(prompts.errors.empty());
}

TEST(CheckFolder, NoDeclinesAndCreatesNothing)
{
    test::TempFolder dir;
    ScriptedPrompts prompts(false);
    EXPECT_EQ(CheckFolder(dir.path().string() + "/new/sub", prompts), kFolderDeclined);
    EXPECT_EQ(prompts.asked.size(), 1u);
    EXPECT_TRUE(prompts.errors.empty());
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CheckFolder, FailedCreationIsReported)
{
    test::TempFolder dir;
    std::ofstream(dir.path().string() + "/file") << "x";
    const std::string path = dir.path().string() + "/file/sub";
    ScriptedPrompts prompts(true);
    EXPECT_EQ(CheckFolder(path, prompts), kFolderNotCreated);
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_EQ(prompts.errors[0], "The folder:\n\n" + path + "\n\ncan not be created. Please double check.");
}

TEST(ExpandTypedFolder, HomeAndTrailingSeparators)
{
    struct Row {
        const char* typed;
        const char* expected;
    };
    const Row rows[] = {
        {"~", "/home/ann"},            {"~/", "/home/ann"},        {"~/Photos", "/home/ann/Photos"},
        {"~/Photos//", "/home/ann/Photos"}, {"/tmp/", "/tmp"},      {"/", "/"},
        {"//", "/"},                   {"~ann/x", "~ann/x"},       {"/a/~/b", "/a/~/b"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ExpandTypedFolder(row.typed, "/home/ann"), row.expected) << row.typed;
}

TEST(ProbeWritable, LeavesNothingBehindAndNamesTheReason)
{
    test::TempFolder folder;
    EXPECT_EQ(ProbeWritable(folder.path().string()), "");
    EXPECT_TRUE(fs::is_empty(folder.path()));
    EXPECT_EQ(ProbeWritable((folder.path() / "gone").string()), "No such file or directory");
    std::ofstream(folder.path() / "file") << "x";
    EXPECT_EQ(ProbeWritable((folder.path() / "file").string()), "Not a directory");
    EXPECT_EQ(NotWritableText("/srv/out/", "Permission denied"),
              "Thumbnails can not be written to the destination folder:\n\n/srv/out/\n\nPermission denied.");
}

}  // namespace
}  // namespace quillet
