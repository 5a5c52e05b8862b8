// Web link rules: text colour, the quiet opener, and the fallback handler's command line.
#include "core/link.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quillet {
namespace {

namespace fs = std::filesystem;

TEST(HandlerCommandLine, CutAtThePlaceholder)
{
    const std::string address = "https://example.org/";
    // Quoted: cut at the opening quote, so what follows the placeholder is dropped.
    EXPECT_EQ(HandlerCommandLine("browser \"%u\" --new-window", address), "browser  https://example.org/");
    EXPECT_EQ(HandlerCommandLine("/opt/b/bin/b --x \"%F\"", address), "/opt/b/bin/b --x  https://example.org/");
    // Unquoted.
    EXPECT_EQ(HandlerCommandLine("browser %U --tail", address), "browser  https://example.org/");
    EXPECT_EQ(HandlerCommandLine("browser %f", address), "browser  https://example.org/");
    // A quoted placeholder wins over an earlier bare one.
    EXPECT_EQ(HandlerCommandLine("b %U \"%u\"", address), "b %U  https://example.org/");
    // None: run whole.
    EXPECT_EQ(HandlerCommandLine("browser --private", address), "browser --private https://example.org/");
}

TEST(LinkColour, StatePrecedence)
{
    const uint32_t def = kLinkDefaultStyle;
    EXPECT_EQ(TextColour(def, false, false, false), kLinkColour);
    EXPECT_EQ(TextColour(def, false, false, true), kVisitedColour);
    EXPECT_EQ(TextColour(def, true, false, true), kActiveColour);
    // The default style has no hover colour.
    EXPECT_EQ(TextColour(def, false, true, false), kLinkColour);
    EXPECT_EQ(TextColour(def | kLinkHoverColour, true, true, true), kHoverColour);
    EXPECT_EQ(TextColour(def | kLinkNoActiveColour, true, false, true), kVisitedColour);
    EXPECT_EQ(def, 0x15u);
}

TEST(StartQuietly, ExitStatusDecidesAndMissingProgramsDoNotStart)
{
    struct Row {
        std::vector<std::string> argv;
        OpenerState expected;
    };
    const Row rows[] = {
        {{"sh", "-c", "echo to-nowhere; echo also >&2; exit 0"}, OpenerState::Succeeded},
        {{"sh", "-c", "exit 3"}, OpenerState::Failed},
        {{"sh", "-c", "kill -9 $$"}, OpenerState::Failed},
    };
    for (const Row& row : rows) {
        const long pid = StartQuietly(row.argv);
        ASSERT_GT(pid, 0) << row.argv.back();
        OpenerState state;
        while ((state = PollOpener(pid)) == OpenerState::Running)
            std::this_thread::yield();
        EXPECT_EQ(state, row.expected) << row.argv.back();
    }
    EXPECT_EQ(StartQuietly({"quillet-no-such-opener", "https://x/"}), -1);
    EXPECT_EQ(StartQuietly({}), -1);
    EXPECT_EQ(NoBrowserText("https://a.example/"), "No web browser could be started to open https://a.example/");
}

// Points the freedesktop.org directories into a scratch folder for one test.
class XdgSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillet-xdg-XXXXXX";
        m_root = ::mkdtemp(pattern);
        for (const char* dir : {"/config", "/etc", "/data/applications", "/share/applications"})
            fs::create_directories(m_root + dir);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        }
        ::setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (m_root + "/etc").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (m_root + "/share").c_str(), 1);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        fs::remove_all(m_root);
    }
    void Write(const std::string& relative, const std::string& text) { std::ofstream(m_root + relative) << text; }

    std::string m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(XdgSandbox, NoAssociationGivesNothing)
{
    EXPECT_FALSE(HtmlHandlerCommand().has_value());
}

TEST_F(XdgSandbox, UserDefaultWinsAndMissingEntriesAreSkipped)
{
    Write("/share/applications/mimeapps.list", "[Default Applications]\ntext/html=system.desktop\n");
    Write("/config/mimeapps.list",
          "[Added Associations]\ntext/html=other.desktop\n"
          "[Default Applications]\ntext/plain=editor.desktop\ntext/html=gone.desktop;mine.desktop;\n");
    Write("/data/applications/mine.desktop",
          "[Desktop Action new]\nExec=wrong\n[Desktop Entry]\nName=Mine\nExec=mine --open \"%u\"\n");
    Write("/share/applications/system.desktop", "[Desktop Entry]\nExec=system %U\n");
    EXPECT_EQ(HtmlHandlerCommand(), "mine --open \"%u\"");
}

TEST_F(XdgSandbox, SystemListIsTheFallback)
{
    Write("/share/applications/mimeapps.list", "[Default Applications]\ntext/html=system.desktop\n");
    Write("/share/applications/system.desktop", "[Desktop Entry]\nExec=system %U\n");
    EXPECT_EQ(HtmlHandlerCommand(), "system %U");
}

}  // namespace
}  // namespace quillet
