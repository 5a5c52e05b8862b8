// quillet-batch against files whose headers claim far more than they hold: each is skipped at
// once, and the whole run stays small (peak memory of the child, as the kernel counts it).
#include "app/photo_files.h"
#include "cli/child_run.h"
#include "support/heif_fixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using test::ChildRun;

ChildRun Spawn(const std::string& source, const std::string& dest, const std::string& log)
{
    return test::Spawn({"--jobs", "1", source, dest}, log);
}

// Peak memory of a run over one small genuine picture: the program and its libraries, and
// under the sanitizers their shadow memory, which the bound below must not count.
long BaselineKilobytes()
{
    test::TempFolder in, out, logs;
    test::WriteJpeg(in / "small.jpg", 64, 48);
    return Spawn(in.path(), out.path(), logs / "log").peakKilobytes;
}

void Put(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(QuilletBatch, HeadersClaimingFarMoreThanTheirFileAreSkippedInLittleMemory)
{
    test::TempFolder in, out, logs;
    const char* names[] = {"base20000.jpg", "base65500.jpg", "prog20000.jpg", "prog65500.jpg"};
    for (int i = 0; i < 4; ++i) {
        const uint16_t side = i % 2 ? 65500 : 20000;
        const std::vector<uint8_t> file = test::ClaimingJpeg(side, side, i >= 2);
        ASSERT_LT(file.size(), 1024u);
        Put(in / names[i], file);
    }
    const ChildRun run = Spawn(in.path(), out.path(), logs / "log");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(run.peakKilobytes, BaselineKilobytes() + 64 * 1024) << run.out;
    for (const char* name : names) {
        EXPECT_NE(run.out.find("skipped " + (in / name)), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(out / name));
    }
    EXPECT_NE(run.out.find("0 written, 0 up to date, 0 kept, 4 skipped"), std::string::npos) << run.out;
}

// A small HEIC whose image size boxes claim side × side.
std::vector<uint8_t> ClaimingHeic(uint32_t side)
{
    const std::vector<uint8_t> pixels = test::TestPicture(64, 64);
    std::vector<uint8_t> file = test::EncodeHeif(pixels.data(), 64, 64, {});
    const char kIspe[] = "ispe";
    bool claimed = false;
    for (auto box = std::search(file.begin(), file.end(), kIspe, kIspe + 4); file.end() - box >= 16;
         box = std::search(box + 4, file.end(), kIspe, kIspe + 4)) {
        // Behind the type: version and flags, then width and height, big-endian.
        for (size_t at : {8u, 12u})
            for (int i = 0; i < 4; ++i)
                box[static_cast<std::ptrdiff_t>(at) + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
        claimed = true;
    }
    return claimed ? file : std::vector<uint8_t>{};
}

TEST(QuilletBatch, HeifAndWebpHeadersClaimingFarMoreAreSkippedInLittleMemory)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        GTEST_SKIP() << "no HEVC encoder in this libheif";
    test::TempFolder in, out, logs;
    // Lossless and lossy WebP headers claiming 16383 × 16383, the most the format holds, in
    // 64 bytes (detection wants more than the bare header).
    std::vector<uint8_t> lossless = {'R', 'I', 'F', 'F', 56, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L',
                                     44, 0, 0, 0, 0x2F, 0xFE, 0xFF, 0xFF, 0x0F};
    std::vector<uint8_t> lossy = {'R', 'I', 'F', 'F', 56, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' ', 44, 0, 0, 0,
                                  0x50, 0x01, 0x00, 0x9D, 0x01, 0x2A, 0xFF, 0x3F, 0xFF, 0x3F};
    lossless.resize(64, 0);
    lossy.resize(64, 0);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t code;
    } files[] = {
        {"heic20000.jpg", ClaimingHeic(20000), PX_ERR_HEIF_DECODE},
        {"heic60000.jpg", ClaimingHeic(60000), PX_ERR_HEIF_DECODE},
        {"webp_lossless.jpg", lossless, PX_ERR_WEBP_DECODE},
        {"webp_lossy.jpg", lossy, PX_ERR_WEBP_DECODE},
    };
    for (const auto& [name, bytes, code] : files) {
        ASSERT_FALSE(bytes.empty()) << name;
        ASSERT_LT(bytes.size(), 4096u) << name;
        Put(in / name, bytes);
    }
    const ChildRun run = Spawn(in.path(), out.path(), logs / "log");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(run.peakKilobytes, BaselineKilobytes() + 64 * 1024) << run.out;
    for (const auto& [name, bytes, code] : files) {
        // Refused with the reader's code, not taken for an unknown file.
        const size_t line = run.out.find("skipped " + (in / name) + ": cannot be read: ");
        ASSERT_NE(line, std::string::npos) << run.out;
        const std::string reason = run.out.substr(line, run.out.find('\n', line) - line);
        EXPECT_NE(reason.find("(code " + std::to_string(code) + ")"), std::string::npos) << reason;
        EXPECT_FALSE(fs::exists(out / name));
    }
    EXPECT_NE(run.out.find("0 written, 0 up to date, 0 kept, 4 skipped"), std::string::npos) << run.out;
}

