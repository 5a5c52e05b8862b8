// JPEG reading: colour conversions, decode scale, marker capture, row-by-row decoding and
// hostile input.
#include "formats/jpeg/jpg_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

using jpgtest::Bytes;
using jpgtest::DirectFile;
using jpgtest::JpegTest;
using jpgtest::Read;

using JPGRead = JpegTest;

int MaxDifference(const Bytes& a, const Bytes& b)
{
    EXPECT_EQ(a.size(), b.size());
    int worst = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
    return worst;
}

double MeanDifference(const Bytes& a, const Bytes& b)
{
    double sum = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        sum += std::abs(int{a[i]} - int{b[i]});
    return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

// The luminance rule written out plainly: each step in double precision, then truncated.
uint8_t Luminance(uint8_t r, uint8_t g, uint8_t b)
{
    double y = r * 0.299;
    y = y + g * 0.587;
    y = y + b * 0.114;
    return static_cast<uint8_t>(static_cast<int>(y));
}

struct Dimensions {
    uint32_t result = 0, width = 0, height = 0, bits = 0, code = 0;
    JPGDensity density{};
};

Dimensions Probe(const Bytes& file)
{
    Dimensions d;
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    d.result = GetJPGDimensions(source, &d.width, &d.height, &d.bits, &d.density);
    d.code = GetLastLibraryError();
    CloseSource(source);
    return d;
}

TEST_F(JPGRead, RoundTripKeepsColourAndGrey)
{
    const uint32_t w = 40, h = 24;
    const Bytes rgb = jpgtest::Gradient(w, h);
    const uint32_t ones[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    SetJPGSampling(ones, ones);
    const jpgtest::Decoded colour = Read(jpgtest::Write(rgb, w, h, 100), 24);
    ASSERT_TRUE(colour.returned);
    EXPECT_EQ(colour.code, 0u);
    EXPECT_EQ(colour.width, w);
    EXPECT_EQ(colour.height, h);
    EXPECT_LE(MaxDifference(colour.pixels, rgb), 5);
    EXPECT_LT(MeanDifference(colour.pixels, rgb), 0.6);

    Bytes grey(size_t{w} * h);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = rgb[i * 3];
    const Bytes greyFile = jpgtest::Write(grey, w, h, 100, 8);
    EXPECT_EQ(Probe(greyFile).bits, 8u);
    const jpgtest::Decoded asGrey = Read(greyFile, 8);
    EXPECT_EQ(asGrey.code, 0u);
    EXPECT_LE(MaxDifference(asGrey.pixels, grey), 2);
    const jpgtest::Decoded asRGB = Read(greyFile, 24);
    ASSERT_EQ(asRGB.pixels.size(), grey.size() * 3);
    for (size_t i = 0; i < grey.size(); ++i) {
        EXPECT_EQ(asRGB.pixels[3 * i], asGrey.pixels[i]);
        EXPECT_EQ(asRGB.pixels[3 * i + 1], asGrey.pixels[i]);
        EXPECT_EQ(asRGB.pixels[3 * i + 2], asGrey.pixels[i]);
    }
}

TEST_F(JPGRead, ColourReadAsGreyIsTheTruncatedLuminanceOfTheColourRead)
{
    EXPECT_EQ(Luminance(255, 255, 255), 255);
    EXPECT_EQ(Luminance(255, 0, 0), 76);
    EXPECT_EQ(Luminance(128, 128, 128), 127);

    const uint32_t w = 33, h = 17;
    const Bytes file = jpgtest::Write(jpgtest::Noise(size_t{w} * h * 3), w, h, 90);
    EXPECT_EQ(Probe(file).bits, 24u);
    const jpgtest::Decoded colour = Read(file, 24);
    const jpgtest::Decoded grey = Read(file, 8);
    ASSERT_EQ(grey.code, 0u);
    ASSERT_EQ(grey.pixels.size(), size_t{w} * h);
    ASSERT_EQ(colour.pixels.size(), size_t{w} * h * 3);
    for (size_t i = 0; i < grey.pixels.size(); ++i)
        ASSERT_EQ(grey.pixels[i], Luminance(colour.pixels[3 * i], colour.pixels[3 * i + 1], colour.pixels[3 * i + 2]))
            << "pixel " << i;
}

TEST_F(JPGRead, DecodeScaleGoesToTheNextStepDownAndDimensionsStayFull)
{
    const uint32_t w = 1600, h = 1200;
    const Bytes file = jpgtest::Write(jpgtest::Gradient(w, h), w, h, 50);
    struct Row {
        uint32_t num, denom, width, height;
    };
    const Row rows[] = {
        {1, 8, 200, 150}, {1, 5, 400, 300}, {1, 3, 800, 600}, {3, 4, 1600, 1200}, {1, 0, 1600, 1200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.num) + "/" + std::to_string(row.denom));
        SetJPGDecodeScale(row.num, row.denom);
        const Dimensions full = Probe(file);
        EXPECT_EQ(full.width, w);
        EXPECT_EQ(full.height, h);
        const jpgtest::Decoded d = Read(file, 24);
        EXPECT_EQ(d.code, 0u);
        EXPECT_EQ(d.width, row.width);
        EXPECT_EQ(d.height, row.height);
        EXPECT_EQ(d.pixels.size(), size_t{row.width} * row.height * 3);
    }

    SetJPGDecodeScale(1, 8);  // sizes are rounded up
    const jpgtest::Decoded odd = Read(jpgtest::Write(jpgtest::Gradient(17, 9), 17, 9, 75), 8);
    EXPECT_EQ(odd.width, 3u);
    EXPECT_EQ(odd.height, 2u);
}

TEST_F(JPGRead, InvertedCMYKBecomesRGBAndCannotBeGrey)
{
    // Left half no ink at all (255 everywhere), right half full black (k = 0).
    DirectFile f;
    f.width = 16;
    f.height = 8;
    f.space = JCS_CMYK;
    f.quality = 100;
    Bytes cmyk(size_t{f.width} * f.height * 4);
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x) {
            uint8_t* p = &cmyk[(size_t{y} * f.width + x) * 4];
            const bool white = x < 8;
            p[0] = white ? 255 : 200;
            p[1] = white ? 255 : 120;
            p[2] = white ? 255 : 40;
            p[3] = white ? 255 : 0;
        }
    const Bytes file = jpgtest::EncodeDirect(f, cmyk);

    const Dimensions d = Probe(file);
    EXPECT_EQ(d.result, 1u);
    EXPECT_EQ(d.bits, 32u);

    const jpgtest::Decoded rgb = Read(file, 24);
    ASSERT_EQ(rgb.code, 0u);
    ASSERT_EQ(rgb.pixels.size(), size_t{16} * 8 * 3);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = rgb.pixels[(y * 16 + x) * 3 + c];
                if (x < 8)
                    EXPECT_GE(v, 253) << x << "," << y;
                else
                    EXPECT_EQ(v, 0) << x << "," << y;
            }

    const jpgtest::Decoded grey = Read(file, 8);
    EXPECT_TRUE(grey.returned);
    EXPECT_EQ(grey.code, 28u);
    EXPECT_EQ(grey.pixels.size(), size_t{16} * 8);
    EXPECT_TRUE(std::all_of(grey.pixels.begin(), grey.pixels.end(), [](uint8_t v) { return v == 0; }));
}

