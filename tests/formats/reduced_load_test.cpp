// The reduced load of every readable format against its whole load followed by the area
// reducer, and the streamed road's handling of cut files.
#include "base/frame.h"
#include "formats/png_files.h"
#include "formats/psd_files.h"
#include "formats/reader_files.h"
#include "formats/tiff_files.h"
#include "imaging/area_reduce.h"
#include "support/heif_fixture.h"

#include <gtest/gtest.h>
#include <webp/encode.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>

namespace {

using test::Bytes;

constexpr uint32_t kW = 157, kH = 103;  // no factor divides them: partial blocks on both sides

// A smooth picture with some detail, so averaging and scaling both show.
Bytes Pattern()
{
    Bytes rgb(size_t{kW} * kH * 3);
    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) {
            uint8_t* p = &rgb[(size_t{y} * kW + x) * 3];
            p[0] = uint8_t(x * 255 / kW);
            p[1] = uint8_t(y * 255 / kH);
            p[2] = uint8_t(((x / 8 + y / 8) & 1) ? 200 : 40);
        }
    return rgb;
}

Bytes Saved(uint32_t type, const Bytes& rgb)
{
    test::TempFolder folder;
    const std::string path = folder / "saved";
    DataChannel* sink = OpenFileSink(path.c_str());
    const uint32_t written = type == PX_FILE_JPEG ? WriteJPG(sink, rgb.data(), kW, kH, 95, 0, 24, nullptr)
                                                  : SavePicture(sink, type, rgb.data(), kW, kH, 24, nullptr);
    CloseSink(sink);
    std::ifstream in(path, std::ios::binary);
    return written ? Bytes(std::istreambuf_iterator<char>(in), {}) : Bytes{};
}

Bytes Planes(const Bytes& rgb, bool bgr, bool bottomUp, uint32_t pad)
{
    Bytes out;
    for (uint32_t i = 0; i < kH; ++i) {
        const uint32_t y = bottomUp ? kH - 1 - i : i;
        for (uint32_t x = 0; x < kW; ++x) {
            const uint8_t* p = &rgb[(size_t{y} * kW + x) * 3];
            out.insert(out.end(), {bgr ? p[2] : p[0], p[1], bgr ? p[0] : p[2]});
        }
        out.insert(out.end(), pad, 0);
    }
    return out;
}

// Three planes a line, every byte a literal or a run of one.
Bytes PcxData(const Bytes& rgb)
{
    Bytes out;
    for (uint32_t y = 0; y < kH; ++y)
        for (int c = 0; c < 3; ++c)
            for (uint32_t x = 0; x <= kW; ++x) {  // a pad byte makes the line even
                const uint8_t b = x < kW ? rgb[(size_t{y} * kW + x) * 3 + c] : 0;
                if (b >= 0xC0)
                    out.push_back(0xC1);
                out.push_back(b);
            }
    return out;
}

