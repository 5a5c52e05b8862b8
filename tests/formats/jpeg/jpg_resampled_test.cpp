// Reading a JPEG file resampled row by row: the same bytes as a whole read resampled after.
#include "formats/jpeg/jpg_test_support.h"

#include <string>

namespace {

using jpgtest::Bytes;
using JPGResampled = jpgtest::JpegTest;

struct Result {
    Bytes pixels;
    uint32_t width = 0;  // of the decode
    uint32_t height = 0;
    uint32_t code = 0;
    uint32_t endedEarly = 0;
};

Result Resampled(const Bytes& file, uint32_t width, uint32_t height, uint32_t method)
{
    Result r;
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    test::GlobalPtr<uint8_t> pixels(ReadJPGResampled(source, width, height, method, &r.width, &r.height));
    r.code = GetLastLibraryError();
    r.endedEarly = GetJPGInputEndedEarly();
    CloseSource(source);
    if (pixels)
        r.pixels.assign(pixels.get(), pixels.get() + GlobalSize(pixels.get()));
    return r;
}

// ReadJPG, then the resampler the method names.
Result WholeThenResampled(const Bytes& file, uint32_t width, uint32_t height, uint32_t method)
{
    const jpgtest::Decoded d = jpgtest::Read(file, 24);
    Result r{Bytes(size_t{width} * height * 3), d.width, d.height, d.code, GetJPGInputEndedEarly()};
    const auto resample = method == 1 ? ResampleBicubic : ResampleBilinear;
    EXPECT_EQ(resample(d.pixels.data(), d.width, d.height, r.pixels.data(), width, height, 3), 1u);
    return r;
}

TEST_F(JPGResampled, SameBytesAsTheWholeReadResampledForEverySizeScaleAndKind)
{
    const uint32_t w = 203, h = 157;  // not a whole number of blocks
    Bytes colour = jpgtest::Gradient(w, h);
    const Bytes grain = jpgtest::Noise(colour.size(), 7);
    for (size_t i = 0; i < colour.size(); ++i)
        colour[i] = static_cast<uint8_t>(colour[i] / 2 + grain[i] / 2);
    const Bytes colourFile = jpgtest::Write(colour, w, h, 85);
    jpgtest::DirectFile greyKind;
    greyKind.width = w;
    greyKind.height = h;
    greyKind.space = JCS_GRAYSCALE;
    const Bytes greyFile = jpgtest::EncodeDirect(greyKind, Bytes(grain.begin(), grain.begin() + size_t{w} * h));
    const Bytes cutFile(colourFile.begin(), colourFile.begin() + static_cast<std::ptrdiff_t>(colourFile.size() / 2));

    const struct {
        const char* name;
        const Bytes& file;
    } files[] = {{"colour", colourFile}, {"grey", greyFile}, {"cut in half", cutFile}};
    const uint32_t sizes[][2] = {{40, 30}, {203, 157}, {500, 20}, {25, 400}, {1, 1}};
    for (const auto& f : files)
        for (uint32_t scale : {1u, 4u})
            for (const auto& size : sizes)
                for (uint32_t method : {0u, 1u}) {
                    SCOPED_TRACE(std::string(f.name) + ", 1/" + std::to_string(scale) + ", " +
                                 std::to_string(size[0]) + " x " + std::to_string(size[1]) + ", method " +
                                 std::to_string(method));
                    SetJPGDecodeScale(1, scale);
                    const Result expected = WholeThenResampled(f.file, size[0], size[1], method);
                    const Result made = Resampled(f.file, size[0], size[1], method);
                    EXPECT_EQ(made.width, expected.width);
                    EXPECT_EQ(made.height, expected.height);
                    EXPECT_EQ(made.code, expected.code);
                    EXPECT_EQ(made.endedEarly, expected.endedEarly);
                    ASSERT_EQ(made.pixels.size(), expected.pixels.size());
                    EXPECT_TRUE(made.pixels == expected.pixels);
                }
    SetJPGDecodeScale(1, 1);
    EXPECT_EQ(Resampled(cutFile, 10, 10, 0).endedEarly, 1u);  // the cut is told though no row below is used
}

// Every cut and every flipped byte: the same picture and code as the whole read, never a crash.
TEST_F(JPGResampled, DamagedFilesGiveWhatTheWholeReadGives)
{
    const Bytes file = jpgtest::Write(jpgtest::Gradient(40, 33), 40, 33, 75);
    auto same = [](const Bytes& damaged, const std::string& what) {
        const Result made = Resampled(damaged, 13, 11, 0);
        const jpgtest::Decoded whole = jpgtest::Read(damaged, 24);
        ASSERT_EQ(made.pixels.empty(), !whole.returned) << what;
        if (!whole.returned)
            return;
        const Result expected = WholeThenResampled(damaged, 13, 11, 0);
        EXPECT_EQ(made.code, expected.code) << what;
        EXPECT_TRUE(made.pixels == expected.pixels) << what;
    };
    for (size_t cut = 1; cut < file.size(); ++cut)
        same(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)), "cut at " + std::to_string(cut));
    for (size_t i = 0; i < file.size(); ++i) {
        Bytes flipped = file;
        flipped[i] ^= 0xA5;
        same(flipped, "byte " + std::to_string(i) + " flipped");
    }
}

TEST_F(JPGResampled, BadArgumentsNonJpegContentAndPicturesTooLargeAreRefused)
{
    const Bytes file = jpgtest::Write(jpgtest::Gradient(16, 16), 16, 16, 90);
    uint32_t w = 0, h = 0;
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_EQ(ReadJPGResampled(source, 0, 8, 0, &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
    EXPECT_EQ(ReadJPGResampled(source, 8, 8, 2, &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
    EXPECT_EQ(ReadJPGResampled(source, 8, 8, 0, nullptr, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
    CloseSource(source);

    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    const Result notJpeg = Resampled(text, 8, 8, 0);
    EXPECT_TRUE(notJpeg.pixels.empty());
    EXPECT_NE(notJpeg.code, 0u);

    // A claim with bytes enough behind it to pass the header guard, refused as a whole read
    // refuses it rather than decoded row by row for minutes.
    Bytes huge = test::ClaimingJpeg(65500, 65500, false);
    huge.resize(huge.size() + (2u << 20));
    const Result tooLarge = Resampled(huge, 64, 64, 0);
    EXPECT_TRUE(tooLarge.pixels.empty());
    EXPECT_EQ(tooLarge.code, static_cast<uint32_t>(PX_ERR_TOO_LARGE));
}

}  // namespace
