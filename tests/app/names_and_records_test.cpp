// Names that never destroy: the provenance record, the replace rule, names decided from the
// sorted list, the mirrored tree and reruns that notice changed settings.
#include "core/batch.h"
#include "core/file_types.h"
#include "core/provenance.h"
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>

namespace fs = std::filesystem;

namespace quillet {
namespace {

using test::TempFolder;

class Recorder : public BatchProgress {
public:
    void SetRange(uint32_t, uint32_t) override {}
    void SetPos(uint32_t) override {}
    void ShowPreview(const std::string&) override {}
    bool CheckCancelButton() override { return false; }
    void FileDone(const FileRecord& record) override { done.push_back(record); }
    std::vector<FileRecord> done;
};

BatchSettings Settings(const TempFolder& in, const TempFolder& out)
{
    BatchSettings s;
    s.PathIn = in.path().string() + "/";
    s.PathOut = out.path().string() + "/";
    s.SubDirs = 1;
    s.Width = 160;
    s.Height = 120;
    return s;
}

BatchResult RunOver(const BatchSettings& s, unsigned jobs = 1, Recorder* recorder = nullptr)
{
    std::vector<std::string> files;
    BatchSettings scan = s;
    RescanSource(scan, files);
    Recorder local;
    return RunBatch(s, files, recorder ? *recorder : local, jobs);
}

// Sets or clears the simulated lack of extended attributes for one scope.
struct NoXattr {
    explicit NoXattr(bool on)
    {
        if (on)
            setenv("QUILLET_NO_XATTR", "1", 1);
    }
    ~NoXattr() { unsetenv("QUILLET_NO_XATTR"); }
};

struct FormatRow {
    const char* name;
    uint32_t format;
    const char* extension;
    bool noXattr;
};

class ReplaceRule : public ::testing::TestWithParam<FormatRow> {};

// A file in DEST that Quillet did not make is never replaced; our own thumbnails are, by their
// record alone, on a file system without extended attributes too; --overwrite lifts the rule.
TEST_P(ReplaceRule, AForeignFileIsKeptAndOurThumbnailReplaced)
{
    const FormatRow& row = GetParam();
    NoXattr simulated(row.noXattr);
    TempFolder in, out;
    test::WriteJpeg(in / "IMG_2000.jpg", 400, 300, {}, 1);
    test::WriteJpeg(in / "IMG_2001.jpg", 400, 300, {}, 2);
    const std::string foreign = out / (std::string("IMG_2001") + row.extension);
    test::WriteJpeg(foreign, 600, 400, {}, 3);  // the user's own picture
    const std::vector<uint8_t> original = test::ReadBytes(foreign);
    BatchSettings s = Settings(in, out);
    s.Format = row.format;

    for (const uint32_t width : {160u, 200u}) {  // the second run replaces what the first made
        s.Width = width;
        const BatchResult result = RunOver(s);
        EXPECT_EQ(result.written, 1u) << width;
        ASSERT_EQ(result.kept.size(), 1u);
        EXPECT_EQ(result.kept[0].reason, kKeptReason);
        EXPECT_TRUE(result.skipped.empty());
        EXPECT_EQ(test::ReadBytes(foreign), original);
        const std::string ours = out / (std::string("IMG_2000") + row.extension);
        EXPECT_TRUE(ReadProvenance(ours));
        CImageObject thumbnail;  // the record leaves the file readable
        EXPECT_EQ(thumbnail.LoadFileAs(ours, TypeFromContent(ours)), 0u);
        EXPECT_GT(thumbnail.Width(), 0u);
    }
    s.Overwrite = 1;
    EXPECT_EQ(RunOver(s).written, 2u);
    EXPECT_NE(test::ReadBytes(foreign), original);
}

INSTANTIATE_TEST_SUITE_P(Formats, ReplaceRule,
                         ::testing::Values(FormatRow{"jpeg", FormatJpeg, ".jpg", false},
                                           FormatRow{"webp", FormatWebp, ".webp", false},
                                           FormatRow{"avif", FormatAvif, ".avif", false},
                                           FormatRow{"jpeg_no_xattr", FormatJpeg, ".jpg", true},
                                           FormatRow{"webp_no_xattr", FormatWebp, ".webp", true},
                                           FormatRow{"avif_no_xattr", FormatAvif, ".avif", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A thumbnail of an earlier release, known only by its extended attribute, is still ours
// where extended attributes work, and kept where they do not.
TEST(ReplaceRule, TheOldMarkCountsOnlyWhereExtendedAttributesWork)
{
    TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 400, 300, {}, 1);
    test::WriteJpeg(out / "a.jpg", 100, 75, {}, 2);
    if (setxattr((out / "a.jpg").c_str(), "user.quillet.thumbnail", "1", 1, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    {
        NoXattr simulated(true);
        EXPECT_EQ(RunOver(Settings(in, out)).kept.size(), 1u);
    }
    EXPECT_EQ(RunOver(Settings(in, out)).written, 1u);
}

struct Damage {
    const char* name;
    std::function<void(std::vector<uint8_t>& file, size_t record)> apply;
};

// A record's checksum made true again, so that only the change under test is wrong.
void Reseal(std::vector<uint8_t>& file, size_t record)
{
    uint32_t hash = 2166136261u;
    for (size_t i = record; i < record + 45; ++i)
        hash = (hash ^ file[i]) * 16777619u;
    for (int i = 0; i < 4; ++i)
        file[record + 45 + i] = static_cast<uint8_t>(hash >> (8 * i));
}

class DamagedRecord : public ::testing::TestWithParam<Damage> {};

// A record that is damaged, cut short or of a later version is not ours: the file is kept,
// and reading it never fails worse than that.
TEST_P(DamagedRecord, IsNotOursAndTheFileIsKept)
{
    TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 400, 300, {}, 1);
    BatchSettings s = Settings(in, out);
    ASSERT_EQ(RunOver(s).written, 1u);
    std::vector<uint8_t> file = test::ReadBytes(out / "a.jpg");
    const std::string signature("Quillet\0", 8);
    const auto at = std::search(file.begin(), file.end(), signature.begin(), signature.end());
    ASSERT_NE(at, file.end());
    GetParam().apply(file, static_cast<size_t>(at - file.begin()));
    std::ofstream(out / "a.jpg", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());

    EXPECT_FALSE(ReadProvenance(out / "a.jpg"));
    s.Width = 200;
    EXPECT_EQ(RunOver(s).kept.size(), 1u);
    EXPECT_EQ(test::ReadBytes(out / "a.jpg"), file);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DamagedRecord,
    ::testing::Values(Damage{"flipped_byte", [](auto& f, size_t r) { f[r + 20] ^= 0x40; }},
                      Damage{"future_version", [](auto& f, size_t r) { f[r + 8] = 2; Reseal(f, r); }},
                      Damage{"cut_inside", [](auto& f, size_t r) { f.resize(r + 12); }},
                      Damage{"segment_too_short", [](auto& f, size_t r) { f[r - 1] = 20; }},
                      Damage{"segment_length_past_the_end", [](auto& f, size_t r) { f[r - 2] = 0xFF; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Files whose headers lie about their lengths: the search for a record ends, at once and
// without reading past the file, with "none".
TEST(ProvenanceRecord, LyingLengthsEndTheSearchWithNone)
{
    TempFolder folder;
    const auto bytes = [](std::initializer_list<int> list) {
        std::string text;
        for (const int b : list)
            text += static_cast<char>(b);
        return text;
    };
    const std::string ftyp = bytes({0, 0, 0, 16}) + "ftypavif" + bytes({0, 0, 0, 0});
    const struct {
        const char* name;
        std::string content;
    } rows[] = {
        {"avif_large_size_zero", ftyp + bytes({0, 0, 0, 1}) + "uuid" + std::string(8, '\0') + std::string(80, 'x')},
        {"avif_size_below_header", ftyp + bytes({0, 0, 0, 3}) + "uuid" + std::string(80, 'x')},
        {"jpeg_segment_length_zero", bytes({0xFF, 0xD8, 0xFF, 0xE1, 0, 0}) + std::string(80, 'x')},
        {"webp_chunk_past_the_end", "RIFF" + bytes({90, 0, 0, 0}) + "WEBPQUIL" + bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"empty", ""},
    };
    for (const auto& row : rows) {
        std::ofstream(folder / row.name, std::ios::binary) << row.content;
        EXPECT_FALSE(ReadProvenance(folder / row.name)) << row.name;
        EXPECT_FALSE(MadeByQuillet(folder / row.name)) << row.name;
    }
}

// Same-named photographs of different folders give one thumbnail each, named the same way
// whatever order they were created (and listed) in, with one job or two; the run walks them
// in that order.
TEST(Names, SameNamedSourcesGetStableNamesInTheRunsOrder)
{
    const std::vector<std::string> folders = {"b", "a", "", "a/c", "\xff\xfe", "0"};
    // Each name with the source its record says it was made from.
    const std::map<std::string, std::string> expected = {
        {"IMG_0001.jpg", "0/IMG_0001.jpg"},          {"IMG_0001 (top).jpg", "IMG_0001.jpg"},
        {"IMG_0001 (a).jpg", "a/IMG_0001.jpg"},      {"IMG_0001 (a, c).jpg", "a/c/IMG_0001.jpg"},
        {"IMG_0001 (b).jpg", "b/IMG_0001.jpg"},      {"IMG_0001 (\xff\xfe).jpg", "\xff\xfe/IMG_0001.jpg"}};
    for (const bool reversed : {false, true}) {
        for (const unsigned jobs : {1u, 2u}) {
            TempFolder in, out;
            std::vector<std::string> order = folders;
            if (reversed)
                std::reverse(order.begin(), order.end());
            for (const std::string& folder : order) {
                fs::create_directories(in.path() / folder);
                test::WriteJpeg(in / (folder.empty() ? "IMG_0001.jpg" : folder + "/IMG_0001.jpg"), 300, 200);
            }
            Recorder recorder;
            const BatchSettings s = Settings(in, out);
            EXPECT_EQ(RunOver(s, jobs, &recorder).written, folders.size());
            for (const auto& [name, source] : expected) {
                const auto record = ReadProvenance(out / name);
                ASSERT_TRUE(record) << name;
                EXPECT_EQ(record->pathHash, HashBytes(source)) << name << reversed << jobs;
            }
            if (jobs == 1) {
                std::vector<std::string> walked;
                for (const FileRecord& record : recorder.done)
                    walked.push_back(record.path.substr(s.PathIn.size()));
                EXPECT_EQ(walked, (std::vector<std::string>{"0/IMG_0001.jpg", "IMG_0001.jpg", "a/IMG_0001.jpg",
                                                            "a/c/IMG_0001.jpg", "b/IMG_0001.jpg",
                                                            "\xff\xfe/IMG_0001.jpg"}));
            }
        }
    }
}

// A clash whose folder would make the name too long for the file system carries a hash.
TEST(Names, AFolderTooLongForTheNameIsHashed)
{
    BatchSettings s;
    s.PathIn = "/in/";
    s.PathOut = "/out/";
    const std::string deep(300, 'd');
    const auto outputs = OutputPathsFor(s, {"/in/a/x.jpg", "/in/" + deep + "/x.jpg", "/in/" + deep + "/y/x.jpg"});
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0], "/out/x.jpg");
    for (const std::string& output : {outputs[1], outputs[2]}) {
        EXPECT_LE(fs::path(output).filename().string().size(), 255u) << output;
        EXPECT_EQ(output.rfind("/out/x (", 0), 0u) << output;
    }
    EXPECT_NE(outputs[1], outputs[2]);
}

// --keep-folders mirrors the source's tree; no name then needs its folder.
TEST(Names, KeepFoldersMirrorsTheTree)
{
    TempFolder in, out;
    for (const char* path : {"IMG_1.jpg", "a/IMG_1.jpg", "a/b/IMG_1.jpg", "c/IMG_2.jpg"}) {
        fs::create_directories((in.path() / path).parent_path());
        test::WriteJpeg(in / path, 300, 200);
    }
    BatchSettings s = Settings(in, out);
    s.KeepFolders = 1;
    EXPECT_EQ(RunOver(s, 2).written, 4u);
    std::vector<std::string> made;
    for (const auto& entry : fs::recursive_directory_iterator(out.path()))
        if (entry.is_regular_file())
            made.push_back(fs::relative(entry.path(), out.path()).string());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{"IMG_1.jpg", "a/IMG_1.jpg", "a/b/IMG_1.jpg", "c/IMG_2.jpg"}));
}

struct Rerun {
    const char* name;
    std::function<void(BatchSettings&, const TempFolder& in)> change;
    uint32_t written;  // of the two photographs
};

class SkipExisting : public ::testing::TestWithParam<Rerun> {};

// Up to date means made from the source as it is, with the same settings: the record decides.
TEST_P(SkipExisting, RemakesExactlyWhatTheRecordNoLongerMatches)
{
    TempFolder in, out;
    test::WriteJpeg(in / "p1.jpg", 400, 300, {}, 1);
    test::WriteJpeg(in / "p2.jpg", 400, 300, {}, 2);
    BatchSettings s = Settings(in, out);
    s.OnlyNew = 1;
    ASSERT_EQ(RunOver(s).written, 2u);
    GetParam().change(s, in);
    const BatchResult again = RunOver(s);
    EXPECT_EQ(again.written, GetParam().written);
    EXPECT_EQ(again.upToDate, 2u - GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SkipExisting,
    ::testing::Values(
        Rerun{"nothing", [](BatchSettings&, const TempFolder&) {}, 0},
        Rerun{"width", [](BatchSettings& s, const TempFolder&) { s.Width = 200; }, 2},
        Rerun{"quality", [](BatchSettings& s, const TempFolder&) { s.Quality = 90; }, 2},
        Rerun{"sharpen", [](BatchSettings& s, const TempFolder&) { s.Sharpen = 1; }, 2},
        Rerun{"older_copy_restored",
              [](BatchSettings&, const TempFolder& in) {
                  fs::last_write_time(in / "p1.jpg", fs::last_write_time(in / "p1.jpg") - std::chrono::hours(24));
              },
              1},
        Rerun{"same_time_other_size",
              [](BatchSettings&, const TempFolder& in) {
                  const auto time = fs::last_write_time(in / "p2.jpg");
                  test::WriteJpeg(in / "p2.jpg", 500, 300, {}, 2);
                  fs::last_write_time(in / "p2.jpg", time);
              },
              1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillet
