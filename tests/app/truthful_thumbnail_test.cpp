// Thumbnails as people see their photographs: upright by the orientation tag under every rule,
// EXIF blocks that tell the thumbnail's truth, XMP after EXIF, colour profiles, and nothing of
// it when the switches are off.
#include "core/batch.h"
#include "core/geometry.h"
#include "core/image_object.h"
#include "app/photo_files.h"
#include "formats/png_files.h"
#include "support/exif_fixture.h"
#include "formats/hostile_samples.h"

#include <libexif/exif-data.h>
#include <jpeglib.h>
#include <lcms2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

namespace quillet {
namespace {

using test::TempFolder;

struct Picture {
    std::vector<uint8_t> rgb;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Four quadrants red, green, blue and white: each of the eight orientations looks different.
Picture Quadrants(uint32_t width, uint32_t height)
{
    Picture p{std::vector<uint8_t>(size_t{width} * height * 3), width, height};
    const uint8_t colours[4][3] = {{230, 20, 20}, {20, 200, 20}, {20, 20, 230}, {240, 240, 240}};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* c = colours[(y >= height / 2) * 2 + (x >= width / 2)];
            std::copy(c, c + 3, &p.rgb[(size_t{y} * width + x) * 3]);
        }
    return p;
}

// The stored form of an upright picture that a camera would tag with `orientation`.
Picture Stored(const Picture& upright, uint32_t orientation)
{
    static constexpr uint32_t kInverse[9] = {0, 1, 2, 3, 4, 5, 8, 7, 6};
    const bool turned = orientation >= 5;
    Picture p{std::vector<uint8_t>(upright.rgb.size()), turned ? upright.height : upright.width,
              turned ? upright.width : upright.height};
    EXPECT_EQ(OrientRGB24(upright.rgb.data(), upright.width, upright.height, p.rgb.data(), kInverse[orientation]), 1u);
    return p;
}

void WritePhoto(const std::string& path, const Picture& p, const std::vector<std::vector<uint8_t>>& app1,
                const std::vector<uint8_t>& profile = {}, uint32_t code = 225)
{
    ClearJPGOutputMarkers();
    for (const auto& payload : app1)
        AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), code);
    if (!profile.empty())
        AddJPGOutputICCProfile(profile.data(), static_cast<uint32_t>(profile.size()));
    uint32_t ones[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    SetJPGSampling(ones, ones);
    DataChannel* sink = OpenFileSink(path.c_str());
    ASSERT_NE(sink, nullptr);
    ASSERT_NE(WriteJPG(sink, p.rgb.data(), p.width, p.height, 95, 0, 24, nullptr), 0u);
    CloseSink(sink);
    ClearJPGOutputMarkers();
    SetJPGSampling(nullptr, nullptr);
}

Picture ReadPhoto(const std::string& path)
{
    Picture p;
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source)
        return p;
    test::GlobalPtr<uint8_t> pixels(ReadJPG(source, &p.width, &p.height, 24));
    CloseSource(source);
    if (pixels)
        p.rgb.assign(pixels.get(), pixels.get() + size_t{p.width} * p.height * 3);
    return p;
}

double MeanDifference(const Picture& a, const Picture& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(int{a.rgb[i]} - int{b.rgb[i]});
    return a.rgb.empty() ? 999 : sum / a.rgb.size();
}

constexpr OutputFormat kFormats[] = {FormatJpeg, FormatWebp, FormatAvif};

BatchSettings Settings(const TempFolder& in, const TempFolder& out)
{
    BatchSettings s;
    s.PathIn = in.path().string() + "/";
    s.PathOut = out.path().string() + "/";
    s.Width = 60;
    s.Height = 40;
    s.Quality = 95;
    return s;
}

std::vector<uint8_t> TaggedExif(uint16_t orientation)
{
    test::ExifSpec spec;
    spec.orientation = orientation;
    return test::ExifBlock(spec);
}

class Quiet : public BatchProgress {
public:
    void SetRange(uint32_t, uint32_t) override {}
    void SetPos(uint32_t) override {}
    void ShowPreview(const std::string&) override {}
    bool CheckCancelButton() override { return false; }
};

// The thumbnail of one source, by a run of that one file into PathOut: "" or why not.
std::string MakeThumbnail(const BatchSettings& s, const std::string& source)
{
    Quiet quiet;
    const BatchResult result = RunBatch(s, {source}, quiet);
    if (result.refusal != Refusal::None)
        return RefusalText(result.refusal);
    return result.skipped.empty() ? "" : result.skipped[0].reason;
}

