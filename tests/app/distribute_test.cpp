// Shard assignment and the report line, the parts other machines and log readers rely on.
#include "core/batch.h"
#include "core/distribute.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(Shards, AssignmentIsByThumbnailNameAndFixedAcrossMachines)
{
    // Processes on other machines and other builds must agree: FNV-1a 64 of the stem "same".
    EXPECT_EQ(ShardOf("/x/a/same.jpg", 1000003), ShardOf("b/same.jpg", 1000003));
    uint64_t hash = 14695981039346656037ull;
    for (const char c : std::string("same"))
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    EXPECT_EQ(ShardOf("/x/same.jpg", 7), hash % 7);
    // Sources whose thumbnails can clash in some format fall to one shard.
    for (const char* other : {"/x/same.JPG", "/y/same.png", "/x/same.tif.png", "same"})
        EXPECT_EQ(ShardOf(other, 1000003), ShardOf("/x/same.jpg", 1000003)) << other;
    EXPECT_NE(ShardOf("/x/.same.jpg", 1000003), ShardOf("/x/.other.jpg", 1000003));

    std::vector<std::string> files;
    for (int i = 0; i < 200; ++i)
        files.push_back("/p/" + std::to_string(i) + ".jpg");
    size_t total = 0;
    for (uint32_t k = 0; k < 4; ++k) {
        const size_t n = SelectShard(files, {k, 4}).size();
        EXPECT_GT(n, 25u) << k;  // roughly even, never empty for 200 names
        total += n;
    }
    EXPECT_EQ(total, files.size());
}

TEST(ReportLine, IsOneValidJsonLineWhateverTheFileName)
{
    FileRecord record{"/in/a \"b\"\\c\n\xc3\xa9\xff.jpg", "/out/x.jpg", FileStatus::Skipped, "not a picture", 9, 99, 12.34};
    EXPECT_EQ(ReportLine(record),
              "{\"path\":\"/in/a \\\"b\\\"\\\\c\\u000a\xc3\xa9\\u00ff.jpg\",\"status\":\"skipped\","
              "\"reason\":\"not a picture\",\"thumbnail\":\"/out/x.jpg\",\"code\":9,\"size\":0,\"milliseconds\":12.3}");
    record.status = FileStatus::UpToDate;
    record.path = "\xe0\x80\xaf";  // an overlong "/" is not UTF-8
    EXPECT_NE(ReportLine(record).find("\"path\":\"\\u00e0\\u0080\\u00af\",\"status\":\"up to date\""),
              std::string::npos);
}

}  // namespace
}  // namespace quillet
