// Colour profiles: carried through APP2 chunks byte for byte, damaged chunk sets refused, grey
// profiles made RGB, and the conversion to sRGB as Little CMS itself does it.
#include "pxlib.h"
#include "support/test_support.h"

#include <lcms2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Save(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// Display P3 primaries; `curvePoints` > 0 gives tabulated curves, which make a large profile.
std::vector<uint8_t> WideGamutProfile(uint32_t curvePoints = 0)
{
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    cmsToneCurve* curves[3] = {};
    for (int c = 0; c < 3; ++c) {
        const double gamma = 2.2 + 0.1 * c;  // three different curves: no tag is shared
        if (curvePoints) {
            std::vector<cmsUInt16Number> table(curvePoints);
            for (uint32_t i = 0; i < curvePoints; ++i)
                table[i] = static_cast<cmsUInt16Number>(65535.0 * std::pow(i / double(curvePoints - 1), gamma));
            curves[c] = cmsBuildTabulatedToneCurve16(nullptr, curvePoints, table.data());
        } else {
            curves[c] = cmsBuildGamma(nullptr, gamma);
        }
    }
    std::vector<uint8_t> bytes = Save(cmsCreateRGBProfile(&d65, &p3, curves));
    for (cmsToneCurve* curve : curves)
        cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<uint8_t> GreyProfile()
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    std::vector<uint8_t> bytes = Save(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

// Writes a small JPEG with the queued markers into memory and reads its header back.
std::vector<uint8_t> WriteAndCapture()
{
    std::vector<uint8_t> file(1 << 20);
    uint8_t pixels[4 * 4 * 3] = {};
    DataChannel* sink = OpenMemorySink(file.data(), static_cast<uint32_t>(file.size()));
    const uint32_t size = WriteJPG(sink, pixels, 4, 4, 90, 0, 24, nullptr);
    CloseSink(sink);
    ClearJPGOutputMarkers();
    file.resize(size);
    DataChannel* source = OpenMemorySource(file.data(), size);
    uint32_t w = 0, h = 0, bits = 0;
    GetJPGDimensions(source, &w, &h, &bits, nullptr);
    CloseSource(source);
    return file;
}

std::vector<uint8_t> CapturedProfile()
{
    uint32_t length = 0;
    test::GlobalPtr<uint8_t> profile(GetJPGICCProfile(&length));
    return profile ? std::vector<uint8_t>(profile.get(), profile.get() + length) : std::vector<uint8_t>{};
}

size_t Count(const std::vector<uint8_t>& haystack, const std::string& needle)
{
    size_t n = 0;
    for (auto it = haystack.begin(); (it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end(); ++it)
        ++n;
    return n;
}

TEST(ICCProfile, CarriedByteForByteInOneAndInThreeChunks)
{
    const struct {
        uint32_t curvePoints;
        size_t chunks;
    } cases[] = {{0, 1}, {25000, 3}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> profile = WideGamutProfile(c.curvePoints);
        ClearJPGOutputMarkers();
        ASSERT_EQ(AddJPGOutputICCProfile(profile.data(), static_cast<uint32_t>(profile.size())), 1u);
        const std::vector<uint8_t> file = WriteAndCapture();
        EXPECT_EQ(Count(file, std::string("ICC_PROFILE\0", 12)), c.chunks);
        EXPECT_EQ(CapturedProfile(), profile) << c.chunks << " chunks";
        EXPECT_EQ(GetLastLibraryError(), 0u);
    }
}

TEST(ICCProfile, DamagedChunkSetsAreRefused)
{
    const std::vector<uint8_t> profile = WideGamutProfile();
    auto chunk = [&](uint8_t sequence, uint8_t count, size_t from, size_t to) {
        std::vector<uint8_t> payload = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, sequence, count};
        payload.insert(payload.end(), profile.begin() + from, profile.begin() + to);
        return payload;
    };
    const size_t half = profile.size() / 2, all = profile.size();
    const struct {
        std::vector<std::vector<uint8_t>> chunks;
        const char* what;
    } cases[] = {
        {{chunk(1, 2, 0, half)}, "second chunk missing"},
        {{chunk(1, 2, 0, half), chunk(1, 2, half, all)}, "sequence number twice"},
        {{chunk(1, 2, 0, half), chunk(2, 3, half, all)}, "counts disagree"},
        {{chunk(0, 1, 0, all)}, "sequence number 0"},
        {{chunk(1, 1, 0, all - 10)}, "shorter than the profile says"},
    };
    for (const auto& c : cases) {
        ClearJPGOutputMarkers();
        for (const auto& payload : c.chunks)
            AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), 226);
        WriteAndCapture();
        EXPECT_TRUE(CapturedProfile().empty()) << c.what;
        EXPECT_EQ(GetLastLibraryError(), 71u) << c.what;
    }
    // Chunks in the wrong order are put right.
    ClearJPGOutputMarkers();
    for (const auto& payload : {chunk(2, 2, half, all), chunk(1, 2, 0, half)})
        AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), 226);
    WriteAndCapture();
    EXPECT_EQ(CapturedProfile(), profile);
}