TEST(AutoRotate, EveryOrientationComesOutUprightUnderEveryRule)
{
    TempFolder in, out;
    BatchSettings s = Settings(in, out);
    for (const Picture& upright : {Quadrants(96, 64), Quadrants(64, 96)}) {
        WritePhoto(in / "reference.jpg", upright, {TaggedExif(1)});
        for (uint32_t o = 1; o <= 8; ++o)
            WritePhoto(in / (std::to_string(o) + ".jpg"), Stored(upright, o), {TaggedExif(static_cast<uint16_t>(o))});
        for (int32_t rule : {PerfectFit, FitOutside, FitInside})
            for (int32_t portrait : {ReverseBox, FitInsideAll, CropLandscape, RulesOnly}) {
                s.Type = rule;
                s.Portrait = portrait;
                ASSERT_EQ(MakeThumbnail(s, in / "reference.jpg"), "");
                const Picture expected = ReadPhoto(out / "reference.jpg");
                for (uint32_t o = 1; o <= 8; ++o) {
                    const std::string name = std::to_string(o) + ".jpg";
                    ASSERT_EQ(MakeThumbnail(s, in / name), "");
                    const Picture made = ReadPhoto(out / name);
                    const std::string what = "orientation " + std::to_string(o) + ", rule " + std::to_string(rule) +
                                             ", portrait rule " + std::to_string(portrait) + ", source " +
                                             std::to_string(upright.width) + "x" + std::to_string(upright.height);
                    ASSERT_EQ(made.width, expected.width) << what;
                    ASSERT_EQ(made.height, expected.height) << what;
                    EXPECT_LT(MeanDifference(made, expected), 12.0) << what;
                }
            }
    }
}

TEST(AutoRotate, PhoneHeldUprightIsHandledAsPortraitUnlessSwitchedOff)
{
    TempFolder in, out;
    BatchSettings s = Settings(in, out);
    s.Portrait = FitInsideAll;
    WritePhoto(in / "phone.jpg", Quadrants(120, 90), {TaggedExif(6)});  // landscape pixels, tag 6
    ASSERT_EQ(MakeThumbnail(s, in / "phone.jpg"), "");
    const test::Size upright = test::JpegSize(out / "phone.jpg");
    EXPECT_EQ(upright.height, 40u);  // fitted inside 60 x 40 as a portrait
    EXPECT_LT(upright.width, upright.height);
    s.AutoRotate = 0;
    ASSERT_EQ(MakeThumbnail(s, in / "phone.jpg"), "");
    const test::Size lying = test::JpegSize(out / "phone.jpg");
    EXPECT_GT(lying.width, lying.height);
}

// The reduced load aims at the thumbnail as stored: a phone's portrait, stored lying, is
// covered on both sides, and still gives the same size.
TEST(AutoRotate, TheReducedLoadAimsAtTheTurnedThumbnail)
{
    TempFolder in, out;
    BatchSettings s = Settings(in, out);
    s.Width = 200;
    s.Height = 150;
    s.FastDecode = 1;
    const struct {
        uint16_t orientation;
        int32_t autoRotate;
        uint32_t width, height;  // of the thumbnail
    } rows[] = {
        {1, 1, 200, 150},
        {6, 1, 112, 150},  // upright 1200 x 1600: 150 x 112 as stored
        {8, 1, 112, 150},
        {6, 0, 200, 150},  // the tag ignored: a landscape
    };
    for (const auto& row : rows) {
        const std::string what = "orientation " + std::to_string(row.orientation) + ", auto-rotate " +
                                 std::to_string(row.autoRotate);
        s.AutoRotate = row.autoRotate;
        const std::string name = std::to_string(row.orientation) + ".jpg";
        WritePhoto(in / name, Quadrants(1600, 1200), {TaggedExif(row.orientation)});
        CImageObject image;
        image.SetLoadRule([&s](uint32_t w, uint32_t h, uint32_t o) { return ThumbnailLoadAim(w, h, o, s); });
        ASSERT_EQ(image.LoadFile(in / name), 0u) << what;
        EXPECT_EQ(image.StoredWidth(), 1600u) << what;
        const bool turned = row.autoRotate && row.orientation >= 5;
        const uint32_t aimWidth = turned ? row.height : row.width, aimHeight = turned ? row.width : row.height;
        EXPECT_GE(image.Width(), aimWidth) << what;
        EXPECT_LE(image.Width(), 2 * aimWidth) << what;
        EXPECT_GE(image.Height(), aimHeight) << what;
        EXPECT_LE(image.Height(), 2 * aimHeight) << what;
        ASSERT_EQ(MakeThumbnail(s, in / name), "") << what;
        const test::Size made = test::JpegSize(out / name);
        EXPECT_EQ(made.width, row.width) << what;
        EXPECT_EQ(made.height, row.height) << what;
    }
}