// A PNG whose chunk after the header claims 2 GB (the most a chunk may) over 16 bytes: libpng
// would allocate and clear the whole claim before finding the bytes missing.
std::vector<uint8_t> ClaimingPngChunk(const char* type)
{
    const uint8_t head[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                            0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0, 0x90, 0x77, 0x53, 0xDE, 0x7F, 0xFF, 0xFF, 0xFF};
    std::vector<uint8_t> file(sizeof head + 4 + 16);
    std::memcpy(file.data(), head, sizeof head);
    std::memcpy(file.data() + sizeof head, type, 4);
    std::memcpy(file.data() + sizeof head + 4, "Comment\0a longer", 16);
    return file;
}

// A progressive JPEG claiming 20000 x 20000 with padding enough behind it to pass the claim
// guard: its coefficients alone would take more than a gigabyte.
std::vector<uint8_t> PaddedProgressiveJpeg()
{
    std::vector<uint8_t> file = test::ClaimingJpeg(20000, 20000, true);
    file.resize(file.size() + (1u << 20));
    return file;
}

// A 16 x 16 TIFF of one deflate tile of 8192 x 16384 grey samples (128 MB decoded from 128 KB):
// within the header guard, but its tile alone would take the memory.
std::vector<uint8_t> HugeTileTiff()
{
    const std::vector<uint8_t> zeros(size_t{8192} * 16384, 0);
    uLongf packed = compressBound(uLong(zeros.size()));
    std::vector<uint8_t> data(packed);
    if (compress2(data.data(), &packed, zeros.data(), uLong(zeros.size()), 1) != Z_OK)
        return {};
    data.resize(packed);
    // Header, then ten entries (tag, type 4 = long, count 1, value) and the data at 256.
    const uint32_t tags[][2] = {{256, 16}, {257, 16},   {258, 8},   {259, 8},   {262, 1},
                                {277, 1},  {322, 8192}, {323, 16384}, {324, 256}, {325, uint32_t(packed)}};
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 8, 0, 0, 0, 10, 0};
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.push_back(uint8_t(v >> (8 * i)));
    };
    for (const auto& [tag, value] : tags) {
        file.insert(file.end(), {uint8_t(tag), uint8_t(tag >> 8), 4, 0});
        put32(1);
        put32(value);
    }
    put32(0);
    file.resize(256, 0);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// Claims the header guard cannot see (a chunk, or a header backed by padding): skipped at once
// too, by the limits given to the libraries.
TEST(QuilletBatch, ClaimsBeyondTheHeaderGuardAreSkippedInLittleMemory)
{
    test::TempFolder in, out, logs;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"png_text.jpg", ClaimingPngChunk("tEXt")},
        {"png_ztxt.jpg", ClaimingPngChunk("zTXt")},
        {"jpeg_padded.jpg", PaddedProgressiveJpeg()},
        {"tiff_tile.jpg", HugeTileTiff()},
    };
    for (const auto& [name, bytes] : files)
        Put(in / name, bytes);
    EXPECT_EQ(files[0].bytes.size(), 57u);
    const ChildRun run = Spawn(in.path(), out.path(), logs / "log");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(run.peakKilobytes, BaselineKilobytes() + 64 * 1024) << run.out;
    for (const auto& [name, bytes] : files) {
        EXPECT_NE(run.out.find("skipped " + (in / name)), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(out / name));
    }
}

}  // namespace