TEST(ConvertRGB24ToSRGB, ChangesPixelsAsLittleCMSDoes)
{
    const std::vector<uint8_t> profile = WideGamutProfile();
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 64; ++i)
        pixels.insert(pixels.end(), {uint8_t(i * 4), uint8_t(255 - i * 3), uint8_t(i * 11)});
    std::vector<uint8_t> expected(pixels.size());
    cmsHPROFILE p3 = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(p3, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(t, pixels.data(), expected.data(), 64);
    cmsDeleteTransform(t);
    cmsCloseProfile(p3);
    cmsCloseProfile(srgb);

    std::vector<uint8_t> converted = pixels;
    ASSERT_EQ(ConvertRGB24ToSRGB(converted.data(), 8, 8, profile.data(), static_cast<uint32_t>(profile.size())), 1u);
    EXPECT_EQ(converted, expected);
    EXPECT_NE(converted, pixels);

    const uint8_t junk[200] = {};
    EXPECT_EQ(ConvertRGB24ToSRGB(converted.data(), 8, 8, junk, sizeof junk), 0u);
    EXPECT_EQ(GetLastLibraryError(), 71u);
    // A picture no allocation could hold is refused before a pixel is touched.
    EXPECT_EQ(ConvertRGB24ToSRGB(converted.data(), 65536, 16384, profile.data(), uint32_t(profile.size())), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(converted, expected);
}

TEST(MakeRGBICCProfile, KeepsRGBAndTurnsGreyIntoEqualRGB)
{
    const std::vector<uint8_t> rgb = WideGamutProfile();
    uint32_t length = 0;
    test::GlobalPtr<uint8_t> same(MakeRGBICCProfile(rgb.data(), static_cast<uint32_t>(rgb.size()), &length));
    ASSERT_TRUE(same);
    EXPECT_EQ(std::vector<uint8_t>(same.get(), same.get() + length), rgb);

    // Greys converted to sRGB through the made profile match those through the grey one.
    const std::vector<uint8_t> grey = GreyProfile();
    test::GlobalPtr<uint8_t> made(MakeRGBICCProfile(grey.data(), static_cast<uint32_t>(grey.size()), &length));
    ASSERT_TRUE(made);
    std::vector<uint8_t> viaGrey, viaRgb;
    for (int v = 0; v < 256; v += 5)
        viaGrey.insert(viaGrey.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
    viaRgb = viaGrey;
    ASSERT_EQ(ConvertRGB24ToSRGB(viaGrey.data(), uint32_t(viaGrey.size() / 3), 1, grey.data(), uint32_t(grey.size())), 1u);
    ASSERT_EQ(ConvertRGB24ToSRGB(viaRgb.data(), uint32_t(viaRgb.size() / 3), 1, made.get(), length), 1u);
    for (size_t i = 0; i < viaGrey.size(); ++i)
        EXPECT_NEAR(viaRgb[i], viaGrey[i], 2) << "byte " << i;

    // Profiles of other kinds describe no RGB pixels; a CMYK source's is not carried.
    cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(cmyk, cmsSigOutputClass);
    cmsSetColorSpace(cmyk, cmsSigCmykData);
    cmsSetPCS(cmyk, cmsSigLabData);
    for (const std::vector<uint8_t>& other : {Save(cmsCreateLab4Profile(nullptr)), Save(cmyk)}) {
        EXPECT_EQ(MakeRGBICCProfile(other.data(), static_cast<uint32_t>(other.size()), &length), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 71u);
    }
}

}  // namespace