struct DataUnref {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};
using Exif = std::unique_ptr<ExifData, DataUnref>;

Exif Load(const std::vector<uint8_t>& block)
{
    Exif data(exif_data_new());
    exif_data_load_data(data.get(), block.data(), static_cast<unsigned>(block.size()));
    return data;
}

uint32_t Number(const Exif& data, ExifIfd ifd, ExifTag tag)
{
    ExifEntry* e = exif_content_get_entry(data->ifd[ifd], tag);
    if (!e)
        return 0;
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    return e->format == EXIF_FORMAT_SHORT ? exif_get_short(e->data, order) : exif_get_long(e->data, order);
}

TEST(CopyExif, CarriedBlockTellsTheThumbnailsTruth)
{
    TempFolder in, out;
    WritePhoto(in / "p.jpg", Quadrants(120, 90), {TaggedExif(6)});
    const struct {
        uint32_t stripGps;
        size_t gpsTags;
    } cases[] = {{0, 3}, {1, 0}};
    for (const auto& c : cases) {
        BatchSettings s = Settings(in, out);
        s.CopyExif = 1;
        s.StripGPS = c.stripGps;
        ASSERT_EQ(MakeThumbnail(s, in / "p.jpg"), "");
        const auto carried = test::App1Payloads(out / "p.jpg");
        ASSERT_EQ(carried.size(), 1u);
        ASSERT_TRUE(IsExifPayload(carried[0]));
        const Exif exif = Load(carried[0]);
        const test::Size size = test::JpegSize(out / "p.jpg");
        EXPECT_EQ(Number(exif, EXIF_IFD_0, EXIF_TAG_ORIENTATION), 1u);
        EXPECT_EQ(Number(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), size.width);
        EXPECT_EQ(Number(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION), size.height);
        EXPECT_EQ(exif->ifd[EXIF_IFD_1]->count, 0u);
        EXPECT_EQ(exif->size, 0u);
        EXPECT_NE(exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_MAKE), nullptr);
        EXPECT_NE(exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_MAKER_NOTE), nullptr);
        EXPECT_EQ(exif->ifd[EXIF_IFD_GPS]->count, c.gpsTags);
    }
}

TEST(CopyExif, UnparsableBlockIsCarriedByteForByteUnlessTheLocationMustGo)
{
    TempFolder in, out;
    const std::vector<uint8_t> junk = test::ExifPayload(3000, 5);  // the identifier, then noise
    test::WriteJpeg(in / "p.jpg", 200, 150, {junk});
    BatchSettings s = Settings(in, out);
    s.CopyExif = 1;
    ASSERT_EQ(MakeThumbnail(s, in / "p.jpg"), "");
    EXPECT_EQ(test::App1Payloads(out / "p.jpg"), std::vector<std::vector<uint8_t>>{junk});
    s.StripGPS = 1;  // the block might hold a location that cannot be taken out
    ASSERT_EQ(MakeThumbnail(s, in / "p.jpg"), "");
    EXPECT_TRUE(test::App1Payloads(out / "p.jpg").empty());
}

// The profile's bytes; closes it.
std::vector<uint8_t> Saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

