// What the desktop program tells about a run: the file line, the summary and its details.
#include "core/run_report.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(RunReport, FileLineCountsFromOneAndNamesTheFile)
{
    EXPECT_EQ(FileLineText(11, 160, "/photos/2024/IMG_0042.jpg"), "12 of 160: IMG_0042.jpg");
    EXPECT_EQ(FileLineText(0, 1, "bare.jpg"), "1 of 1: bare.jpg");
}

TEST(RunReport, SummaryOnlyWhenFilesWereSkipped)
{
    BatchResult result;
    result.written = 3;
    EXPECT_FALSE(RunNeedsSummary(result));
    result.cancelled = true;
    EXPECT_FALSE(RunNeedsSummary(result));

    result.skipped = {{"/in/notes.jpg", "not a picture"}, {"/in/sub/b.jpg", "cannot be read"}, {"/x/c.jpg", "gone"}};
    EXPECT_TRUE(RunNeedsSummary(result));
    EXPECT_EQ(RunSummaryText(result), "3 thumbnails written, 3 files skipped");
    EXPECT_EQ(RunDetailsText(result, "/in/"), "notes.jpg: not a picture\nsub/b.jpg: cannot be read\n/x/c.jpg: gone");

    result.written = 1;
    result.skipped.resize(1);
    EXPECT_EQ(RunSummaryText(result), "1 thumbnail written, 1 file skipped");
    EXPECT_EQ(RunDetailsText(result, "/in"), "notes.jpg: not a picture");

    result.refusal = Refusal::NoFiles;
    EXPECT_FALSE(RunNeedsSummary(result));
}

TEST(RunReport, IncompleteSourcesAndALostDestinationAreToldToo)
{
    BatchResult result;
    result.written = 5;
    result.incomplete = 2;
    EXPECT_TRUE(RunNeedsSummary(result));
    EXPECT_EQ(RunSummaryText(result), "5 thumbnails written, 2 from incomplete sources, 0 files skipped");
    EXPECT_EQ(RunDetailsText(result, "/in", {"/in/cut.jpg"}),
              "cut.jpg: its data ended early; the thumbnail is partly filled in");

    result.incomplete = 0;
    result.destinationLost = true;
    EXPECT_TRUE(RunNeedsSummary(result));
    EXPECT_EQ(RunSummaryText(result), std::string(DestinationLostText()) + "\n\n5 thumbnails written, 0 files skipped");
}

}  // namespace
}  // namespace quillet
