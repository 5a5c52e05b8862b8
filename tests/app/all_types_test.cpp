// Every picture type through the image object, the scan, the thumbnail names and the preview.
#include "core/batch.h"
#include "core/file_types.h"
#include "core/image_object.h"
#include "core/preview.h"
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

CImageObject& Filled(CImageObject& image, uint32_t w, uint32_t h)
{
    const std::vector<uint8_t> rgb = test::TestPicture(w, h, 3);
    EXPECT_EQ(image.Allocate(w, h), 0u);
    std::copy(rgb.begin(), rgb.end(), image.Pixels());
    return image;
}

struct SaveRow {
    int32_t code;
    int32_t readsAs;  // the type detection gives the written file
    bool exact;       // reads back pixel for pixel
    bool grey;
};

TEST(SaveFile, EveryCodeWithAWriterWritesItsFormat)
{
    const SaveRow rows[] = {
        {TypeJpegGrey, TypeJpeg, false, true}, {TypePng, TypePng, true, false},
        {TypePng256, TypePng, false, false},   {TypePngGrey, TypePng, false, true},
        {TypeBmp, TypeBmp, true, false},       {TypeBmp256, TypeBmp, false, false},
        {TypeBmpGrey, TypeBmp, false, true},   {TypeTiff, TypeTiff, true, false},
        {TypeTiff256, TypeTiff, false, false}, {TypeTiffGrey, TypeTiff, false, true},
    };
    TempFolder folder;
    CImageObject image;
    Filled(image, 48, 31);  // odd width: BMP rows are padded
    for (const SaveRow& row : rows) {
        SCOPED_TRACE(row.code);
        const std::string path = folder / ("code" + std::to_string(row.code));
        ASSERT_EQ(image.SaveFile(path, row.code), 0u);
        EXPECT_EQ(TypeFromContent(path), row.readsAs);
        if (ReaderFor(row.readsAs) == PX_FILE_UNKNOWN)
            continue;  // no reader yet to look inside
        CImageObject back;
        ASSERT_EQ(back.LoadFile(path), 0u);
        ASSERT_EQ(back.Width(), 48u);
        ASSERT_EQ(back.Height(), 31u);
        for (uint32_t y = 0; y < 31; ++y)
            for (uint32_t x = 0; x < 48; ++x) {
                const uint32_t p = back.GetPixel(x, y);
                if (row.exact) {
                    ASSERT_EQ(p, image.GetPixel(x, y)) << x << "," << y;
                }
                if (row.grey) {
                    ASSERT_TRUE((p & 0xFF) == ((p >> 8) & 0xFF) && (p & 0xFF) == (p >> 16)) << x << "," << y;
                }
            }
    }
}

TEST(SaveFile, CodesWithoutAWriterCreateNoFile)
{
    TempFolder folder;
    CImageObject image;
    Filled(image, 8, 8);
    for (int32_t code : {int32_t{TypeGif}, int32_t{TypePax}, int32_t{TypeWmf}, 0, 23, -1}) {
        const std::string path = folder / ("code" + std::to_string(code));
        EXPECT_EQ(image.SaveFile(path, code), 5u) << code;
        EXPECT_FALSE(fs::exists(path)) << code;
    }
}

TEST(OutputPathsFor, ThumbnailsAreJpegNamesAndClashesOfOneFolderKeepTheirExtension)
{
    BatchSettings s;
    s.PathIn = "/in/";
    s.PathOut = "/out/";
    const std::vector<std::string> files = {"/in/a.png", "/in/a.tif", "/in/a.jpg", "/in/sub/a.png",
                                            "/in/b.JPG", "/in/c.jpeg", "/in/d",    "/in/.e.psd"};
    const std::vector<std::string> expected = {"/out/a.jpg", "/out/a.tif.jpg", "/out/a.jpg.jpg",
                                               "/out/a (sub).jpg",  // another folder: it carries its own
                                               "/out/b.JPG", "/out/c.jpeg",    "/out/d.jpg",
                                               "/out/.e.jpg"};
    EXPECT_EQ(OutputPathsFor(s, files), expected);
}

TEST(OutputPathsFor, NamesClashInTheRunsFormat)
{
    const std::vector<std::string> files = {"/in/a.jpg", "/in/a.JPG", "/in/a.png", "/in/a.webp", "/in/sub/a.JPG"};
    const struct {
        OutputFormat format;
        std::vector<std::string> expected;
    } rows[] = {
        {FormatJpeg, {"/out/a.jpg", "/out/a.JPG", "/out/a.png.jpg", "/out/a.webp.jpg", "/out/a (sub).JPG"}},
        {FormatWebp, {"/out/a.webp", "/out/a.JPG.webp", "/out/a.png.webp", "/out/a.webp.webp", "/out/a (sub).webp"}},
        {FormatAvif, {"/out/a.avif", "/out/a.JPG.avif", "/out/a.png.avif", "/out/a.webp.avif", "/out/a (sub).avif"}},
    };
    for (const auto& row : rows) {
        BatchSettings s;
        s.PathIn = "/in/";
        s.PathOut = "/out";
        s.Format = row.format;
        EXPECT_EQ(OutputPathsFor(s, files), row.expected) << row.format;
    }
}

