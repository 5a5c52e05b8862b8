// The PNG files of the shared corpus: valid ones decode to the reference pixels, broken ones
// are refused with a code.
#include "formats/png/png.h"
#include "formats/reader_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

test::ReaderCall Png(uint32_t bits)
{
    return [bits](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) { return ReadPNG(c, w, h, bits, p); };
}

bool IsPng(const std::map<std::string, std::string>& row)
{
    return row.at("format") == "png" &&
           (row.at("path").rfind("pngsuite/", 0) == 0 || row.at("path").rfind("libpng-testpngs/", 0) == 0);
}

TEST(PngCorpus, ValidFilesDecodeToTheReferencePixels)
{
    const std::string dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "shared picture corpus not present";
    // The reference keeps 16-bit grey as integers, which its RGBA form clips instead of scaling.
    const std::set<std::string> comparable = {"RGB", "RGBA", "P", "L", "LA", "1", "PA"};
    px::png::ThreadSettings().gammaCorrection = false;  // the reference applies no gamma
    int compared = 0;
    for (const auto& row : test::CorpusTable(dir)) {
        if (!IsPng(row) || row.at("role") != "sample")
            continue;
        const std::string& path = row.at("path");
        const test::Decoded d = test::DecodeFile(dir + "/" + path, Png(32));
        ASSERT_TRUE(d.pixels) << path << " code " << d.code;
        EXPECT_EQ(d.code, 0u) << path;
        EXPECT_EQ(std::to_string(d.width), row.at("width")) << path;
        EXPECT_EQ(std::to_string(d.height), row.at("height")) << path;
        if (!comparable.count(row.at("pillow_mode")) || row.at("pillow_rgba_md5").empty())
            continue;
        const std::string digest = test::Md5Hex(d.pixels.get(), size_t{d.width} * d.height * 4);
        // Low-bit grey with a transparent level: the reference's alpha is known wrong there
        // (it matches the level unscaled), so the other decoder's digest stands in when it has one.
        const bool lowBitGreyKey = (row.at("pillow_mode") == "L" || row.at("pillow_mode") == "1") &&
                                   row.at("pm_diff_kind") != "";
        if (lowBitGreyKey && digest != row.at("pillow_rgba_md5")) {
            if (row.at("pm_diff_kind") == "alpha-only") {
                EXPECT_EQ(digest, row.at("magick_rgba_md5")) << path;
            }
            continue;
        }
        ++compared;
        EXPECT_EQ(digest, row.at("pillow_rgba_md5")) << path << " (" << row.at("pillow_mode") << ")";
    }
    px::png::ThreadSettings().gammaCorrection = true;
    EXPECT_GT(compared, 150);
    // With the default gamma and compositing, every one still decodes at both other depths.
    for (const auto& row : test::CorpusTable(dir)) {
        if (IsPng(row) && row.at("role") == "sample") {
            EXPECT_EQ(test::DecodeFile(dir + "/" + row.at("path"), Png(24)).code, 0u) << row.at("path");
        }
    }
}

TEST(PngCorpus, BrokenFilesAreRefusedWithACode)
{
    const std::string dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "shared picture corpus not present";
    for (const auto& row : test::CorpusTable(dir)) {
        if (!IsPng(row) || row.at("role") == "sample" || row.at("role") == "reference")
            continue;
        const std::string& path = row.at("path");
        for (uint32_t bits : {24u, 32u, 8u}) {
            const test::Decoded d = test::DecodeFile(dir + "/" + path, Png(bits));
            test::ExpectCleanOutcome(d, path);
            // Recovering is allowed elsewhere; PngSuite's corrupt files must be refused.
            if (path.rfind("pngsuite/png/x", 0) == 0) {
                EXPECT_EQ(d.pixels, nullptr) << path;
            }
        }
    }
}

}  // namespace
