// quillet-batch end to end: the geometry table through real files, exit codes, messages.
#include "app/photo_files.h"
#include "cli/batch_run.h"
#include "support/exif_fixture.h"
#include "support/heif_fixture.h"

#include <libexif/exif-data.h>
#include <lcms2.h>

#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using test::Batch;
using test::Outcome;

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
    // A reduced-scale decode must not change the thumbnail's size.
    for (const char* mode : {"", " --fast"}) {
        const Outcome run = Batch(std::string(row.options) + mode + " --jobs 1 " + Quoted(in.path()) + " " +
                                  Quoted(out.path()));
        ASSERT_EQ(run.status, 0) << run.out;
        const test::Size size = test::JpegSize(out / "p.jpg");
        EXPECT_EQ(size.width, row.tw) << mode;
        EXPECT_EQ(size.height, row.th) << mode;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, GeometryEndToEnd, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A WebP or AVIF thumbnail as its own library decodes it: size, EXIF (TIFF data) and profile.
struct Decoded {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> exif, icc;
};

Decoded DecodeWebp(const std::vector<uint8_t>& bytes)
{
    Decoded d;
    int w = 0, h = 0;
    if (!WebPGetInfo(bytes.data(), bytes.size(), &w, &h))
        return d;
    d.width = static_cast<uint32_t>(w);
    d.height = static_cast<uint32_t>(h);
    const WebPData data{bytes.data(), bytes.size()};
    WebPDemuxer* demux = WebPDemux(&data);
    WebPChunkIterator chunk;
    if (demux && WebPDemuxGetChunk(demux, "EXIF", 1, &chunk)) {
        d.exif.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (demux && WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        d.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return d;
}

Decoded DecodeAvif(const std::vector<uint8_t>& bytes)
{
    Decoded d;
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    if (heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
        heif_image* image = nullptr;
        if (heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
            heif_error_Ok) {
            d.width = static_cast<uint32_t>(heif_image_get_width(image, heif_channel_interleaved));
            d.height = static_cast<uint32_t>(heif_image_get_height(image, heif_channel_interleaved));
            heif_image_release(image);
        }
        heif_item_id id = 0;
        if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
            std::vector<uint8_t> block(heif_image_handle_get_metadata_size(handle, id));
            heif_image_handle_get_metadata(handle, id, block.data());
            if (block.size() > 4)
                d.exif.assign(block.begin() + 4, block.end());  // behind the offset word
        }
        d.icc.resize(heif_image_handle_get_raw_color_profile_size(handle));
        if (!d.icc.empty())
            heif_image_handle_get_raw_color_profile(handle, d.icc.data());
        heif_image_handle_release(handle);
    }
    heif_context_free(context);
    return d;
}

TEST_P(GeometryEndToEnd, WebpAndAvifThumbnailsHaveTheSizeOfTheTable)
{
    const Row& row = GetParam();
    test::TempFolder in, out;
    test::WriteJpeg(in / "p.jpg", row.w, row.h);
    for (const char* format : {"webp", "avif"}) {
        SCOPED_TRACE(format);
        const Outcome run = Batch(std::string(row.options) + " --format " + format + " --jobs 1 " + Quoted(in.path()) +
                                  " " + Quoted(out.path()));
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<uint8_t> bytes = test::ReadBytes(out / (std::string("p.") + format));
        const Decoded d = format == std::string("webp") ? DecodeWebp(bytes) : DecodeAvif(bytes);
        EXPECT_EQ(d.width, row.tw);
        EXPECT_EQ(d.height, row.th);
    }
    EXPECT_FALSE(fs::exists(out / "p.jpg"));
}

TEST(QuilletBatch, WebpAndAvifThumbnailsCarryExifWhenAskedAndTheProfileAlways)
{
    const std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0F, 0x01, 2, 0, 4, 0, 0, 0,
                                       'Q', 'u', 'i', 0, 0, 0, 0, 0};
    std::vector<uint8_t> app1(6 + tiff.size());
    std::memcpy(app1.data(), "Exif\0", 6);
    std::copy(tiff.begin(), tiff.end(), app1.begin() + 6);
    // A real RGB profile: a thumbnail carries only what describes its RGB pixels.
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number iccSize = 0;
    cmsSaveProfileToMem(profile, nullptr, &iccSize);
    std::vector<uint8_t> icc(iccSize);
    cmsSaveProfileToMem(profile, icc.data(), &iccSize);
    cmsCloseProfile(profile);
    test::TempFolder in, out;
    test::WriteJpeg(in / "j.jpg", 800, 600, {app1});
    // A WebP source with both, under a name the run collects.
    const std::vector<uint8_t> pixels = test::TestPicture(800, 600);
    std::vector<uint8_t> webp(1 << 20);
    DataChannel* sink = OpenMemorySink(webp.data(), static_cast<uint32_t>(webp.size()));
    ASSERT_EQ(WriteWebP(sink, pixels.data(), 800, 600, 90, tiff.data(), static_cast<uint32_t>(tiff.size()), icc.data(),
                        static_cast<uint32_t>(icc.size())), 1u);
    webp.resize(ChannelTell(sink));
    CloseSink(sink);
    std::ofstream(in / "w.jpg", std::ios::binary).write(reinterpret_cast<const char*>(webp.data()),
                                                         static_cast<std::streamsize>(webp.size()));

    for (const bool copyExif : {false, true}) {
        for (const char* format : {"webp", "avif"}) {
            SCOPED_TRACE(std::string(format) + (copyExif ? " with --copy-exif" : ""));
            const Outcome run = Batch(std::string("--format ") + format + (copyExif ? " --copy-exif " : " ") +
                                      Quoted(in.path()) + " " + Quoted(out.path()));
            ASSERT_EQ(run.status, 0) << run.out;
            auto decode = [&](const char* name) {
                const std::vector<uint8_t> bytes = test::ReadBytes(out / (std::string(name) + "." + format));
                return format == std::string("webp") ? DecodeWebp(bytes) : DecodeAvif(bytes);
            };
            const Decoded fromJpeg = decode("j"), fromWebp = decode("w");
            EXPECT_EQ(fromJpeg.width, 640u);
            // The carried block is rewritten for the thumbnail: the source's tags stay, the byte
            // order and the first entry (Make) with them.
            for (const std::vector<uint8_t>* exif : {&fromJpeg.exif, &fromWebp.exif}) {
                EXPECT_EQ(exif->empty(), !copyExif);
                if (copyExif && exif->size() >= 22) {
                    EXPECT_TRUE(std::equal(tiff.begin() + 10, tiff.begin() + 22, exif->begin() + 10));
                }
            }
            EXPECT_EQ(fromWebp.icc, icc);
        }
    }
}

TEST(QuilletBatch, QualityReachesTheWebpAndAvifEncoders)
{
    test::TempFolder in;
    test::WriteJpeg(in / "p.jpg", 800, 600);
    for (const char* format : {"webp", "avif"}) {
        uintmax_t sizes[2] = {};
        for (int i = 0; i < 2; ++i) {
            test::TempFolder out;
            const Outcome run = Batch(std::string("--format ") + format + (i ? " --quality 95 " : " --quality 10 ") +
                                      Quoted(in.path()) + " " + Quoted(out.path()));
            ASSERT_EQ(run.status, 0) << run.out;
            sizes[i] = fs::file_size(out / (std::string("p.") + format));
        }
        EXPECT_GT(sizes[1], sizes[0] * 2) << format;
    }
}

TEST(QuilletBatch, SkippedFilesAreNamedWithTheirReasonAndExitOne)
{
    test::TempFolder in, out;
    test::WriteJpeg(in / "a.JPG", 200, 100);
    test::WriteJpeg(in / "b.jpeg", 200, 100);
    std::ofstream(in / "notes.jpg") << "shopping list";
    Outcome run = Batch(Quoted(in.path()) + " " + Quoted(out.path()));
    EXPECT_EQ(run.status, 1) << run.out;
    // Content of no known type is named for what it is; the reader's code is for --verbose.
    EXPECT_NE(run.out.find("skipped " + (in / "notes.jpg") + ": not a picture\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 written, 0 up to date, 0 kept, 1 skipped"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(out / "a.JPG"));
    EXPECT_FALSE(fs::exists(out / "b.jpeg"));
    run = Batch("--verbose " + Quoted(in.path()) + " " + Quoted(out.path()));
    EXPECT_NE(run.out.find("skipped " + (in / "notes.jpg") + " -> " + (out / "notes.jpg") + " (not a picture, code 9)"),
              std::string::npos) << run.out;
}

// True when the library reads the PX_FILE_ type.
bool Readable(uint32_t fileType)
{
    PXFileFormat format{};
    for (uint32_t i = 0; GetFileFormat(i, &format); ++i)
        if (format.fileType == fileType)
            return format.readable != 0;
    return false;
}

// One folder holding a picture of every type, some named wrongly, run with and without
// --all-types. Types whose reader is still to come must be skipped, never half written.
TEST(QuilletBatch, AFolderOfEveryTypeWithAndWithoutAllTypes)
{
    test::TempFolder in, plain, all;
    test::WriteJpeg(in / "photo.jpg", 800, 600);
    ASSERT_TRUE(test::WritePicture(in / "p.png", PX_FILE_PNG, 800, 600));
    ASSERT_TRUE(test::WritePicture(in / "p.tif", PX_FILE_TIFF, 800, 600, 2));
    ASSERT_TRUE(test::WritePicture(in / "b.BMP", PX_FILE_BMP, 800, 600));
    ASSERT_TRUE(test::WritePicture(in / "bmp.jpg", PX_FILE_BMP, 800, 600));
    std::string gif = "GIF89a";
    gif.resize(300, '\x01');
    std::ofstream(in / "anim.jpg", std::ios::binary) << gif;
    std::ofstream(in / "notes.txt") << "not collected";
    // Corpus pictures of the types our writers do not make: name, corpus file, type.
    struct Borrowed {
        const char* name;
        const char* file;
        uint32_t type;
    };
    const Borrowed borrowed[] = {{"layers.psd", "psd-tools/2layers.psd", PX_FILE_PSD},
                                 {"ctc24.tga", "image-rs/images/tga/testsuite/ctc24.tga", PX_FILE_TGA},
                                 {"full.wmf", "wmf2svg/wmf/fulltest.wmf", PX_FILE_WMF},
                                 {"full.emf", "wmf2svg/emf/fulltest.emf", PX_FILE_EMF}};
    std::vector<Borrowed> present;
    const std::string corpus = test::CorpusDir();
    for (const Borrowed& b : borrowed)
        if (!corpus.empty() && fs::copy_file(corpus + "/" + b.file, in / b.name, fs::copy_options::none))
            present.push_back(b);

    // Corpus pictures come in any size: a JPEG within the box.
    auto expectThumbnail = [](const std::string& path, bool exact) {
        const test::Size size = test::JpegSize(path);
        if (exact)
            EXPECT_TRUE(size.width == 640 && size.height == 480) << path << " " << size.width << "x" << size.height;
        else
            EXPECT_TRUE(size.width > 0 && size.width <= 640 && size.height > 0 && size.height <= 480)
                << path << " " << size.width << "x" << size.height;
    };
    auto count = [](const test::TempFolder& folder) {
        return std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator());
    };
    const bool bmp = Readable(PX_FILE_BMP);

    // Only .jpg names, loaded by their content.
    Outcome run = Batch(Quoted(in.path()) + " " + Quoted(plain.path()) + " --jobs 1");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("skipped " + (in / "anim.jpg") + ": cannot be read: Quillet has no reader for GIF pictures"),
              std::string::npos) << run.out;
    expectThumbnail(plain / "photo.jpg", true);
    if (bmp)
        expectThumbnail(plain / "bmp.jpg", true);
    EXPECT_EQ(count(plain), bmp ? 2 : 1);

    // Every readable type; a.png and a.tif of one folder both get a thumbnail.
    run = Batch(Quoted(in.path()) + " " + Quoted(all.path()) + " --all-types --jobs 2");
    EXPECT_EQ(run.status, 1) << run.out;
    long expected = 3;  // photo, p and its twin
    expectThumbnail(all / "photo.jpg", true);
    expectThumbnail(all / "p.jpg", true);
    const bool tifLater = fs::exists(all / "p.tif.jpg");
    EXPECT_NE(tifLater, fs::exists(all / "p.png.jpg")) << "exactly one of the twins keeps its extension";
    expectThumbnail(all / (tifLater ? "p.tif.jpg" : "p.png.jpg"), true);
    if (bmp) {
        expectThumbnail(all / "b.jpg", true);
        expectThumbnail(all / "bmp.jpg", true);
        expected += 2;
    }
    for (const Borrowed& b : present) {
        const std::string thumbnail = all / (fs::path(b.name).stem().string() + ".jpg");
        if (Readable(b.type)) {
            expectThumbnail(thumbnail, false);
            ++expected;
        } else {
            EXPECT_FALSE(fs::exists(thumbnail)) << thumbnail;
        }
    }
    EXPECT_EQ(count(all), expected) << run.out;
    EXPECT_FALSE(fs::exists(all / "notes.jpg"));
}

