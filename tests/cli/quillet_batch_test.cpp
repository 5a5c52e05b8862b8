// quillet-batch end to end: the geometry table through real files, exit codes, messages.
#include "app/photo_files.h"
#include "support/exif_fixture.h"

#include <libexif/exif-data.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;  // standard output and standard error together
};

Outcome Batch(const std::string& arguments)
{
    const std::string command = std::string(QUILLET_BATCH) + " " + arguments + " 2>&1";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> chunk;
    while (size_t n = fread(chunk.data(), 1, chunk.size(), pipe))
        run.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

struct Row {
    const char* name;
    uint32_t w, h;
    const char* options;
    uint32_t tw, th;
};

const Row kRows[] = {
    {"landscape_exact", 1600, 1200, "--rule perfect-fit --portrait rules-only", 640, 480},
    {"wide_perfect_fit", 2000, 1000, "--rule perfect-fit --portrait rules-only", 640, 479},
    {"three_two_perfect_fit", 3000, 2000, "--rule perfect-fit --portrait rules-only", 640, 479},
    {"wide_fit_outside", 2000, 1000, "--rule fit-outside --portrait rules-only", 959, 479},
    {"wide_fit_inside", 2000, 1000, "--rule fit-inside --portrait rules-only", 640, 320},
    {"enlarged_fit_outside", 800, 300, "--rule fit-outside --portrait rules-only", 1280, 480},
    {"enlarged_perfect_fit", 800, 300, "--rule perfect-fit --portrait rules-only", 640, 480},
    {"small_kept", 300, 200, "--rule fit-outside --portrait crop-landscape", 300, 200},
    {"portrait_reverse_box", 1200, 1600, "--rule perfect-fit --portrait reverse-box", 480, 640},
    {"portrait_rules_only", 1200, 1600, "--rule perfect-fit --portrait rules-only", 640, 480},
    {"portrait_crop_landscape", 1200, 1600, "--rule perfect-fit --portrait crop-landscape --crop-position 65", 640, 480},
    {"portrait_fit_inside_crop", 1200, 1600, "--rule fit-inside --portrait crop-landscape", 360, 480},
    {"portrait_fit_inside_all", 1200, 1600, "--rule fit-outside --portrait fit-inside-all", 360, 480},
    {"landscape_fit_inside_all", 1600, 1200, "--rule perfect-fit --portrait fit-inside-all", 640, 480},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class GeometryEndToEnd : public ::testing::TestWithParam<Row> {};

TEST_P(GeometryEndToEnd, ThumbnailHasTheSizeOfTheTable)
{
    const Row& row = GetParam();
    test::TempFolder in, out;
    test::WriteJpeg(in / "p.jpg", row.w, row.h);
    const Outcome run = Batch(std::string(row.options) + " --jobs 1 " + Quoted(in.path()) + " " + Quoted(out.path()));
    ASSERT_EQ(run.status, 0) << run.out;
    const test::Size size = test::JpegSize(out / "p.jpg");
    EXPECT_EQ(size.width, row.tw);
    EXPECT_EQ(size.height, row.th);
}

INSTANTIATE_TEST_SUITE_P(Table, GeometryEndToEnd, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QuilletBatch, SkippedFilesAreNamedWithTheirReasonAndExitOne)
{
    test::TempFolder in, out;
    test::WriteJpeg(in / "a.JPG", 200, 100);
    test::WriteJpeg(in / "b.jpeg", 200, 100);
    std::ofstream(in / "notes.jpg") << "shopping list";
    const Outcome run = Batch(Quoted(in.path()) + " " + Quoted(out.path()));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("skipped " + (in / "notes.jpg") + ": cannot be read"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 written, 1 skipped"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(out / "a.JPG"));
    EXPECT_FALSE(fs::exists(out / "b.jpeg"));
}

TEST(QuilletBatch, RefusalsAndBadUsageExitTwoAndWriteNothing)
{
    test::TempFolder in, out, empty;
    test::WriteJpeg(in / "a.jpg", 64, 64);
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {Quoted(empty.path()) + " " + Quoted(out.path()), "No files to process"},
        {Quoted(in.path()) + " " + Quoted(in.path().string() + "/."), "Destination path is the same as source."},
        {Quoted(in.path()) + " ''", "Please choose a destination folder."},
        {"--width 0 " + Quoted(in.path()) + " " + Quoted(out.path()), "at least 1 x 1"},
        {"--width -3 " + Quoted(in.path()) + " " + Quoted(out.path()), "needs a whole number"},
        {"--rule sideways " + Quoted(in.path()) + " " + Quoted(out.path()), "--rule takes"},
        {Quoted(in.path()), "give a SOURCE and a DEST"},
    };
    for (const Case& c : cases) {
        const Outcome run = Batch(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_EQ(std::distance(fs::directory_iterator(in.path()), fs::directory_iterator()), 1);
}

TEST(QuilletBatch, OrientationAndLocationSwitchesReachTheRun)
{
    test::TempFolder in, out;
    test::ExifSpec spec;
    spec.orientation = 6;  // a phone held upright: landscape pixels
    test::WriteJpeg(in / "phone.jpg", 800, 600, {test::ExifBlock(spec)});
    const struct {
        const char* options;
        uint32_t width, height;
        bool gps;
    } cases[] = {
        {"--copy-exif", 360, 480, true},
        {"--copy-exif --strip-gps", 360, 480, false},
        {"--copy-exif --no-auto-rotate", 640, 480, true},
    };
    for (const auto& c : cases) {
        const Outcome run = Batch(std::string(c.options) + " " + Quoted(in.path()) + " " + Quoted(out.path()));
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(test::JpegSize(out / "phone.jpg").width, c.width) << c.options;
        EXPECT_EQ(test::JpegSize(out / "phone.jpg").height, c.height) << c.options;
        const auto carried = test::App1Payloads(out / "phone.jpg");
        ASSERT_EQ(carried.size(), 1u) << c.options;
        ExifData* exif = exif_data_new_from_data(carried[0].data(), static_cast<unsigned>(carried[0].size()));
        EXPECT_EQ(exif->ifd[EXIF_IFD_GPS]->count > 0, c.gps) << c.options;
        exif_data_unref(exif);
    }
}

TEST(QuilletBatch, HelpAndVersion)
{
    const Outcome help = Batch("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: quillet-batch"), std::string::npos);
    for (const char* option : {"--no-auto-rotate", "--strip-gps", "--srgb"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const Outcome version = Batch("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("quillet-batch "), std::string::npos);
}

}  // namespace