// RLE8, or RLE4 of indices under 16, from top-down indices: runs of one index, and at row
// `skipped` a delta over three rows, which keep the colour of index 0.
Bytes RleData(const Bytes& indices, bool rle4, uint32_t skipped = kH)
{
    Bytes out;
    for (uint32_t y = kH; y-- > 0;) {
        if (y == skipped) {
            out.insert(out.end(), {0, 2, 0, 3});
            y -= 2;
            continue;
        }
        for (uint32_t x = 0, n = 1; x < kW; x += n, n = 1) {
            const uint8_t v = indices[y * kW + x];
            while (x + n < kW && n < 255 && indices[y * kW + x + n] == v)
                ++n;
            out.insert(out.end(), {uint8_t(n), uint8_t(rle4 ? v * 17 : v)});
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

std::vector<RGBQUAD> Greys(size_t count)
{
    std::vector<RGBQUAD> table(count);
    for (size_t i = 0; i < count; ++i)
        table[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return table;
}

struct Load {
    test::GlobalPtr<uint8_t> pixels;
    uint32_t width = 0, height = 0, code = 0;
};

Load Reduced(const Bytes& file, uint32_t type, uint32_t aimWidth, uint32_t aimHeight, bool seeks = true)
{
    Load l;
    test::CountedSource unseekable{file};
    unseekable.unseekable = true;
    DataChannel* source = seeks ? OpenMemorySource(file.data(), uint32_t(file.size())) : unseekable.Channel();
    l.pixels.reset(LoadPictureReduced(source, type, aimWidth, aimHeight, &l.width, &l.height));
    l.code = GetLastLibraryError();
    CloseSource(source);
    return l;
}

// The whole load, then the reducer, as the fallback road takes it.
Load WholeThenReducer(const Bytes& file, uint32_t type, uint32_t aimWidth, uint32_t aimHeight)
{
    Load l;
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    uint32_t w = 0, h = 0;
    uint8_t* whole = LoadPictureRGB24(source, type, &w, &h);
    CloseSource(source);
    px::Entry([&] {
        px::GlobalBuffer buffer(whole, whole ? GlobalSize(whole) : 0);
        px::Picture reduced = px::reduce::ReducePicture(px::Picture::RGB24(std::move(buffer), w, h), aimWidth, aimHeight);
        l.width = reduced.width();
        l.height = reduced.height();
        l.pixels.reset(reduced.Release());
        return 1;
    });
    return l;
}

TEST(ReducedLoad, EveryReaderMatchesItsWholeLoadFollowedByTheReducer)
{
    const Bytes rgb = Pattern();
    test::TgaHeader tga;
    test::Psd psd;
    psd.width = kW;
    psd.height = kH;
    for (int c = 0; c < 3; ++c) {
        Bytes plane(size_t{kW} * kH);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = rgb[i * 3 + c];
        psd.planes.push_back(plane);
    }
    test::Psd packedPsd = psd;
    packedPsd.compression = 1;
    test::Psd cmyk = psd;  // inverted inks: no black, so the planes are the colours
    cmyk.mode = 4;
    cmyk.channels = 4;
    cmyk.planes.push_back(Bytes(size_t{kW} * kH, 255));
    test::Psd inked = cmyk;  // black ink over the colours, heaviest at the bottom right
    for (size_t i = 0; i < inked.planes[3].size(); ++i)
        inked.planes[3][i] = uint8_t(255 - (i % kW + i / kW) * 200 / (kW + kH));
    test::Psd packedInked = inked;
    packedInked.compression = 1;
    test::Psd grey = packedPsd;  // the green plane alone, and again as indices into a reversed table
    grey.mode = 1;
    grey.channels = 1;
    grey.planes.resize(1);
    grey.planes[0] = psd.planes[1];
    test::Psd indexed = grey;
    indexed.mode = 2;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            indexed.modeData.push_back(uint8_t(c == 1 ? i : 255 - i));
    Bytes indices(size_t{kW} * kH);
    std::vector<RGBQUAD> colours(256);
    for (uint32_t i = 0; i < 256; ++i)
        colours[i] = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i), 0};
    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x)
            indices[y * kW + x] = uint8_t(x / 3 + y / 2 * 5);
    Bytes nibbles = indices;
    for (uint8_t& v : nibbles)
        v &= 15;
    const std::vector<RGBQUAD> sixteen(colours.begin(), colours.begin() + 16);
    test::PngSpec png;
    png.width = kW;
    png.height = kH;
    png.rows = rgb;
    test::PngSpec interlaced = png;
    interlaced.interlaced = true;
    test::PngSpec narrow = interlaced;  // three columns: the passes of odd columns are empty
    narrow.width = 3;
    narrow.rows.clear();
    test::PngSpec greyAlpha = interlaced;  // 16-bit grey and alpha, laid onto black per pass
    greyAlpha.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    greyAlpha.bitDepth = 16;
    greyAlpha.rows.clear();
    for (size_t i = 0; i < size_t{kW} * kH; ++i) {
        if (i % kW < 3)
            narrow.rows.insert(narrow.rows.end(), rgb.begin() + 3 * i, rgb.begin() + 3 * i + 3);
        greyAlpha.rows.insert(greyAlpha.rows.end(), {rgb[3 * i + 1], rgb[3 * i], rgb[3 * i + 2], 0x80});
    }
    test::Page strips;
    strips.width = kW;
    strips.height = kH;
    strips.data = rgb;
    test::Page tiles = strips;  // libtiff's RGBA road, in bands of whole tiles
    tiles.tile = 16;
    test::Page upsideDown = strips;  // the same road, stored bottom row first
    upsideDown.orientation = ORIENTATION_BOTLEFT;
    for (uint32_t y = 0; y < kH; ++y)
        std::copy_n(rgb.begin() + size_t{kH - 1 - y} * kW * 3, kW * 3, upsideDown.data.begin() + size_t{y} * kW * 3);
    test::HeifSpec heif;
    heif.lossless = true;
    heif.format = heif_compression_AV1;
    struct Case {
        const char* what;
        uint32_t type;
        Bytes file;
        uint32_t jpegScale = 1;  // the whole load's decode scale: JPEG's reduction starts there
        uint32_t width = kW;
        bool seeks = true;  // false: through a channel that cannot seek
    };
    const Case cases[] = {
        {"PNG", PX_FILE_PNG, test::MakePng(png)},
        {"PNG interlaced", PX_FILE_PNG, test::MakePng(interlaced)},
        {"PNG interlaced, 3 wide", PX_FILE_PNG, test::MakePng(narrow), 1, 3},
        {"PNG interlaced grey and alpha", PX_FILE_PNG, test::MakePng(greyAlpha)},
        {"TIFF strips", PX_FILE_TIFF, test::MakeTiff({strips})},
        {"TIFF written whole", PX_FILE_TIFF, Saved(PX_FILE_TIFF, rgb)},
        {"TIFF tiles", PX_FILE_TIFF, test::MakeTiff({tiles})},
        {"TIFF bottom row first", PX_FILE_TIFF, test::MakeTiff({upsideDown})},
        {"BMP", PX_FILE_BMP, test::BmpFile(kW, kH, 24, {}, Planes(rgb, true, true, (4 - kW * 3 % 4) % 4))},
        {"BMP top-down", PX_FILE_BMP, test::BmpFile(kW, -int32_t(kH), 24, {}, Planes(rgb, true, false, (4 - kW * 3 % 4) % 4))},
        {"BMP RLE8", PX_FILE_BMP, test::BmpFile(kW, kH, 8, colours, RleData(indices, false, 40), 1)},
        {"BMP RLE4", PX_FILE_BMP, test::BmpFile(kW, kH, 4, sixteen, RleData(nibbles, true, 77), 2)},
        {"PCX", PX_FILE_PCX, test::PcxFile(kW, kH, 8, 3, kW + 1, PcxData(rgb))},
        {"TGA", PX_FILE_TGA, test::TgaFile(kW, kH, tga, Planes(rgb, true, true, 0))},
        {"PSD", PX_FILE_PSD, test::MakePsd(psd)},
        {"PSD PackBits", PX_FILE_PSD, test::MakePsd(packedPsd)},
        {"PSD 16-bit PackBits", PX_FILE_PSD, test::MakePsd(test::Deep(packedPsd, 16))},
        {"PSD 32-bit", PX_FILE_PSD, test::MakePsd(test::Deep(psd, 32))},
        {"PSD CMYK", PX_FILE_PSD, test::MakePsd(cmyk)},
        {"PSD CMYK with black", PX_FILE_PSD, test::MakePsd(inked)},
        {"PSD CMYK PackBits with black", PX_FILE_PSD, test::MakePsd(packedInked)},
        {"PSD CMYK 16-bit PackBits", PX_FILE_PSD, test::MakePsd(test::Deep(packedInked, 16))},
        {"PSD CMYK, no seeking", PX_FILE_PSD, test::MakePsd(packedInked), 1, kW, false},
        {"PSD grey", PX_FILE_PSD, test::MakePsd(grey)},
        {"PSD indexed", PX_FILE_PSD, test::MakePsd(indexed)},
        {"JPEG", PX_FILE_JPEG, Saved(PX_FILE_JPEG, rgb), 4},
        {"AVIF", PX_FILE_AVIF, test::EncodeHeif(rgb.data(), kW, kH, heif)},
    };
    // Aims for a reduction by several factors, by one on a side only, and by none.
    const std::pair<uint32_t, uint32_t> aims[] = {{20, 14}, {150, 30}, {400, 300}};
    for (const Case& c : cases) {
        if (c.file.empty())
            continue;  // no encoder for it here
        for (const auto& [aimWidth, aimHeight] : aims) {
            const std::string what = std::string(c.what) + " aimed at " + std::to_string(aimWidth) + " x " +
                                     std::to_string(aimHeight);
            const uint32_t scale = aimWidth < 100 ? c.jpegScale : 1;
            SetJPGDecodeScale(1, scale);
            const Load expected = WholeThenReducer(c.file, c.type, aimWidth, aimHeight);
            SetJPGDecodeScale(1, 8);  // the reduced road takes no notice of it
            const Load reduced = Reduced(c.file, c.type, aimWidth, aimHeight, c.seeks);
            SetJPGDecodeScale(1, 1);
            ASSERT_NE(reduced.pixels, nullptr) << what;
            EXPECT_EQ(reduced.code, 0u) << what;
            ASSERT_EQ(reduced.width, expected.width) << what;
            ASSERT_EQ(reduced.height, expected.height) << what;
            EXPECT_GE(reduced.width, std::min(aimWidth, c.width)) << what;
            EXPECT_LE(reduced.width, std::max(2 * aimWidth, std::min(aimWidth, c.width))) << what;
            int worst = 0;
            for (size_t i = 0; i < size_t{reduced.width} * reduced.height * 3; ++i)
                worst = std::max(worst, std::abs(reduced.pixels.get()[i] - expected.pixels.get()[i]));
            EXPECT_LE(worst, 1) << what;
        }
    }
}

// libwebp scales while it decodes, by its own area average: the same means as the reducer's
// where the factor divides the picture, its own weights at a partial block.
TEST(ReducedLoad, WebPScalesAsTheReducerWhereTheFactorDivides)
{
    constexpr uint32_t w = 140, h = 98;  // 7 × (20 × 14)
    const Bytes pattern = Pattern();
    Bytes rgb;
    for (uint32_t y = 0; y < h; ++y)
        rgb.insert(rgb.end(), pattern.begin() + y * kW * 3, pattern.begin() + (y * kW + w) * 3);
    uint8_t* encoded = nullptr;
    const size_t size = WebPEncodeLosslessRGB(rgb.data(), w, h, w * 3, &encoded);
    const Bytes webp(encoded, encoded + size);
    WebPFree(encoded);
    const Load expected = WholeThenReducer(webp, PX_FILE_WEBP, 20, 14);
    const Load reduced = Reduced(webp, PX_FILE_WEBP, 20, 14);
    ASSERT_NE(reduced.pixels, nullptr);
    ASSERT_EQ(reduced.width * 100 + reduced.height, 2014u);
    ASSERT_EQ(expected.width * 100 + expected.height, 2014u);
    int worst = 0;
    for (size_t i = 0; i < 20 * 14 * 3; ++i)
        worst = std::max(worst, std::abs(reduced.pixels.get()[i] - expected.pixels.get()[i]));
    EXPECT_LE(worst, 1);
}

TEST(ReducedLoad, CutStreamsGiveTheRowsThatCameAsAnIncompletePicture)
{
    // Noise, so that half the file holds about half the rows.
    Bytes rgb = test::RandomBytes(size_t{kW} * kH * 3, 7);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] |= 1;  // never black: what is black did not come
    test::PngSpec png;
    png.width = kW;
    png.height = kH;
    png.rows = rgb;
    test::PngSpec interlaced = png;
    interlaced.interlaced = true;
    test::Psd grey;
    grey.width = kW;
    grey.height = kH;
    grey.mode = 1;
    grey.channels = 1;
    grey.planes = {Bytes(rgb.begin(), rgb.begin() + size_t{kW} * kH)};
    test::Psd cmyk = grey;  // no colour ink, packed small; the black plane, noise, fills the file
    cmyk.mode = 4;
    cmyk.channels = 4;
    cmyk.compression = 1;
    cmyk.planes.assign(3, Bytes(size_t{kW} * kH, 255));
    cmyk.planes.push_back(grey.planes[0]);
    const struct {
        const char* what;
        uint32_t type;
        Bytes file;
        int missing;  // the sum of a pixel that never came: libjpeg fills in mid grey; -1: every
                      // block had some of its pixels, and its mean is theirs (the noise's 128)
        bool bottomUp = false;  // the bottom comes first
    } cases[] = {
        {"BMP RLE8", PX_FILE_BMP, test::BmpFile(kW, kH, 8, Greys(256), RleData(grey.planes[0], false), 1), 0, true},
        {"PNG", PX_FILE_PNG, test::MakePng(png), 0},
        {"PNG interlaced", PX_FILE_PNG, test::MakePng(interlaced), -1},
        {"BMP", PX_FILE_BMP, test::BmpFile(kW, -int32_t(kH), 24, {}, Planes(rgb, true, false, (4 - kW * 3 % 4) % 4)), 0},
        {"JPEG", PX_FILE_JPEG, Saved(PX_FILE_JPEG, rgb), 3 * 128},
        {"TGA", PX_FILE_TGA, test::TgaFile(kW, kH, test::TgaHeader{2, 24, 0x20}, Planes(rgb, true, false, 0)), 0},
        {"PSD grey", PX_FILE_PSD, test::MakePsd(grey), 0},
        {"PSD CMYK PackBits", PX_FILE_PSD, test::MakePsd(cmyk), 0},
    };
    for (const auto& c : cases) {
        const Bytes cut(c.file.begin(), c.file.begin() + c.file.size() / 2);
        const Load reduced = Reduced(cut, c.type, 20, 14);
        ASSERT_NE(reduced.pixels, nullptr) << c.what;
        EXPECT_NE(reduced.code, 0u) << c.what << ": the picture must be marked incomplete";
        // The top came, the bottom did not.
        const uint8_t* top = reduced.pixels.get();
        const uint8_t* bottom = top + (size_t{reduced.height} * reduced.width - 1) * 3;
        if (c.bottomUp)
            std::swap(top, bottom);
        EXPECT_GT(top[0] + top[1] + top[2], 0) << c.what;
        if (c.missing >= 0) {
            EXPECT_EQ(bottom[0] + bottom[1] + bottom[2], c.missing) << c.what;
            continue;
        }
        double sum = 0;
        for (size_t i = 0; i < size_t{reduced.width} * reduced.height * 3; ++i)
            sum += reduced.pixels.get()[i];
        EXPECT_NEAR(sum / (reduced.width * reduced.height * 3), 128, 12) << c.what;
    }
}

}  // namespace