TEST(QuilletBatch, RefusalsAndBadUsageExitTwoAndWriteNothing)
{
    test::TempFolder in, out, empty, others;
    test::WriteJpeg(in / "a.jpg", 64, 64);
    ASSERT_TRUE(test::WritePicture(others / "p.png", PX_FILE_PNG, 8, 8));
    ASSERT_TRUE(test::WritePicture(others / "q.PNG", PX_FILE_PNG, 8, 8));
    ASSERT_TRUE(test::WritePicture(others / "b.bmp", PX_FILE_BMP, 8, 8));
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {Quoted(empty.path()) + " " + Quoted(out.path()), "No files to process\n"},
        {Quoted(others.path()) + " " + Quoted(out.path()),
         "No files to process: the folder holds 3 pictures of other types (PNG, BMP); --all-types (-a) takes them"},
        {Quoted(in.path()) + " " + Quoted(in.path().string() + "/."), "Destination path is the same as source."},
        {Quoted(in.path()) + " ''", "Please choose a destination folder."},
        {"--width 0 " + Quoted(in.path()) + " " + Quoted(out.path()), "at least 1 x 1"},
        {"--width 2147483648 " + Quoted(in.path()) + " " + Quoted(out.path()), "at most 65500 x 65500"},
        {"--height 99999999999 " + Quoted(in.path()) + " " + Quoted(out.path()), "at most 65500 x 65500"},
        {"--width -3 " + Quoted(in.path()) + " " + Quoted(out.path()), "needs a whole number"},
        {"--rule sideways " + Quoted(in.path()) + " " + Quoted(out.path()), "--rule takes"},
        {"--format gif " + Quoted(in.path()) + " " + Quoted(out.path()), "--format takes"},
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

// A phone's HEIC: landscape pixels, a rotation property and an EXIF orientation that both say
// "turn a quarter clockwise". Only the property turns the picture, whatever the switch says.
TEST(QuilletBatch, HeicIsTurnedUprightOnceAndItsThumbnailSaysOrientationOne)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        GTEST_SKIP() << "no HEVC encoder in this libheif";
    // Stored 96 × 64, red on the left third: upright, the red is on top.
    std::vector<uint8_t> stored(96 * 64 * 3);
    for (size_t i = 0; i < stored.size(); i += 3) {
        const bool red = (i / 3) % 96 < 32;
        stored[i] = red ? 220 : 30;
        stored[i + 2] = red ? 30 : 220;
    }
    for (const bool bigEndian : {false, true}) {
        test::ExifSpec exifSpec;
        exifSpec.orientation = 6;
        exifSpec.bigEndian = bigEndian;
        const std::vector<uint8_t> app1 = test::ExifBlock(exifSpec);
        test::HeifSpec spec;
        spec.orientation = heif_orientation_rotate_90_cw;
        spec.exif.assign(app1.begin() + 6, app1.end());  // HEIF holds the TIFF data alone
        const std::vector<uint8_t> heic = test::EncodeHeif(stored.data(), 96, 64, spec);
        ASSERT_FALSE(heic.empty());
        test::TempFolder in, out;
        std::ofstream(in / "phone.HEIC", std::ios::binary)
            .write(reinterpret_cast<const char*>(heic.data()), static_cast<std::streamsize>(heic.size()));
        for (const char* rotate : {"", "--no-auto-rotate "}) {
            SCOPED_TRACE(std::string(rotate) + (bigEndian ? "big-endian EXIF" : "little-endian EXIF"));
            const Outcome run = Batch(std::string("--all-types --copy-exif ") + rotate +
                                      "--width 32 --height 48 --rule fit-inside --portrait rules-only " +
                                      Quoted(in.path()) + " " + Quoted(out.path()));
            ASSERT_EQ(run.status, 0) << run.out;
            const std::string thumbnail = out / "phone.jpg";
            DataChannel* source = OpenFileSource(thumbnail.c_str());
            uint32_t w = 0, h = 0;
            uint8_t* rgb = ReadJPG(source, &w, &h, 24);
            CloseSource(source);
            ASSERT_TRUE(rgb);
            EXPECT_EQ(w, 32u);
            EXPECT_EQ(h, 48u);
            if (w == 32 && h == 48) {
                const uint8_t* top = rgb + (4 * 32 + 16) * 3;
                const uint8_t* bottom = rgb + (40 * 32 + 16) * 3;
                EXPECT_GT(top[0], top[2] + 100);
                EXPECT_GT(bottom[2], bottom[0] + 100);
            }
            GlobalFree(rgb);
            const auto carried = test::App1Payloads(thumbnail);
            ASSERT_EQ(carried.size(), 1u);
            ExifData* exif = exif_data_new_from_data(carried[0].data(), static_cast<unsigned>(carried[0].size()));
            ASSERT_TRUE(exif);
            ExifEntry* orientation = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
            ASSERT_TRUE(orientation);
            EXPECT_EQ(exif_get_short(orientation->data, exif_data_get_byte_order(exif)), 1);
            exif_data_unref(exif);
        }
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

bool HasTemporaries(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".quillet-", 0) == 0)
            return true;
    return false;
}