TEST_F(JPGRead, CapturesCommentsAndMarkersInFileOrder)
{
    DirectFile f;
    const Bytes exif = [] {
        Bytes b = jpgtest::Noise(300, 7);
        const uint8_t id[6] = {0x45, 0x78, 0x69, 0x66, 0, 0};
        std::copy(id, id + 6, b.begin());
        return b;
    }();
    const Bytes second = {'s', 'e', 'c', 0, 'o', 'n', 'd'};
    f.markers = {
        {JPEG_COM, Bytes{'f', 'i', 'r', 's', 't'}},
        {JPEG_APP0 + 1, exif},
        {JPEG_COM, second},
        {JPEG_APP0 + 2, Bytes{9, 8, 7}},
        {JPEG_APP0 + 15, Bytes{1, 2}},  // APP15 is not kept
    };
    const Bytes file = jpgtest::EncodeDirect(f, jpgtest::Gradient(16, 16));

    test::DebugCapture debug;
    const jpgtest::Decoded d = Read(file, 24);
    ASSERT_EQ(d.code, 0u);

    ASSERT_EQ(GetJPGCommentCount(), 2u);
    test::GlobalPtr<char> first(GetJPGComment(0));
    test::GlobalPtr<char> cut(GetJPGComment(1));
    ASSERT_TRUE(first && cut);
    EXPECT_STREQ(first.get(), "first");
    EXPECT_STREQ(cut.get(), "sec");  // a text ends at its first zero byte
    EXPECT_EQ(GlobalSize(first.get()), 6u);

    ASSERT_EQ(GetJPGMarkerCount(), 2u);
    const std::pair<uint32_t, Bytes> expected[] = {{225, exif}, {226, Bytes{9, 8, 7}}};
    for (uint32_t i = 0; i < 2; ++i) {
        uint8_t* data = nullptr;
        uint32_t length = 0, code = 0;
        ASSERT_EQ(GetJPGMarker(i, &data, &length, &code), 1u);
        test::GlobalPtr<uint8_t> block(data);
        EXPECT_EQ(code, expected[i].first);
        EXPECT_EQ(Bytes(data, data + length), expected[i].second);
    }

    const std::vector<std::string> lines = debug.lines();
    const std::vector<std::string> wanted = {"PXLib JPG comment : first", "PXLib JPG marker # 225, len: 300",
                                             "PXLib JPG comment : sec", "PXLib JPG marker # 226, len: 3"};
    EXPECT_EQ(lines, wanted);

    // The next header read replaces what was captured, also with nothing.
    const Bytes plain = jpgtest::Write(jpgtest::Gradient(8, 8), 8, 8, 75);
    EXPECT_EQ(Probe(plain).result, 1u);
    EXPECT_EQ(GetJPGCommentCount(), 0u);
    EXPECT_EQ(GetJPGMarkerCount(), 0u);
}