std::vector<uint8_t> DisplayP3()
{
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<uint8_t> bytes = Saved(cmsCreateRGBProfile(&d65, &p3, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<uint8_t> ThumbnailProfile(const std::string& path)
{
    DataChannel* source = OpenFileSource(path.c_str());
    uint32_t w = 0, h = 0, bits = 0, length = 0;
    GetJPGDimensions(source, &w, &h, &bits, nullptr);
    CloseSource(source);
    test::GlobalPtr<uint8_t> profile(GetJPGICCProfile(&length));
    return profile ? std::vector<uint8_t>(profile.get(), profile.get() + length) : std::vector<uint8_t>{};
}

struct Carried {
    std::vector<uint8_t> exif;  // as an APP1 payload
    std::vector<uint8_t> icc;
};

// The EXIF block and profile carried by the thumbnail of `source` in the run's format, as the
// library reads them.
Carried CarriedMetadata(const BatchSettings& s, const std::string& source)
{
    const std::string path = OutputPathFor(s, source);
    Carried carried;
    if (s.Format == FormatJpeg) {
        for (const auto& payload : test::App1Payloads(path))
            if (IsExifPayload(payload))
                carried.exif = payload;
        carried.icc = ThumbnailProfile(path);
        return carried;
    }
    DataChannel* channel = OpenFileSource(path.c_str());
    uint32_t w = 0, h = 0, exifSize = 0, iccSize = 0;
    const uint32_t type = DetectFileType(channel);
    ChannelSeek(channel, 0, 0);
    GlobalFree(LoadPictureRGB24(channel, type, &w, &h));
    CloseSource(channel);
    uint8_t* exif = nullptr;
    uint8_t* icc = nullptr;
    EXPECT_EQ(GetPictureMetadata(&exif, &exifSize, &icc, &iccSize), 1u);
    test::GlobalPtr<uint8_t> exifOwner(exif), iccOwner(icc);
    EXPECT_TRUE(w && h) << path;
    if (exifSize) {
        carried.exif = {'E', 'x', 'i', 'f', 0, 0};
        carried.exif.insert(carried.exif.end(), exif, exif + exifSize);
    }
    carried.icc.assign(icc, icc + iccSize);
    return carried;
}

std::vector<uint8_t> CarriedProfile(const BatchSettings& s, const std::string& source)
{
    return CarriedMetadata(s, source).icc;
}

// A block that cannot be rewritten is carried as it came, but never with an orientation that
// turns the upright thumbnail again: it is set upright in place, in every format.
TEST(CopyExif, ATurnedThumbnailNeverCarriesATurningOrientation)
{
    test::ExifSpec spec;
    spec.orientation = 6;
    spec.previewBytes = 0;
    spec.makerNoteBytes = 48;
    spec.pixelSizes = false;  // the rewrite adds them
    spec.makerNoteBytes += 65533 - 8 - static_cast<uint32_t>(test::ExifBlock(spec).size());
    const std::vector<uint8_t> block = test::ExifBlock(spec);
    uint32_t length = 0;
    ASSERT_EQ(RewriteExifBlock(block.data(), static_cast<uint32_t>(block.size()), 60, 40, PX_EXIF_UPRIGHT, &length),
              nullptr) << "the rewritten block must no longer fit one marker";
    TempFolder in, out;
    WritePhoto(in / "p.jpg", Stored(Quadrants(90, 60), 6), {block});
    BatchSettings s = Settings(in, out);
    s.CopyExif = 1;
    for (const OutputFormat format : kFormats) {
        SCOPED_TRACE(format);
        s.Format = format;
        ASSERT_EQ(MakeThumbnail(s, in / "p.jpg"), "");
        const std::vector<uint8_t> carried = CarriedMetadata(s, in / "p.jpg").exif;
        ASSERT_EQ(carried.size(), block.size());
        EXPECT_EQ(GetExifOrientation(carried.data(), static_cast<uint32_t>(carried.size())), 1u);
    }
    // Where IFD0 cannot be found the tag cannot be set: such a block is left out.
    struct Damage {
        bool bigEndian;
        size_t at;
        uint8_t value;
        size_t kept = 400;  // bytes of the block left
    };
    const Damage damages[] = {
        {true, 6, 'X'},      // no byte order
        {false, 8, 43},      // not TIFF
        {false, 13, 0x7F},   // IFD0 past the block
        {false, 14, 0xFF},   // IFD0's entries past the block
        {false, 0, 'X'},     // not an EXIF block, though TIFF follows
        {false, 6, 'I', 12}, // too short for a TIFF header (the sanitizer build sees a read past it)
    };
    spec.makerNoteBytes = 48;
    for (const auto& [bigEndian, at, value, kept] : damages) {
        spec.bigEndian = bigEndian;
        const std::vector<uint8_t> small = test::ExifBlock(spec);
        std::vector<uint8_t> intact(small.begin(), small.begin() + 400);
        std::vector<uint8_t> lost(small.begin(), small.begin() + static_cast<long>(kept));
        EXPECT_TRUE(MarkExifUpright(intact)) << at;
        lost[at] = value;
        const std::vector<uint8_t> before = lost;
        EXPECT_FALSE(MarkExifUpright(lost)) << at;
        EXPECT_EQ(lost, before) << at;
    }
}

// exiftool's reading of each tag of the file, "-" for a tag it does not hold.
std::vector<std::string> ExifTool(const std::string& path, const std::vector<std::string>& tags)
{
    std::string command = "exiftool -s3 -f -n -sep ,";
    for (const std::string& tag : tags)
        command += " -" + tag;
    std::string text;
    if (FILE* pipe = popen((command + " '" + path + "' 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, got);
        pclose(pipe);
    }
    std::vector<std::string> values;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        values.push_back(text.substr(start, end - start));
    return values;
}

void Collect(const char* text, void* lines)
{
    *static_cast<std::string*>(lines) += text;
}

// A photograph as a photo library leaves it, turned by its tag 6, against what each format's
// thumbnail carries; then sources with one damaged block, which is left out.
TEST(CopyExif, ThumbnailsCarryTheSourcesFieldsTrueOfThem)
{
    TempFolder in, out;
    WritePhoto(in / "photo.jpg", Stored(Quadrants(90, 120), 6), {TaggedExif(6)});
    ASSERT_EQ(std::system(("exiftool -q -q -overwrite_original -ExifIFD:LensModel='QL 35mm' -XMP-xmp:Rating=5 "
                           "-XMP-dc:Subject=holiday -XMP-dc:Subject=beach -XMP-tiff:Orientation#=6 "
                           "-XMP-exif:GPSLatitude=48.85 -XMP-iptcExt:LocationShownGPSLatitude=48.85 "
                           "-XMP-iptcExt:LocationShownCity=Paris -XMP-photoshop:City=Paris -IPTC:Keywords=holiday "
                           "-IPTC:Caption-Abstract='At the quay' -IPTC:CopyrightNotice='(c) Ann' '" +
                           in / "photo.jpg" + "'").c_str()), 0);
    for (const auto& [name, type] : {std::pair{"photo.png", PX_FILE_PNG}, std::pair{"photo.tif", PX_FILE_TIFF}}) {
        ASSERT_TRUE(test::WritePicture(in / name, type, 90, 120));
        ASSERT_EQ(std::system(("exiftool -q -q -overwrite_original -tagsFromFile '" + in / "photo.jpg" +
                               "' -all:all -Orientation= '" + in / name + "'").c_str()), 0);
    }
    // A caption too long for one marker: exiftool puts it in the packet's extension.
    WritePhoto(in / "long.jpg", Quadrants(90, 60), {});
    const std::string caption(70000, 'x');
    ASSERT_EQ(std::system(("exiftool -q -q -overwrite_original -XMP-xmp:Rating=5 -XMP-exif:GPSLatitude=48.85 "
                           "-XMP-dc:Description=" + caption + " '" + in / "long.jpg" + "'").c_str()), 0);
    // The damaged blocks of the hostile-input samples, each in its own source.
    std::vector<std::pair<std::string, std::string>> damaged;  // name, identifier of the block
    for (const test::HostileSample& sample : test::HostileSamples()) {
        const std::string name = sample.name;
        if (name.rfind("jpeg_meta_", 0) != 0)
            continue;
        const std::vector<uint8_t> bytes = sample.make();
        std::ofstream(in / (name + ".jpg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        damaged.emplace_back(name + ".jpg", name.find("exif") != std::string::npos  ? "Exif"
                                   : name.find("xmp") != std::string::npos ? "http://ns.adobe.com/xap/1.0/"
                                                                           : "Photoshop");
    }
    ASSERT_EQ(damaged.size(), 7u);
    const std::vector<std::string> tags = {
        "XMP-xmp:Rating", "XMP-dc:Subject", "EXIF:Model", "EXIF:LensModel", "EXIF:DateTimeOriginal",
        "EXIF:GPSLatitude", "XMP-exif:GPSLatitude", "XMP-iptcExt:LocationShownGPSLatitude",
        "XMP-iptcExt:LocationShownCity", "XMP-photoshop:City", "EXIF:Orientation", "XMP-tiff:Orientation",
        "EXIF:ExifImageWidth", "EXIF:ExifImageHeight", "EXIF:ThumbnailLength", "Composite:ImageSize",
        "IPTC:Keywords", "IPTC:Caption-Abstract", "IPTC:CopyrightNotice", "XMP-dc:Description", "XMP-dc:Rights"};
    struct Row {
        std::string source;
        OutputFormat format;
        uint32_t stripGps, autoRotate;
        std::string absent = {};  // for a damaged block: its identifier
    };
    std::vector<Row> rows = {
        {"photo.jpg", FormatJpeg, 0, 1}, {"photo.jpg", FormatJpeg, 1, 1}, {"photo.jpg", FormatJpeg, 1, 0},
        {"photo.jpg", FormatWebp, 0, 1}, {"photo.jpg", FormatWebp, 1, 1}, {"photo.jpg", FormatWebp, 1, 0},
        {"photo.jpg", FormatAvif, 0, 1}, {"photo.jpg", FormatAvif, 1, 1}, {"photo.jpg", FormatAvif, 1, 0},
        {"photo.webp", FormatJpeg, 0, 1}, {"photo.avif", FormatAvif, 1, 1},  // sources: the rows' thumbnails
        {"photo.png", FormatJpeg, 0, 1}, {"photo.tif", FormatWebp, 1, 0},
        {"long.jpg", FormatJpeg, 1, 1}, {"long.jpg", FormatWebp, 1, 1},
    };
    for (const auto& [name, id] : damaged)
        rows.push_back({name, FormatJpeg, 0, 1, id});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source + " format " + std::to_string(row.format) + " strip GPS " +
                     std::to_string(row.stripGps) + " auto-rotate " + std::to_string(row.autoRotate));
        BatchSettings s = Settings(in, out);
        s.CopyExif = 1;
        s.StripGPS = row.stripGps;
        s.AutoRotate = row.autoRotate;
        s.Format = row.format;
        std::string debug;
        SetDebugSink(Collect, &debug);
        const std::string made = MakeThumbnail(s, in / row.source);
        SetDebugSink(nullptr, nullptr);
        ASSERT_EQ(made, "");
        const std::string thumbnail = OutputPathFor(s, in / row.source);
        if (row.stripGps == 0 && row.autoRotate == 1 && row.format != FormatJpeg)
            std::filesystem::copy_file(thumbnail, in / std::filesystem::path(thumbnail).filename());
        if (!row.absent.empty()) {
            const std::vector<uint8_t> bytes = test::ReadBytes(thumbnail);
            EXPECT_EQ(std::search(bytes.begin(), bytes.end(), row.absent.begin(), row.absent.end()), bytes.end());
            EXPECT_NE(debug.find("left out"), std::string::npos) << debug;
            continue;
        }
        if (row.source == "long.jpg") {
            EXPECT_EQ(ExifTool(thumbnail, {"XMP-xmp:Rating", "XMP-exif:GPSLatitude", "XMP-dc:Description"}),
                      (std::vector<std::string>{"5", "-", caption}));
            continue;
        }
        // Kept everywhere; the location only without "Remove location"; the orientation true of
        // the pixels (an AVIF file is shown as stored); IPTC in a JPEG's own block, else in XMP.
        const bool web = row.format != FormatJpeg || row.source == "photo.webp" || row.source == "photo.avif";
        const std::string gps = row.stripGps ? "-" : "48.85";
        const std::string width = row.autoRotate || row.source != "photo.jpg" ? "30" : "53";
        const bool file = row.source == "photo.png" || row.source == "photo.tif";  // authored without a tag
        const std::string orientation = file ? "-" : row.autoRotate || row.format == FormatAvif ? "1" : "6";
        const std::vector<std::string> expected = {
            "5", "holiday,beach", "QC-1", "QL 35mm", "2024:05:01 10:00:00", row.stripGps ? "-" : "51.5", gps, gps,
            "Paris", "Paris", orientation, orientation, width, "40", "-", width + " 40",
            web ? "-" : "holiday", web ? "-" : "At the quay", web ? "-" : "(c) Ann",
            web ? "At the quay" : "-", web ? "(c) Ann" : "-"};
        EXPECT_EQ(ExifTool(thumbnail, tags), expected);
    }
}

TEST(PngGamma, ThumbnailsAreForAnSrgbScreenWhileTheLibraryKeepsItsDefault)
{
    struct Row {
        const char* name;
        std::optional<double> gamma;
        bool srgb;
        int grey;  // of the thumbnail of a picture of grey 128
    };
    const Row rows[] = {
        {"plain.png", std::nullopt, false, 128},
        {"editor.png", 1 / 2.2, false, 128},
        {"srgb.png", std::nullopt, true, 128},
        {"linear.png", 1.0, false, 186},  // 255 * (128 / 255)^(1 / 2.2)
    };
    TempFolder in, out;
    const BatchSettings s = Settings(in, out);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::PngSpec spec;
        spec.width = 90;
        spec.height = 60;
        spec.colorType = PNG_COLOR_TYPE_GRAY;
        spec.rows.assign(90 * 60, 128);
        spec.gamma = row.gamma;
        spec.srgb = row.srgb;
        const std::vector<uint8_t> file = test::MakePng(spec);
        std::ofstream(in / row.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        ASSERT_EQ(MakeThumbnail(s, in / row.name), "");
        const Picture thumbnail = ReadPhoto(OutputPathFor(s, in / row.name));
        ASSERT_FALSE(thumbnail.rgb.empty());
        for (const uint8_t v : {thumbnail.rgb.front(), thumbnail.rgb[thumbnail.rgb.size() / 2], thumbnail.rgb.back()})
            EXPECT_NEAR(v, row.grey, 2);
    }
    // The image object reads for its gamma and leaves the thread's as it was; ReadPNG keeps
    // reading for a display gamma of 2.9.
    CImageObject image;
    image.SetPngDisplayGamma(2.2);
    ASSERT_EQ(image.LoadFile(in / "editor.png"), 0u);
    EXPECT_NEAR(image.GetPixel(0, 0) & 0xFF, 128u, 2u);
    EXPECT_EQ(GetPNGDisplayGamma(), 2.9);
    DataChannel* source = OpenFileSource((in / "editor.png").c_str());
    uint32_t width = 0, height = 0;
    test::GlobalPtr<uint8_t> pixels(ReadPNG(source, &width, &height, 24, nullptr));
    CloseSource(source);
    ASSERT_NE(pixels, nullptr);
    EXPECT_NEAR(pixels.get()[0], 151, 2);
}

TEST(ColourProfile, CarriedWithoutCopyExifOrConvertedToSRGBOnRequest)
{
    TempFolder in, out;
    const std::vector<uint8_t> p3 = DisplayP3();
    WritePhoto(in / "wide.jpg", Quadrants(120, 90), {}, p3);
    TempFolder srgbOut;
    BatchSettings s = Settings(in, out);
    ASSERT_EQ(MakeThumbnail(s, in / "wide.jpg"), "");
    EXPECT_EQ(ThumbnailProfile(out / "wide.jpg"), p3);
    EXPECT_TRUE(test::App1Payloads(out / "wide.jpg").empty());

    s = Settings(in, srgbOut);
    s.ToSRGB = 1;
    ASSERT_EQ(MakeThumbnail(s, in / "wide.jpg"), "");
    EXPECT_TRUE(ThumbnailProfile(srgbOut / "wide.jpg").empty());
    EXPECT_GT(MeanDifference(ReadPhoto(srgbOut / "wide.jpg"), ReadPhoto(out / "wide.jpg")), 3.0);

    // WebP and AVIF carry what a JPEG thumbnail carries: sRGB pixels are not labelled P3.
    for (const OutputFormat format : {FormatWebp, FormatAvif}) {
        for (const uint32_t toSrgb : {0u, 1u}) {
            s = Settings(in, out);
            s.Format = format;
            s.ToSRGB = toSrgb;
            ASSERT_EQ(MakeThumbnail(s, in / "wide.jpg"), "");
            EXPECT_EQ(CarriedProfile(s, in / "wide.jpg"), toSrgb ? std::vector<uint8_t>{} : p3)
                << format << " ToSRGB " << toSrgb;
        }
    }
}

TEST(ColourProfile, AGreyProfileTravelsAsItsRgbEquivalentInEveryFormat)
{
    TempFolder in, out;
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    std::vector<uint8_t> profile = Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    // Made in 2001: the equivalent keeps that date, whenever and in whichever format it is made.
    const uint8_t made[12] = {0x07, 0xD1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6};
    std::copy(made, made + 12, profile.begin() + 24);
    WritePhoto(in / "grey.jpg", Quadrants(120, 90), {}, profile);
    std::vector<uint8_t> jpegs;
    for (const OutputFormat format : kFormats) {
        BatchSettings s = Settings(in, out);
        s.Format = format;
        ASSERT_EQ(MakeThumbnail(s, in / "grey.jpg"), "");
        const std::vector<uint8_t> carried = CarriedProfile(s, in / "grey.jpg");
        EXPECT_FALSE(carried.empty()) << format;
        EXPECT_NE(carried, profile) << format;
        ASSERT_GE(carried.size(), 36u);
        EXPECT_TRUE(std::equal(made, made + 12, carried.begin() + 24)) << format;
        if (format == FormatJpeg)
            jpegs = carried;
        EXPECT_EQ(carried, jpegs) << format;
    }
}

// A CMYK JPEG as Adobe applications write it, with one ICC_PROFILE chunk, through libjpeg.
void WriteCmykPhoto(const std::string& path, const std::vector<uint8_t>& profile)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = 40;
    cinfo.image_height = 30;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> chunk = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
    chunk.insert(chunk.end(), profile.begin(), profile.end());
    jpeg_write_marker(&cinfo, JPEG_APP0 + 2, chunk.data(), static_cast<unsigned>(chunk.size()));
    std::vector<uint8_t> row(40 * 4, 200);
    for (int y = 0; y < 30; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

TEST(ColourProfile, CmykSourcesProfileIsNotCarried)
{
    TempFolder in, out;
    cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(cmyk, cmsSigOutputClass);
    cmsSetColorSpace(cmyk, cmsSigCmykData);
    cmsSetPCS(cmyk, cmsSigLabData);
    const std::vector<uint8_t> profile = Saved(cmyk);
    WriteCmykPhoto(in / "print.jpg", profile);
    CImageObject source;
    ASSERT_EQ(source.LoadFile(in / "print.jpg"), 0u);
    ASSERT_EQ(source.IccProfile(), profile);  // the profile is there to be refused
    for (const OutputFormat format : kFormats)
        for (uint32_t toSrgb : {0u, 1u}) {
            BatchSettings s = Settings(in, out);
            s.Format = format;
            s.ToSRGB = toSrgb;
            ASSERT_EQ(MakeThumbnail(s, in / "print.jpg"), "");
            EXPECT_TRUE(CarriedProfile(s, in / "print.jpg").empty()) << format << " ToSRGB " << toSrgb;
        }
}

TEST(Switches, OffGiveTodaysBytes)
{
    TempFolder in, out;
    WritePhoto(in / "p.jpg", Quadrants(120, 90), {TaggedExif(6), test::XmpPayload()});
    BatchSettings s = Settings(in, out);
    s.AutoRotate = 0;
    for (const uint32_t exact : {0u, 1u}) {
        s.Exact = exact;
        ASSERT_EQ(MakeThumbnail(s, in / "p.jpg"), "");

        // The road without any of it: load (reduced for the thumbnail, or whole), resize, save
        // with no markers.
        const auto plan = ThumbnailGeometry(120, 90, s);
        ASSERT_TRUE(plan);
        CImageObject image;
        if (!exact)
            image.SetPreviewAim(plan->width, plan->height);
        ASSERT_EQ(image.LoadFile(in / "p.jpg"), 0u);
        const auto w = uint32_t(plan->width), h = uint32_t(plan->height);
        ASSERT_EQ(exact ? image.ResizeTo(w, h, 0) : image.ResizeSmoothly(w, h, 0), 0u);
        if (plan->crop)
            image.CropToBox(plan->crop->boxWidth, plan->crop->boxHeight, plan->crop->position);
        ClearJPGOutputMarkers();
        image.SetJpegQuality(95);
        image.SetFullChroma(1);
        ASSERT_EQ(image.SaveFile(out / "plain.jpg", TypeJpeg), 0u);
        // The same, but for the provenance record every thumbnail carries.
        std::vector<uint8_t> thumbnail = test::ReadBytes(out / "p.jpg");
        const std::vector<uint8_t> record = {0xFF, 0xEB, 0x00, 0x33, 'Q', 'u', 'i', 'l', 'l', 'e', 't', 0};
        const auto at = std::search(thumbnail.begin(), thumbnail.end(), record.begin(), record.end());
        ASSERT_NE(at, thumbnail.end());
        thumbnail.erase(at, at + 2 + 0x33);
        EXPECT_EQ(thumbnail, test::ReadBytes(out / "plain.jpg")) << "exact " << exact;
    }
}

}  // namespace
}  // namespace quillet