// A disk that fills up while the last bytes are written: a file-size limit just below the
// thumbnail's size, with SIGXFSZ ignored so the write fails instead of the program.
TEST(QuilletBatch, AFullDiskSkipsTheFileAndKeepsTheOlderThumbnail)
{
    test::TempFolder in, out, probe;
    test::WriteJpeg(in / "a.jpg", 1600, 1200);
    ASSERT_EQ(Batch(Quoted(in.path()) + " " + Quoted(probe.path())).status, 0);
    const uintmax_t size = fs::file_size(probe / "a.jpg");
    fs::copy_file(probe / "a.jpg", out / "a.jpg");  // an older thumbnail of ours
    const std::vector<uint8_t> older = test::ReadBytes(out / "a.jpg");

    Outcome run;
    const std::string log = probe / "log";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{size - 1, size - 1};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(logFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        execl(QUILLET_BATCH, QUILLET_BATCH, in.path().c_str(), out.path().c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> logged = test::ReadBytes(log);
    run.out.assign(logged.begin(), logged.end());
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("skipped " + (in / "a.jpg") + ": cannot be written"), std::string::npos) << run.out;
    EXPECT_EQ(test::ReadBytes(out / "a.jpg"), older);
    EXPECT_FALSE(HasTemporaries(out.path()));
}

// A file whose last bytes never reach the disk (full quota, network file system): each of
// the closing calls fails in turn, the run says so, and the older thumbnail stays.
TEST(QuilletBatch, AFailingCloseSkipsTheFileAndKeepsTheOlderThumbnail)
{
    test::TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 400, 300);
    ASSERT_EQ(Batch("--width 320 " + Quoted(in.path()) + " " + Quoted(out.path())).status, 0);
    const std::vector<uint8_t> older = test::ReadBytes(out / "a.jpg");  // an older thumbnail of ours
    for (const char* call : {"fflush", "fsync", "fclose"}) {
        SCOPED_TRACE(call);
        const Outcome run = Batch(Quoted(in.path()) + " " + Quoted(out.path()),
                                  std::string("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") + CLOSE_FAILURE_SHIM +
                                      " QUILLET_FAIL_CALL=" + call + " QUILLET_FAIL_UNDER=" + Quoted(out.path()));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find("skipped " + (in / "a.jpg") + ": cannot be written"), std::string::npos) << run.out;
        EXPECT_EQ(test::ReadBytes(out / "a.jpg"), older);
        EXPECT_FALSE(HasTemporaries(out.path()));
    }
}

