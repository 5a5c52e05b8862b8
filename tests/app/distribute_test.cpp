// Shard assignment and the report line, the parts other machines and log readers rely on.
#include "core/batch.h"
#include "core/distribute.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

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

// The shard a job engine's task makes, or why it is refused: a Slurm array whose size
// differs from the count given would leave shards out or make them twice.
TEST(Shards, EngineShardIsTakenOrRefusedNamingBothNumbers)
{
    struct Row {
        const char* text;
        std::map<std::string, std::string> environment;
        std::optional<std::pair<uint32_t, uint32_t>> shard;
        const char* inError;
    };
    const std::vector<Row> rows = {
        {"auto", {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}},
         std::pair{2u, 4u}, ""},
        {"auto/4", {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, std::pair{3u, 4u}, ""},
        // Tasks 3 and 5 of eight resubmitted: the array is 2 tasks.
        {"auto/8", {{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_MIN", "3"}, {"SLURM_ARRAY_TASK_COUNT", "2"}},
         std::nullopt, "has 2 tasks but the shard count is 8"},
        {"auto/4", {{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "8"}}, std::nullopt,
         "has 8 tasks but the shard count is 4"},
        {"auto", {{"SLURM_ARRAY_TASK_ID", "1"}}, std::nullopt, "SLURM_ARRAY_TASK_COUNT"},
        // An explicit shard is what a resubmitted task names, whatever its array.
        {"5/8", {{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_COUNT", "1"}}, std::pair{5u, 8u}, ""},
        {"auto/8", {{"JOB_COMPLETION_INDEX", "7"}}, std::pair{7u, 8u}, ""},
        {"auto/8", {{"JOB_COMPLETION_INDEX", "8"}}, std::nullopt, "shard 8 does not exist among 8"},
    };
    for (const Row& row : rows) {
        std::string error;
        const auto shard = ParseShard(row.text, [&](const char* name) {
            const auto it = row.environment.find(name);
            return it == row.environment.end() ? nullptr : it->second.c_str();
        }, error);
        const auto got = shard ? std::optional{std::pair{shard->index, shard->count}} : std::nullopt;
        EXPECT_EQ(got, row.shard) << row.text << " " << error;
        EXPECT_NE(error.find(row.inError), std::string::npos) << row.text << ": " << error;
    }
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