namespace {

// A palette page of 6000 x 6000 stored as one strip: libtiff's RGBA reader would decode the
// strip again from its start for each of nine bands; the page is read whole once instead.
TEST(ReducedLoad, ATiffStripTooTallForFewBandsIsDecodedOnce)
{
    test::Page page;
    page.width = page.height = 6000;
    page.samples = 1;
    page.photometric = PHOTOMETRIC_PALETTE;
    page.compression = COMPRESSION_ADOBE_DEFLATE;
    page.rowsPerStrip = page.height;
    page.colours.assign(768, 0);
    std::fill_n(page.colours.begin() + 256, 256, uint16_t(40 * 257));
    std::fill_n(page.colours.begin() + 512, 256, uint16_t(200 * 257));
    page.data.assign(size_t{page.width} * page.height, 7);
    test::CountedSource source{test::MakeTiff({page})};
    DataChannel* channel = source.Channel();
    uint32_t w = 0, h = 0;
    test::GlobalPtr<uint8_t> pixels(LoadPictureReduced(channel, PX_FILE_TIFF, 600, 600, &w, &h));
    CloseSource(channel);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w * 10000 + h, 6000600u);
    EXPECT_EQ(pixels.get()[1], 40);
    EXPECT_LT(source.bytesRead, 2 * source.bytes.size()) << source.bytes.size() << " bytes in the file";
}

// The claimed-size guard runs before any row: a header claiming far more than its file holds
// gets no picture of black rows (nor, for PCX, minutes of rows decoded from nothing).
TEST(ReducedLoad, HeadersClaimingFarMoreThanTheFileAreRefusedBeforeAnyRow)
{
    const Bytes few(600, 7);
    const struct {
        const char* what;
        uint32_t type;
        Bytes file;
    } cases[] = {
        {"BMP", PX_FILE_BMP, test::BmpFile(60000, 60000, 24, {}, few)},
        {"TGA", PX_FILE_TGA, test::TgaFile(60000, 60000, test::TgaHeader{}, few)},
        {"PCX", PX_FILE_PCX, test::PcxFile(60000, 60000, 8, 3, 60000, few)},
    };
    for (const auto& c : cases) {
        const Load reduced = Reduced(c.file, c.type, 100, 100);
        EXPECT_EQ(reduced.pixels, nullptr) << c.what;
        EXPECT_NE(reduced.code, 0u) << c.what;
    }
}

}  // namespace