TEST(QuilletBatch, NamesArePrintedEscapedAndDashDashEndsTheOptions)
{
    test::TempFolder top, out;
    fs::create_directory(top.path() / "-in");
    std::ofstream(top.path() / "-in" / "clear\033[2J.jpg") << "not a picture";
    test::WriteJpeg((top.path() / "-in" / "cut.jpg").string(), 400, 300);
    fs::resize_file(top.path() / "-in" / "cut.jpg", fs::file_size(top.path() / "-in" / "cut.jpg") / 2);
    const Outcome run = Batch("--version >/dev/null; cd " + Quoted(top.path()) + " && " + QUILLET_BATCH + " -- -in " +
                              Quoted(out.path()));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_NE(run.out.find("clear\\x1b[2J.jpg: not a picture"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("incomplete source -in/cut.jpg"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 written, 1 from incomplete sources, 0 up to date, 0 kept, 1 skipped"), std::string::npos) << run.out;
}

// A .jpg deeper than a path can name is still reported, not left out.
TEST(QuilletBatch, APathTooLongToOpenIsReportedAsSkipped)
{
    test::TempFolder in, out;
    const std::string name(250, 'd');
    std::vector<int> folders{open(in.path().c_str(), O_RDONLY | O_DIRECTORY)};
    for (int depth = 0; depth < 18; ++depth) {
        ASSERT_EQ(mkdirat(folders.back(), name.c_str(), 0700), 0);
        folders.push_back(openat(folders.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_GE(folders.back(), 0);
    }
    const int file = openat(folders.back(), "deep.jpg", O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(file, 0);
    close(file);
    const Outcome run = Batch("--subdirs " + Quoted(in.path()) + " " + Quoted(out.path()));
    EXPECT_EQ(run.status, 1) << run.out.substr(0, 300);
    EXPECT_NE(run.out.find("/deep.jpg: cannot be opened: File name too long"), std::string::npos);
    // Taken down from the inside: no path reaches the bottom.
    unlinkat(folders.back(), "deep.jpg", 0);
    for (size_t i = folders.size() - 1; i > 0; --i) {
        close(folders[i]);
        unlinkat(folders[i - 1], name.c_str(), AT_REMOVEDIR);
    }
    close(folders[0]);
}

TEST(QuilletBatch, TimeLeftIsNotGuessedFromTooFewFiles)
{
    test::TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 800, 600, {}, 1);
    test::WriteJpeg(in / "b.jpg", 800, 600, {}, 2);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(QUILLET_BATCH, QUILLET_BATCH, "--jobs", "1", in.path().c_str(), out.path().c_str(), nullptr);
        _exit(127);
    }
    std::string screen;
    char chunk[512];
    for (ssize_t n; (n = read(terminal, chunk, sizeof chunk)) > 0;)
        screen.append(chunk, static_cast<size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    close(terminal);
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
    EXPECT_NE(screen.find("1/2"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("left"), std::string::npos) << screen;
}

// Kills at random moments of a run over large pictures: no temporary or partial thumbnail
// stays behind (SIGKILL's temporaries go with the next run) and no original changes.
TEST(QuilletBatch, SignalsAtRandomMomentsLoseNothing)
{
    test::TempFolder in, out;
    std::vector<std::vector<uint8_t>> originals;
    for (uint32_t i = 0; i < 4; ++i) {
        test::WriteJpeg(in / ("p" + std::to_string(i) + ".jpg"), 2400, 1800, {}, i);
        originals.push_back(test::ReadBytes(in / ("p" + std::to_string(i) + ".jpg")));
    }
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    struct Kill {
        int signal;
        bool twice;
    };
    const Kill kills[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGINT, true}, {SIGTERM, true}, {SIGKILL, false}};
    for (const Kill& kill : kills) {
        SCOPED_TRACE("signal " + std::to_string(kill.signal) + (kill.twice ? " twice" : "") + ", seed " +
                     std::to_string(seed));
        const pid_t child = test::Spawn({"--jobs", "2", "--sharpen", in.path(), out.path()});
        ASSERT_GE(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(30, 900)(random)));
        ::kill(child, kill.signal);
        if (kill.twice) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ::kill(child, kill.signal);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (kill.signal != SIGKILL) {
            EXPECT_FALSE(HasTemporaries(out.path()));
        }
        for (const auto& entry : fs::directory_iterator(out.path())) {
            if (entry.path().filename().string().rfind(".quillet-", 0) == 0)
                continue;
            EXPECT_EQ(test::JpegSize(entry.path().string()).width, 640u) << entry.path();
            DataChannel* source = OpenFileSource(entry.path().c_str());
            uint32_t w = 0, h = 0;
            GlobalFree(ReadJPG(source, &w, &h, 24));
            CloseSource(source);
            EXPECT_EQ(GetJPGInputEndedEarly(), 0u) << entry.path();  // no partial thumbnail
        }
    }
    // The next run clears what SIGKILL left.
    EXPECT_EQ(Batch(Quoted(in.path()) + " " + Quoted(out.path())).status, 0);
    EXPECT_FALSE(HasTemporaries(out.path()));
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(test::ReadBytes(in / ("p" + std::to_string(i) + ".jpg")), originals[i]) << i;
}

}  // namespace
