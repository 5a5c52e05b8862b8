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

// A HEIC whose primary item is an overlay claiming 24 x 14 (its ispe) over one 64 x 64 coded
// image, while the overlay's own data asks for a side x side canvas.
std::vector<uint8_t> OverlayHeic(uint32_t side)
{
    const std::vector<uint8_t> pixels = test::TestPicture(64, 64);
    const std::vector<uint8_t> coded = test::EncodeHeif(pixels.data(), 64, 64, {});
    auto find = [&](const char* type) {
        const auto at = std::search(coded.begin(), coded.end(), type, type + 4);
        return at == coded.end() ? size_t{0} : size_t(at - coded.begin()) - 4;
    };
    auto be32 = [](size_t at, const std::vector<uint8_t>& b) {
        return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
    };
    const size_t hvcC = find("hvcC"), mdat = find("mdat");
    if (!hvcC || !mdat)
        return {};
    using Bytes = std::vector<uint8_t>;
    auto u16 = [](uint32_t v) { return Bytes{uint8_t(v >> 8), uint8_t(v)}; };
    auto u32 = [](uint32_t v) { return Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; };
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    auto box = [&](const char* type, const Bytes& body) {
        return cat({u32(uint32_t(body.size() + 8)), Bytes(type, type + 4), body});
    };
    auto full = [&](const char* type, uint8_t version, const Bytes& body) {
        return box(type, cat({Bytes{version, 0, 0, 0}, body}));
    };
    const Bytes hevc(coded.begin() + std::ptrdiff_t(mdat + 8), coded.begin() + std::ptrdiff_t(mdat + be32(mdat, coded)));
    // Version 0, flags 1 (32-bit fields), fill colour, canvas, one offset pair.
    const Bytes overlay = cat({Bytes{0, 1}, Bytes(8, 0), u32(side), u32(side), Bytes(8, 0)});
    const Bytes infe = cat({full("infe", 2, cat({u16(1), u16(0), Bytes{'i', 'o', 'v', 'l', 0}})),
                            full("infe", 2, cat({u16(2), u16(0), Bytes{'h', 'v', 'c', '1', 0}}))});
    const Bytes properties =
        box("iprp", cat({box("ipco", cat({Bytes(coded.begin() + std::ptrdiff_t(hvcC),
                                                coded.begin() + std::ptrdiff_t(hvcC + be32(hvcC, coded))),
                                          full("ispe", 0, cat({u32(64), u32(64)})),
                                          full("ispe", 0, cat({u32(24), u32(14)}))})),
                         full("ipma", 0, cat({u32(2), u16(1), Bytes{1, 3}, u16(2), Bytes{2, 0x81, 2}}))}));
    auto meta = [&](uint32_t dataAt) {
        const Bytes location = full("iloc", 0, cat({Bytes{0x44, 0}, u16(2), u16(1), u16(0), u16(1), u32(dataAt),
                                                    u32(uint32_t(overlay.size())), u16(2), u16(0), u16(1),
                                                    u32(dataAt + uint32_t(overlay.size())), u32(uint32_t(hevc.size()))}));
        return full("meta", 0, cat({full("hdlr", 0, cat({Bytes(4, 0), Bytes{'p', 'i', 'c', 't'}, Bytes(13, 0)})),
                                    full("pitm", 0, u16(1)), location, full("iinf", 0, cat({u16(2), infe})),
                                    full("iref", 0, box("dimg", cat({u16(1), u16(1), u16(2)}))), properties}));
    };
    const Bytes brand = box("ftyp", cat({Bytes{'h', 'e', 'i', 'c'}, u32(0), Bytes{'m', 'i', 'f', '1', 'h', 'e', 'i', 'c'}}));
    const uint32_t dataAt = uint32_t(brand.size() + meta(0).size() + 8);
    return cat({brand, meta(dataAt), box("mdat", cat({overlay, hevc}))});
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
        {"heic_overlay.jpg", OverlayHeic(30000), PX_ERR_HEIF_DECODE},
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
    EXPECT_NE(run.out.find("0 written, 0 up to date, 0 kept, 5 skipped"), std::string::npos) << run.out;

    // The overlay is well made: with a modest canvas libheif decodes it at the canvas's size.
    const std::vector<uint8_t> modest = OverlayHeic(64);
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    const heif_error read = heif_context_read_from_memory_without_copy(context, modest.data(), modest.size(), nullptr);
    ASSERT_EQ(read.code, 0) << read.message;
    ASSERT_EQ(heif_context_get_primary_image_handle(context, &handle).code, 0);
    EXPECT_EQ(heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code, 0);
    EXPECT_EQ(heif_image_get_width(image, heif_channel_interleaved), 64);
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
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