TEST(CollectFiles, AllTypesTakesEveryReadableExtension)
{
    TempFolder in;
    const std::vector<std::string> names = {"a.JPG", "b.jpeg", "c.Png", "d.TIF", "e.tiff", "f.psd", "g.jpe",
                                            "h.gif", "i.txt",  "j",     "k.bmp", "l.pcx",  "m.tga", "n.wmf",
                                            "o.EMF", "p.dib", "q.HEIC", "r.heif", "s.avif", "t.WebP"};
    for (const std::string& name : names)
        std::ofstream(in / name) << "x";
    auto collect = [&](bool allTypes) {
        std::vector<std::string> files;
        CollectFiles(in.path().string(), false, files, {}, allTypes);
        for (std::string& file : files)
            file = fs::path(file).filename().string();
        std::sort(files.begin(), files.end());
        return files;
    };
    EXPECT_EQ(collect(false), std::vector<std::string>{"a.JPG"});
    std::vector<std::string> expected = {"a.JPG", "b.jpeg", "c.Png", "d.TIF", "e.tiff", "f.psd", "g.jpe",
                                         "q.HEIC", "r.heif", "s.avif", "t.WebP"};
    // Types whose readers land on their own are taken once they read.
    const std::pair<const char*, int32_t> later[] = {{"k.bmp", TypeBmp}, {"l.pcx", TypePcx}, {"m.tga", TypeTga},
                                                     {"n.wmf", TypeWmf}, {"o.EMF", TypeEmf}, {"p.dib", TypeBmp}};
    for (const auto& [name, type] : later)
        if (ReaderFor(type) != PX_FILE_UNKNOWN)
            expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(collect(true), expected);
}

// The non-white extent of the frame: width, height.
std::pair<int32_t, int32_t> PaintedSize(const PreviewFrame& frame)
{
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
    for (int32_t y = 1; y < frame.ClientHeight() - 1; ++y)
        for (int32_t x = 1; x < frame.ClientWidth() - 1; ++x)
            if (frame.Pixels()[size_t(y) * frame.ClientWidth() + x] != 0xFFFFFFFFu) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    return maxX < 0 ? std::pair{0, 0} : std::pair{maxX - minX + 1, maxY - minY + 1};
}

// A plain metafile that draws nothing: its picture is the background alone.
void WriteEmptyWmf(const std::string& path)
{
    std::vector<uint8_t> bytes = {1, 0, 9, 0, 0, 3, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0};
    for (int i = 0; i < 3; ++i)  // SETBKMODE, opaque: fills the header past detection's 44 bytes
        bytes.insert(bytes.end(), {4, 0, 0, 0, 0x02, 0x01, 2, 0});
    bytes.insert(bytes.end(), {3, 0, 0, 0, 0, 0});
    const uint32_t words = static_cast<uint32_t>(bytes.size() / 2);
    for (int i = 0; i < 4; ++i)
        bytes[6 + i] = static_cast<uint8_t>(words >> (8 * i));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(PreviewFrame, ShowsAPngAndAMetafileSource)
{
    TempFolder folder;
    PreviewFrame frame;
    frame.Resize(100, 80);
    ASSERT_TRUE(test::WritePicture(folder / "p.png", PX_FILE_PNG, 200, 150));
    frame.ShowPreview(folder / "p.png");
    EXPECT_EQ(PaintedSize(frame), (std::pair{96, 72}));

    if (ReaderFor(TypeWmf) == PX_FILE_UNKNOWN)
        GTEST_SKIP() << "no metafile reader yet";
    WriteEmptyWmf(folder / "m.wmf");
    CImageObject loaded;
    ASSERT_EQ(loaded.LoadFile(folder / "m.wmf"), 0u);
    uint32_t w = 0, h = 0;
    FitPreview(loaded.Width(), loaded.Height(), 96, 76, w, h);
    frame.ShowPreview(folder / "m.wmf");
    // Nothing drawn: the picture is the mid grey background, shown whole.
    EXPECT_EQ(PaintedSize(frame), (std::pair{int32_t(w), int32_t(h)}));
    EXPECT_EQ(frame.Pixels()[40 * 100 + 50] & 0xFFFFFF, 0x808080u);
}

}  // namespace
}  // namespace quillet