TEST_F(JPGRead, DimensionsReportTheJFIFDensity)
{
    const Bytes pixels = jpgtest::Gradient(20, 10);
    const JPGDensity dpi{300, 150, 1};
    const Bytes withDensity = jpgtest::IntoMemory(
        [&](DataChannel* sink) { WriteJPG(sink, pixels.data(), 20, 10, 80, 0, 24, &dpi); });
    const Dimensions d = Probe(withDensity);
    EXPECT_EQ(d.result, 1u);
    EXPECT_EQ(d.code, 0u);
    EXPECT_EQ(d.density.xDensity, 300u);
    EXPECT_EQ(d.density.yDensity, 150u);
    EXPECT_EQ(d.density.unit, 1u);

    DirectFile f;
    f.jfif = false;
    const Dimensions none = Probe(jpgtest::EncodeDirect(f, jpgtest::Gradient(16, 16)));
    EXPECT_EQ(none.density.xDensity, 1u);
    EXPECT_EQ(none.density.yDensity, 1u);
    EXPECT_EQ(none.density.unit, 0u);

}

TEST_F(JPGRead, RowByRowDeliversEveryRowOnceAndEndsCleanly)
{
    const uint32_t w = 12, h = 10;
    const Bytes rgb = jpgtest::Gradient(w, h);
    const Bytes file = jpgtest::Write(rgb, w, h, 95);
    const jpgtest::Decoded whole = Read(file, 24);

    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    uint32_t width = 0, height = 0;
    JPGReadState* state = BeginJPGRead(source, &width, &height, 0);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    Bytes row(w * 3);
    for (uint32_t y = 0; y < h; ++y) {
        uint32_t index = 99;
        ASSERT_EQ(ReadJPGRow(state, row.data(), &index), 1u);
        EXPECT_EQ(index, y);
        EXPECT_TRUE(std::equal(row.begin(), row.end(), whole.pixels.begin() + y * w * 3));
    }
    EXPECT_EQ(ReadJPGRow(state, row.data(), nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 24u);
    EXPECT_EQ(ReadJPGRow(state, nullptr, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(EndJPGRead(state), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);

    // An ended handle is refused, not used.
    EXPECT_EQ(ReadJPGRow(state, row.data(), nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(EndJPGRead(state), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(EndJPGRead(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    // Ending before the last row is libjpeg's complaint, code 3, and still releases all.
    ASSERT_EQ(ChannelSeek(source, 0, 0), 1u);
    state = BeginJPGRead(source, &width, &height, 1);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(ReadJPGRow(state, row.data(), nullptr), 1u);
    test::DebugCapture debug;
    EXPECT_EQ(EndJPGRead(state), 0u);
    EXPECT_EQ(GetLastLibraryError(), 3u);
    EXPECT_NE(debug.text().find("PXLib JPG Error : "), std::string::npos);
    CloseSource(source);
}

uint32_t StopAtFirstRow(uint32_t current, uint32_t, uint32_t)
{
    return current == 0 ? 0 : 1;
}

TEST_F(JPGRead, ProgressStopAtTheFirstRowKeepsThatRow)
{
    const uint32_t w = 16, h = 16;
    const Bytes file = jpgtest::Write(jpgtest::Gradient(w, h), w, h, 90);
    const jpgtest::Decoded whole = Read(file, 24);
    SetProgressCallback(StopAtFirstRow, 0);
    const jpgtest::Decoded stopped = Read(file, 24);
    SetProgressCallback(nullptr, 0);
    ASSERT_TRUE(stopped.returned);
    EXPECT_EQ(stopped.code, 14u);
    ASSERT_EQ(stopped.pixels.size(), whole.pixels.size());
    EXPECT_TRUE(std::equal(whole.pixels.begin(), whole.pixels.begin() + w * 3, stopped.pixels.begin()));
    EXPECT_TRUE(std::all_of(stopped.pixels.begin() + w * 3, stopped.pixels.end(), [](uint8_t v) { return v == 0; }));
}

std::string TempFile(const Bytes& content)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("pxlib_jpg_" + std::to_string(::getpid()) + ".jpg")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                static_cast<std::streamsize>(content.size()));
    return path;
}

TEST_F(JPGRead, HostileInputEndsInACode)
{
    const Bytes file = jpgtest::Write(jpgtest::Gradient(32, 32), 32, 32, 85);
    const std::vector<jpgtest::Segment> segments = jpgtest::Segments(file);
    ASSERT_EQ(segments.back().code, 0xDAu);
    size_t headerEnd = 0;  // one past the SOS segment
    for (const jpgtest::Segment& s : segments)
        headerEnd += s.code == 0xD8 ? 2 : 2 + s.lengthField;

    {
        SCOPED_TRACE("empty file");
        const std::string path = TempFile({});
        DataChannel* source = OpenFileSource(path.c_str());
        uint32_t w = 0, h = 0;
        test::DebugCapture debug;
        EXPECT_EQ(ReadJPG(source, &w, &h, 24), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 9u);
        EXPECT_NE(debug.text().find("PXLib JPG Error : Empty input file"), std::string::npos);
        CloseSource(source);
        std::filesystem::remove(path);
    }
    {
        SCOPED_TRACE("garbage");
        const jpgtest::Decoded d = Read(jpgtest::Noise(5000, 3), 24);
        EXPECT_FALSE(d.returned);
        EXPECT_EQ(d.code, 9u);
    }
    {
        SCOPED_TRACE("cut in the middle of the header");
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(headerEnd / 2));
        const jpgtest::Decoded d = Read(cut, 24);
        EXPECT_FALSE(d.returned);
        EXPECT_EQ(d.code, 9u);
        EXPECT_EQ(Probe(cut).code, 9u);
    }
    {
        SCOPED_TRACE("cut right after the header");
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(headerEnd));
        test::DebugCapture debug;
        const jpgtest::Decoded d = Read(cut, 24);
        EXPECT_EQ(d.code, 0u);
        EXPECT_EQ(d.width, 32u);
        EXPECT_EQ(d.pixels.size(), size_t{32} * 32 * 3);
        EXPECT_NE(debug.text().find("PXLib JPG Warning : Premature end of JPEG file"), std::string::npos);
        EXPECT_EQ(debug.text().find("PXLib Error"), std::string::npos);
        EXPECT_EQ(GetJPGInputEndedEarly(), 1u);
        Read(file, 24);
        EXPECT_EQ(GetJPGInputEndedEarly(), 0u);  // cleared by the next decode
    }
    {
        SCOPED_TRACE("arguments and channels");
        uint32_t w = 0, h = 0;
        EXPECT_EQ(ReadJPG(nullptr, &w, &h, 24), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        uint8_t fake[512] = {};
        EXPECT_EQ(ReadJPG(reinterpret_cast<DataChannel*>(fake), &w, &h, 24), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 38u);
        DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
        EXPECT_EQ(ReadJPG(source, &w, &h, 32), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(ReadJPG(source, nullptr, &h, 24), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(BeginJPGRead(source, &w, nullptr, 0), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(GetJPGDimensions(reinterpret_cast<DataChannel*>(fake), &w, &h, nullptr, nullptr), 0u);
        EXPECT_EQ(GetLastLibraryError(), 38u);
        CloseSource(source);
    }
}

// Every cut and every flipped byte of a small progressive file must end in a code or in a
// picture of the claimed size; the sanitizer build checks that nothing leaks or overruns.
TEST_F(JPGRead, TruncationAndByteFlipSweep)
{
    const uint32_t w = 24, h = 16;
    const Bytes base = jpgtest::Write(jpgtest::Noise(size_t{w} * h * 3, 5), w, h, 70);
    const Bytes progressive = jpgtest::Write(jpgtest::Noise(size_t{w} * h * 3, 5), w, h, 70, 24, 1);
    test::DebugCapture quiet;
    for (const Bytes* original : {&base, &progressive}) {
        auto check = [&](const Bytes& file, const std::string& what) {
            for (uint32_t bits : {24u, 8u}) {
                const jpgtest::Decoded d = Read(file, bits);
                if (d.returned) {
                    ASSERT_TRUE(d.code == 0 || d.code == 3) << what << " code " << d.code;
                    ASSERT_EQ(d.pixels.size(), size_t{d.width} * d.height * (bits / 8)) << what;
                } else {
                    ASSERT_TRUE(d.code == 9 || d.code == 1) << what << " code " << d.code;
                }
            }
        };
        for (size_t length = 1; length < original->size(); ++length)
            check(Bytes(original->begin(), original->begin() + static_cast<long>(length)), "cut " + std::to_string(length));
        for (size_t i = 0; i < original->size(); ++i) {
            Bytes flipped = *original;
            flipped[i] ^= 0xFF;
            check(flipped, "flip " + std::to_string(i));
        }
    }
}

}  // namespace

// A header claiming far more than its file holds is refused before libjpeg starts (which for a
// progressive file would allocate coefficients for the whole claim); a genuine file cut short
// after real data still decodes as a partial picture.
TEST_F(JPGRead, ClaimsTheFileCannotHoldAreRefusedButCutFilesStillDecode)
{
    struct Claim {
        uint16_t width, height;
        bool progressive;
    };
    for (const Claim& c : {Claim{20000, 20000, false}, Claim{65500, 65500, false},
                           Claim{20000, 20000, true}, Claim{65500, 65500, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + (c.progressive ? " progressive" : " baseline"));
        const Bytes file = test::ClaimingJpeg(c.width, c.height, c.progressive);
        ASSERT_LT(file.size(), 1024u);
        test::DebugCapture debug;
        const jpgtest::Decoded d = Read(file, 24);
        EXPECT_FALSE(d.returned);
        EXPECT_EQ(d.code, static_cast<uint32_t>(PX_ERR_JPEG_DECODE));
        EXPECT_NE(debug.text().find("header claims"), std::string::npos);
        // The header alone is still measured.
        EXPECT_EQ(Probe(file).width, c.width);

        // With bytes enough behind it the claim passes the guard and meets the size limits,
        // which call it too large rather than out of memory.
        Bytes padded = file;
        padded.resize(file.size() + (2u << 20));
        if (c.width == 65500) {
            EXPECT_EQ(Read(padded, 24).code, static_cast<uint32_t>(PX_ERR_TOO_LARGE));
        }
    }
    for (const uint32_t progressive : {0u, 1u}) {
        SCOPED_TRACE(progressive ? "cut progressive" : "cut baseline");
        const Bytes whole = jpgtest::Write(jpgtest::Noise(512 * 512 * 3, 5), 512, 512, 90, 24, progressive);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 3));
        const jpgtest::Decoded d = Read(cut, 24);
        EXPECT_TRUE(d.returned);
        EXPECT_EQ(d.code, 0u);
        EXPECT_EQ(d.width, 512u);
    }
}
