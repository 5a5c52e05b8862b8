// What the desktop program tells about a run: the file line, the summary and its details.
#include "core/run_report.h"

#include <gtest/gtest.h>

#include <limits>

namespace quillet {
namespace {

TEST(RunReport, FileLineCountsFromOneAndNamesTheFile)
{
    EXPECT_EQ(FileLineText(11, 160, "/photos/2024/IMG_0042.jpg"), "12 of 160: IMG_0042.jpg");
    EXPECT_EQ(FileLineText(0, 1, "bare.jpg"), "1 of 1: bare.jpg");
}

// Every run that started ends in a summary; it grows only by what happened.
TEST(RunReport, SummaryAfterEveryRunSaysHowItEnded)
{
    const std::vector<SkippedFile> two{{"/in/notes.jpg", "not a picture"}, {"/in/sub/b.jpg", "cannot be read"}};
    struct Row {
        const char* what;
        BatchResult result;
        uint32_t files;
        double seconds;
        const char* text;
    };
    const Row rows[] = {
        {"clean", {Refusal::None, 400, 0, 0, {}, {}, false, false}, 400, 2.46,
         "400 thumbnails written\nTime taken: 2.4 s"},
        {"one written", {Refusal::None, 1, 0, 0, {}, {}, false, false}, 1, 0.01, "1 thumbnail written\nTime taken: 0.0 s"},
        {"skipped", {Refusal::None, 3, 0, 0, two, {}, false, false}, 5, 75, "3 thumbnails written, 2 skipped\nTime taken: 1 min 15 s"},
        {"up to date", {Refusal::None, 0, 0, 400, {}, {}, false, false}, 400, 12.7,
         "0 thumbnails written, 400 up to date\nTime taken: 12 s"},
        {"cancelled", {Refusal::None, 90, 0, 5, {two[0]}, {}, true, false}, 400, 3725,
         "Cancelled after 96 of 400 files\n90 thumbnails written, 5 up to date, 1 skipped\nTime taken: 1 h 02 min"},
        {"incomplete and kept", {Refusal::None, 5, 2, 0, {}, {two[1]}, false, false}, 6, 1,
         "5 thumbnails written, 2 from incomplete sources, 1 kept (a file Quillet did not make was in the way)\n"
         "Time taken: 1.0 s"},
        {"destination lost", {Refusal::None, 5, 0, 0, {}, {}, false, true}, 9, 1,
         "The destination folder is gone or can no longer be written to; the run was stopped.\n\n"
         "5 thumbnails written\nTime taken: 1.0 s"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RunEndText(row.result, row.files, row.seconds), row.text) << row.what;
    EXPECT_EQ(DurationText(std::numeric_limits<double>::infinity()), "0.0 s");
    EXPECT_EQ(DurationText(1e300), "277777777777 h 46 min");

    // A translation gets the source texts and the numbers; "%1" is filled in after it.
    const std::string german = RunEndText(rows[4].result, 400, 3, [](const char* source, long n) {
        return std::string(source) == "Cancelled after %1 of %n file(s)" ? "Abgebrochen nach %1 von " + std::to_string(n)
                                                                          : EnglishText(source, n);
    });
    EXPECT_EQ(german.substr(0, german.find('\n')), "Abgebrochen nach 96 von 400");

    BatchResult result;
    result.skipped = two;
    result.skipped.push_back({"/x/c.jpg", "gone"});
    EXPECT_EQ(RunDetailsText(result, "/in/"), "notes.jpg: not a picture\nsub/b.jpg: cannot be read\n/x/c.jpg: gone");
    EXPECT_EQ(RunDetailsText({}, "/in", {"/in/cut.jpg"}), "cut.jpg: its data ended early; the thumbnail is partly filled in");
    EXPECT_EQ(RunDetailsText({}, "/in"), "");
}

}  // namespace
}  // namespace quillet
