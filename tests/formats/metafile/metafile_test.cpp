// Metafile rendering: sizes and codes, drawings built record by record and checked at a few
// pixels, hostile bytes, and the corpus's drawings.
#include "formats/metafile/metafile_files.h"
#include "formats/metafile/records.h"
#include "pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using test::Emf;
using test::Wmf;
using test::metafile::Put32;

struct Picture {
    test::GlobalPtr<uint8_t> rgb;
    uint32_t width = 0, height = 0, code = 0;
    uint32_t At(uint32_t x, uint32_t y) const
    {
        const uint8_t* p = rgb.get() + (size_t(y) * width + x) * 3;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

class MetafileTest : public ::testing::Test {
protected:
    Picture Render(const Bytes& bytes, COLORREF background = 0x808080)
    {
        const std::string path = m_folder / "picture.wmf";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        Picture p;
        p.rgb.reset(RenderMetafile(path.c_str(), &p.width, &p.height, 300, 300, background));
        p.code = GetLastLibraryError();
        return p;
    }
    test::TempFolder m_folder;
};

constexpr uint32_t kGrey = 0x808080;

TEST_F(MetafileTest, SizesFollowTheHeaders)
{
    struct Row {
        const char* what;
        Bytes bytes;
        uint32_t width, height;
    } rows[] = {
        {"EMF drawn for a 1000 x 500 device, frame matching it", Emf(1000, 500, 250, 125).Done(), 1000, 500},
        {"placeable 1 x 0.5 inch at 96 pixels per inch", Wmf().Done(true), 95, 47},
        // 10 mm on the screen's 1024 x 768 pixels of 270 x 203 mm.
        {"plain WMF: 10 mm x 10 mm", Wmf().Done(), 1000 * 1024 / 27000, 1000 * 768 / 20300},
    };
    for (const Row& row : rows) {
        const Picture p = Render(row.bytes);
        EXPECT_EQ(p.code, 0u) << row.what;
        EXPECT_EQ(p.width, row.width) << row.what;
        EXPECT_EQ(p.height, row.height) << row.what;
        ASSERT_TRUE(p.rgb) << row.what;
        EXPECT_EQ(p.At(0, 0), kGrey) << row.what << ": the background shows where nothing is drawn";
    }
}

TEST_F(MetafileTest, RefusalsCarryTheirCodes)
{
    Bytes truncated = Emf().Rec(43, {10, 10, 20, 20}).Done();
    truncated.resize(truncated.size() - 24);  // the rectangle's record now runs past the end
    Bytes emfNoDevice = Emf().Done();
    std::memset(emfNoDevice.data() + 72, 0, 16);  // reference device of no size
    Bytes bigFrame = Emf(100, 100).Done();
    std::memcpy(bigFrame.data() + 32, "\xFF\xFF\xFF\x7F", 4);  // a frame far wider than any bitmap
    // One record more than a metafile may hold, each of them one the players skip.
    Emf manyEmf;
    Wmf manyWmf;
    for (size_t i = 0; i < px::meta::kMaxRecords; ++i) {
        manyEmf.Rec(0x7777, {});
        manyWmf.Rec(0x0777, {});
    }
    struct Row {
        const char* what;
        Bytes bytes;
        uint32_t code;
    } rows[] = {
        {"empty file", {}, 27},
        {"not a metafile", test::RandomBytes(300, 7), 27},
        {"EMF whose record points outside the file", truncated, 27},
        {"EMF whose reference device has no size", emfNoDevice, 27},
        {"EMF too large to draw", bigFrame, 23},
        {"EMF wider than 16384 pixels", Emf(20000, 100).Done(), 23},
        {"EMF within the side limit but of more than 2^26 pixels", Emf(16000, 5000).Done(), 23},
        {"EMF of too many records", manyEmf.Done(), 27},
        {"WMF of too many records", manyWmf.Done(), 27},
        {"placeable with units per inch 0", Wmf().Done(true, 1440, 720, 0), 41},
        {"placeable with a reversed box", Wmf().Done(true, -10, 720), 41},
        {"placeable header before garbage", [] {
             Bytes b = Wmf().Done(true);
             b.resize(30);
             return b;
         }(), 41},
    };
    for (const Row& row : rows) {
        const Picture p = Render(row.bytes);
        EXPECT_FALSE(p.rgb) << row.what;
        EXPECT_EQ(p.code, row.code) << row.what;
        EXPECT_EQ(p.width, 0u) << row.what;
    }

    uint32_t w = 7, h = 7;
    EXPECT_EQ(RenderMetafile((m_folder / "missing.emf").c_str(), &w, &h, 300, 300, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 2u);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(RenderMetafile(nullptr, &w, &h, 300, 300, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(RenderMetafileHandle(nullptr, &w, &h, 300, 300, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

// Metafiles larger than the players take are refused before they are walked or copied: an EMF
// and a WMF of a little more than the limit, whose first record spans them up to the closing
// one (mapped, and but for their ends never touched).
TEST_F(MetafileTest, MetafilesBeyondTheSizeLimitAreRefusedUncopied)
{
    const size_t size = px::meta::kMaxFileBytes + 4096;
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* bytes = static_cast<uint8_t*>(map);
    const Bytes emf = Emf().Done();  // the header record (108 bytes), then the closing one
    std::memcpy(bytes, emf.data(), 108);
    std::memcpy(bytes + size - 20, emf.data() + 108, 20);
    const uint32_t headerBytes = uint32_t(size - 20);
    std::memcpy(bytes + 4, &headerBytes, 4);
    EXPECT_EQ(SetEnhMetaFileBits(uint32_t(size), bytes), nullptr);

    const Bytes wmf = Wmf().Done();  // the 18-byte header, then the closing record
    std::memcpy(bytes, wmf.data(), 18);
    std::memcpy(bytes + size - 6, wmf.data() + wmf.size() - 6, 6);
    const uint32_t words = uint32_t((size - 18 - 6) / 2);
    std::memcpy(bytes + 18, &words, 4);
    bytes[22] = 0x77;  // a record the player skips
    bytes[23] = 0x07;
    const METAFILEPICT picture{MM_ANISOTROPIC, 2000, 2000, nullptr};
    EXPECT_EQ(SetWinMetaFileBits(uint32_t(size), bytes, nullptr, &picture), nullptr);
    munmap(map, size);
}

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Drawings whose records would each take memory of their own: in a fresh process, rendering
// them grows the peak memory by little (the file's own copies aside).
TEST_F(MetafileTest, RecordsCannotTakeMemoryWithoutBound)
{
    // A million SaveDC records: only so many states are kept.
    Emf saves;
    for (size_t i = 0; i + 2 < px::meta::kMaxRecords; ++i)
        saves.Rec(33, {});  // EMR_SAVEDC
    // A 9000 x 8000 one-bit bitmap (9 MB) blitted whole: it would grow 32-fold as a surface.
    const uint32_t width = 9000, height = 8000, stride = (width + 31) / 32 * 4;
    Bytes dib(40 + 8 + size_t{stride} * height, 0);
    const uint32_t header[] = {40, width, height, 1 | 1u << 16, 0, 0, 0, 0, 2, 0};
    std::memcpy(dib.data(), header, sizeof header);
    dib[40 + 4] = 0xFF;  // entry 1 blue
    const int32_t bits = int32_t(dib.size() - 48);
    const struct {
        const char* what;
        Bytes bytes;
    } rows[] = {
        {"saved states", saves.Done()},
        {"a blit source", Emf().Rec(81, {0, 0, 0, 0, 0, 0, 0, 0, int32_t(width), int32_t(height), 80, 48, 128, bits,
                                         0, 0xCC0020, 100, 100}, dib).Done()},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& row : rows) {
        EXPECT_EXIT(
            {
                const long before = PeakKilobytes();
                const Picture p = Render(row.bytes);
                std::_Exit(p.rgb && PeakKilobytes() - before < 96 * 1024 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << row.what;
    }
}

// The same, from a file by name and from a file channel: a sparse file a little past the limit
// is refused before it is read, so the process grows by little.
TEST_F(MetafileTest, MetafileFilesBeyondTheSizeLimitAreRefusedUnread)
{
    const std::string path = m_folder / "big.emf";
    const Bytes emf = Emf().Done();
    const size_t size = px::meta::kMaxFileBytes + 4096;
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(emf.data()), 108);
        out.seekp(std::streamoff(size - 20));
        out.write(reinterpret_cast<const char*>(emf.data() + 108), 20);
    }
    ASSERT_EQ(std::filesystem::file_size(path), size);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const bool byChannel : {false, true}) {
        EXPECT_EXIT(
            {
                const long before = PeakKilobytes();
                uint32_t w = 0;
                uint32_t h = 0;
                uint8_t* rgb = nullptr;
                if (byChannel) {
                    DataChannel* source = OpenFileSource(path.c_str());
                    rgb = LoadPictureRGB24(source, PX_FILE_EMF, &w, &h);
                    CloseSource(source);
                } else {
                    rgb = RenderMetafile(path.c_str(), &w, &h, 300, 300, 0);
                }
                std::_Exit(!rgb && GetLastLibraryError() == 27 && PeakKilobytes() - before < 32 * 1024 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << (byChannel ? "channel" : "file name");
    }
    // A pipe cannot tell its size: three times the limit fed through one stops being read at the
    // limit, so the process grows by about the limit and its last doubling, not by the pipe.
    const std::string pipe = m_folder / "pipe.emf";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            std::signal(SIGPIPE, SIG_IGN);
            std::thread writer([&] {
                const int fd = open(pipe.c_str(), O_WRONLY);
                const std::vector<char> chunk(1 << 20, 0);
                for (size_t sent = 0; sent < 3 * px::meta::kMaxFileBytes; sent += chunk.size())
                    if (write(fd, chunk.data(), chunk.size()) <= 0)
                        break;
                close(fd);
            });
            const long before = PeakKilobytes();
            const HENHMETAFILE emf = GetEnhMetaFileA(pipe.c_str());
            writer.join();
            std::_Exit(!emf && PeakKilobytes() - before < 600 * 1024 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

uint32_t g_stopAt = 0;
std::vector<uint32_t> g_asked;
uint32_t StopAt(uint32_t current, uint32_t total, uint32_t)
{
    g_asked.push_back(current * 10 + total);
    return current != g_stopAt;
}

TEST_F(MetafileTest, ProgressIsAskedFourTimesAndCanStopEachStage)
{
    const Bytes bytes = Emf().Rec(43, {10, 10, 20, 20}).Done();
    for (uint32_t stage = 0; stage < 5; ++stage) {
        g_stopAt = stage;
        g_asked.clear();
        SetProgressCallback(StopAt, 0);
        const Picture p = Render(bytes);
        SetProgressCallback(nullptr, 0);
        if (stage < 4) {
            EXPECT_FALSE(p.rgb) << stage;
            EXPECT_EQ(p.code, 14u) << stage;
            EXPECT_EQ(g_asked.size(), stage + 1);
        } else {
            EXPECT_TRUE(p.rgb);
            EXPECT_EQ(g_asked, (std::vector<uint32_t>{4, 14, 24, 34}));
        }
    }
}

// EMF record numbers and objects the drawings below use.
enum : int32_t {
    kPolygon = 3, kPolyline = 4, kPolyPolygon = 8, kSetWindowExt = 9, kSetViewportExt = 11,
    kSetMapMode = 17, kSetBkMode = 18, kSetPolyFillMode = 19, kSetRop2 = 20, kSetTextColour = 24,
    kExcludeClip = 29, kIntersectClip = 30, kSaveDc = 33, kRestoreDc = 34, kSetWorld = 35,
    kSelect = 37, kCreatePen = 38, kCreateBrush = 39, kDelete = 40, kEllipse = 42, kRectangle = 43,
    kLineTo = 54, kMoveTo = 27, kBeginPath = 59, kEndPath = 60, kFillPath = 62, kStretchDib = 81,
    kFont = 82, kTextW = 84, kNullPen = int32_t(0x80000008), kNullBrush = int32_t(0x80000005),
};

int32_t Float(float f)
{
    int32_t v;
    std::memcpy(&v, &f, 4);
    return v;
}

// Red fill, no outline, then a record under test.
Emf RedBrush()
{
    Emf e;
    e.Rec(kCreateBrush, {1, 0, 0x0000FF, 0}).Rec(kSelect, {1}).Rec(kSelect, {kNullPen});
    return e;
}

struct Probe {
    int32_t x, y;
    uint32_t rgb;  // 0xRRGGBB
};

TEST_F(MetafileTest, EmfDrawingsPaintWhereTheirRecordsSay)
{
    // A 2 x 2 bitmap, rows bottom-up: blue, white under red, green.
    Bytes dib;
    for (uint32_t v : {40u, 2u, 2u, 1u | 24u << 16, 0u, 16u, 0u, 0u, 0u, 0u})
        Put32(dib, v);
    for (uint8_t b : {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0})
        dib.push_back(b);

    Bytes text;  // "WW" in UTF-16
    for (char c : std::string("WW")) {
        text.push_back(uint8_t(c));
        text.push_back(0);
    }

    struct Row {
        const char* what;
        Bytes bytes;
        std::vector<Probe> probes;
    } rows[] = {
        {"filled rectangle: inside, outside",
         RedBrush().Rec(kRectangle, {20, 20, 80, 60}).Done(),
         {{21, 21, 0xFF0000}, {79, 59, 0xFF0000}, {80, 60, kGrey}, {19, 40, kGrey}}},
        {"pen 5 wide: its width and no more",
         Emf().Rec(kCreatePen, {1, 0, 5, 0, 0xFF0000}).Rec(kSelect, {1}).Rec(kMoveTo, {10, 50})
             .Rec(kLineTo, {90, 50}).Done(),
         {{50, 48, 0x0000FF}, {50, 52, 0x0000FF}, {50, 46, kGrey}, {50, 54, kGrey}, {95, 50, kGrey}}},
        {"stock null brush leaves the inside, black pen draws the frame",
         Emf().Rec(kSelect, {kNullBrush}).Rec(kRectangle, {20, 20, 80, 80}).Done(),
         {{20, 50, 0}, {50, 50, kGrey}}},
        {"ellipse: centre painted, box corner not",
         RedBrush().Rec(kEllipse, {10, 10, 90, 90}).Done(), {{50, 50, 0xFF0000}, {12, 12, kGrey}}},
        {"nested squares, alternate fill: a hole",
         RedBrush().Rec(kPolyPolygon, {0, 0, 0, 0, 2, 8, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90,
                                       30, 30, 70, 30, 70, 70, 30, 70}).Done(),
         {{20, 20, 0xFF0000}, {50, 50, kGrey}}},
        {"nested squares, winding fill: no hole",
         RedBrush().Rec(kSetPolyFillMode, {2}).Rec(kPolyPolygon, {0, 0, 0, 0, 2, 8, 4, 4, 10, 10, 90, 10,
                                                                  90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70})
             .Done(),
         {{20, 20, 0xFF0000}, {50, 50, 0xFF0000}}},
        {"clip rectangle, then an exclusion inside it",
         RedBrush().Rec(kIntersectClip, {10, 10, 60, 60}).Rec(kExcludeClip, {20, 20, 30, 30})
             .Rec(kRectangle, {0, 0, 100, 100}).Done(),
         {{15, 15, 0xFF0000}, {25, 25, kGrey}, {70, 70, kGrey}}},
        {"restored state drops the clip",
         RedBrush().Rec(kSaveDc, {}).Rec(kIntersectClip, {10, 10, 20, 20}).Rec(kRestoreDc, {-1})
             .Rec(kRectangle, {0, 0, 100, 100}).Done(),
         {{70, 70, 0xFF0000}}},
        {"a clip region of more parts than are kept is ignored",
         [] {
             // Region bytes, RGN_COPY, then the region: header, 5000 one-pixel boxes on even columns.
             std::vector<int32_t> fields = {32 + 5000 * 16, 5, 32, 1, 5000, 5000 * 16, 0, 0, 100, 100};
             for (int32_t y = 0; y < 100; ++y)
                 for (int32_t x = 0; x < 100; x += 2)
                     fields.insert(fields.end(), {x, y, x + 1, y + 1});
             return RedBrush().Rec(75, fields).Rec(kRectangle, {0, 0, 100, 100}).Done();
         }(),
         {{0, 0, 0xFF0000}, {1, 0, 0xFF0000}, {99, 99, 0xFF0000}}},
        {"a transform past the canvas's reach is ignored",
         RedBrush().Rec(kSetWorld, {Float(1e10f), 0, 0, Float(1e10f), 0, 0}).Rec(kRectangle, {10, 10, 20, 20})
             .Done(),
         {{15, 15, 0xFF0000}, {45, 45, kGrey}}},
        {"world transform doubles the drawing",
         RedBrush().Rec(kSetWorld, {Float(2), 0, 0, Float(2), 0, 0}).Rec(kRectangle, {10, 10, 20, 20}).Done(),
         {{30, 30, 0xFF0000}, {45, 45, kGrey}}},
        {"anisotropic mapping halves the drawing",
         RedBrush().Rec(kSetMapMode, {8}).Rec(kSetWindowExt, {200, 200}).Rec(kSetViewportExt, {100, 100})
             .Rec(kRectangle, {100, 100, 200, 200}).Done(),
         {{75, 75, 0xFF0000}, {45, 45, kGrey}}},
        {"metric mapping turns y upwards",
         RedBrush().Rec(kSetMapMode, {2}).Rec(kRectangle, {0, 0, 500, -500}).Done(),
         {{25, 25, 0xFF0000}, {75, 75, kGrey}}},
        {"a path filled",
         RedBrush().Rec(kBeginPath, {}).Rec(kMoveTo, {10, 10}).Rec(kLineTo, {90, 10}).Rec(kLineTo, {10, 90})
             .Rec(kEndPath, {}).Rec(kFillPath, {0, 0, 0, 0}).Done(),
         {{20, 20, 0xFF0000}, {80, 80, kGrey}}},
        {"ROP2 no-op draws nothing",
         RedBrush().Rec(kSetRop2, {11}).Rec(kRectangle, {0, 0, 100, 100}).Done(), {{50, 50, kGrey}}},
        {"deleted brush slot: selecting it again changes nothing",
         RedBrush().Rec(kDelete, {1}).Rec(kSelect, {1}).Rec(kRectangle, {0, 0, 100, 100}).Done(),
         {{50, 50, 0xFF0000}}},
        {"hatched cross brush over an opaque white background",
         Emf().Rec(kCreateBrush, {1, 2, 0x000000, 4}).Rec(kSelect, {1}).Rec(kSelect, {kNullPen})
             .Rec(kRectangle, {0, 0, 100, 100}).Done(),
         {{8, 8, 0}, {11, 11, 0xFFFFFF}}},
        {"stretched bitmap: one colour per quarter",
         Emf().Rec(kStretchDib, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0xCC0020, 100, 100}, dib)
             .Done(),
         {{25, 25, 0xFF0000}, {75, 25, 0x00FF00}, {25, 75, 0x0000FF}, {75, 75, 0xFFFFFF}}},
        {"pie: the quarter from the right edge counter-clockwise to the top",
         RedBrush().Rec(47, {10, 10, 90, 90, 90, 50, 50, 10}).Done(), {{65, 35, 0xFF0000}, {35, 65, kGrey}}},
        {"chord: only the side of the chord away from the centre",
         RedBrush().Rec(46, {10, 10, 90, 90, 90, 50, 50, 10}).Done(), {{75, 25, 0xFF0000}, {60, 40, kGrey}}},
        {"rounded rectangle: the corner is cut",
         RedBrush().Rec(44, {10, 10, 90, 90, 40, 40}).Done(), {{12, 12, kGrey}, {50, 12, 0xFF0000}}},
        {"dashed pen: its gaps show the opaque background colour",
         Emf().Rec(kCreatePen, {1, 1, 0, 0, 0}).Rec(kSelect, {1}).Rec(kMoveTo, {0, 50}).Rec(kLineTo, {100, 50})
             .Done(),
         {{5, 50, 0}, {20, 50, 0xFFFFFF}, {5, 40, kGrey}}},
        {"transparent blit: the white quarter lets the background through",
         Emf().Rec(116, {0, 0, 0, 0, 0, 0, 100, 100, 0xFFFFFF, 0, 0, Float(1), 0, 0, Float(1), 0, 0, 0, 0,
                         108, 40, 148, 16, 2, 2}, dib)
             .Done(),
         {{25, 25, 0xFF0000}, {75, 75, kGrey}}},
        {"an unknown record is skipped, drawing goes on",
         RedBrush().Rec(0x7777, {1, 2, 3}).Rec(kRectangle, {0, 0, 100, 100}).Done(), {{50, 50, 0xFF0000}}},
    };
    for (const Row& row : rows) {
        const Picture p = Render(row.bytes);
        ASSERT_TRUE(p.rgb) << row.what << ": code " << p.code;
        ASSERT_EQ(p.width, 100u) << row.what;
        for (const Probe& probe : row.probes)
            EXPECT_EQ(p.At(probe.x, probe.y), probe.rgb) << row.what << " at " << probe.x << ", " << probe.y;
    }

    // Text: a big black "WW" on a transparent background inside its box, nothing far from it.
    Bytes font(92, 0);
    const int32_t height = -40;
    std::memcpy(font.data(), &height, 4);
    const Bytes withText = Emf()
                               .Rec(kFont, {1}, font)
                               .Rec(kSelect, {1})
                               .Rec(kSetBkMode, {1})
                               .Rec(kSetTextColour, {0})
                               .Rec(kTextW, {0, 0, 0, 0, 1, Float(1), Float(1), 10, 20, 2, 76, 0, 0, 0, 0, 0, 0},
                                    text)
                               .Done();
    // The same turned by 90 degrees (escapement 900) from (50, 90): it rises from there.
    Bytes turned = font;
    const int32_t escapement = 900;
    std::memcpy(turned.data() + 8, &escapement, 4);
    const Bytes withTurnedText = Emf()
                                     .Rec(kFont, {1}, turned)
                                     .Rec(kSelect, {1})
                                     .Rec(kSetBkMode, {1})
                                     .Rec(kTextW, {0, 0, 0, 0, 1, Float(1), Float(1), 50, 90, 2, 76, 0, 0, 0, 0, 0, 0},
                                          text)
                                     .Done();
    const struct {
        const Bytes& bytes;
        std::function<bool(uint32_t, uint32_t)> inBox;
    } texts[] = {
        {withText, [](uint32_t x, uint32_t y) { return x >= 8 && y >= 16 && y < 66; }},
        {withTurnedText, [](uint32_t x, uint32_t y) { return x >= 45 && y <= 92; }},
    };
    for (const auto& t : texts) {
        const Picture p = Render(t.bytes);
        ASSERT_TRUE(p.rgb) << p.code;
        int dark = 0, strayDark = 0;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x)
                (t.inBox(x, y) ? dark : strayDark) += (p.At(x, y) & 0xFF) < 0x40;
        EXPECT_GT(dark, 100);
        EXPECT_EQ(strayDark, 0);
    }
}

// WMF record numbers.
enum : uint16_t {
    kWSetWindowExt = 0x020C, kWRectangle = 0x041B, kWCreateBrush = 0x02FC, kWSelect = 0x012D,
    kWCreatePen = 0x02FA, kWEllipse = 0x0418, kWLineTo = 0x0213, kWMoveTo = 0x0214,
    kWDelete = 0x01F0, kWIntersectClip = 0x0416,
};

TEST_F(MetafileTest, WmfDrawingsMapTheirWindowOntoThePicture)
{
    // Placeable 1 x 1 inch (96 x 96 would be 95 x 95 pixels), window 0..1000 on it.
    auto base = [] {
        Wmf w;
        w.Rec(kWSetWindowExt, {1000, 1000}).Rec(kWCreatePen, {5, 0, 0, 0, 0}).Rec(kWSelect, {0})
            .Rec(kWCreateBrush, {0, 0x00FF, 0, 0}).Rec(kWSelect, {1});
        return w;
    };
    struct Row {
        const char* what;
        Bytes bytes;
        std::vector<Probe> probes;
    } rows[] = {
        {"rectangle in window units (parameters bottom, right, top, left)",
         base().Rec(kWRectangle, {500, 500, 0, 0}).Done(true, 1440, 1440),
         {{10, 10, 0xFF0000}, {60, 60, kGrey}}},
        {"clip then ellipse",
         base().Rec(kWIntersectClip, {1000, 500, 0, 0}).Rec(kWEllipse, {1000, 1000, 0, 0}).Done(true, 1440, 1440),
         {{40, 47, 0xFF0000}, {60, 47, kGrey}}},
        {"a line after the brush was deleted",
         base().Rec(kWDelete, {1}).Rec(kWCreatePen, {0, 100, 0, 0x0000, 0}).Rec(kWSelect, {1})
             .Rec(kWMoveTo, {500, 0}).Rec(kWLineTo, {500, 1000}).Done(true, 1440, 1440),
         {{50, 47, 0}, {50, 20, kGrey}}},
    };
    for (const Row& row : rows) {
        const Picture p = Render(row.bytes);
        ASSERT_TRUE(p.rgb) << row.what << ": code " << p.code;
        ASSERT_EQ(p.width, 95u) << row.what;
        for (const Probe& probe : row.probes)
            EXPECT_EQ(p.At(probe.x, probe.y), probe.rgb) << row.what << " at " << probe.x << ", " << probe.y;
    }
}

TEST_F(MetafileTest, HandleRendersLikeTheFileAndStaysTheCallers)
{
    const Bytes bytes = RedBrush().Rec(kRectangle, {20, 20, 80, 80}).Done();
    HENHMETAFILE metafile = SetEnhMetaFileBits(uint32_t(bytes.size()), bytes.data());
    ASSERT_NE(metafile, nullptr);
    Picture fromHandle;
    fromHandle.rgb.reset(RenderMetafileHandle(metafile, &fromHandle.width, &fromHandle.height, 300, 300, 0x808080));
    ASSERT_TRUE(fromHandle.rgb);
    const Picture fromFile = Render(bytes);
    ASSERT_EQ(fromHandle.width, fromFile.width);
    EXPECT_EQ(std::memcmp(fromHandle.rgb.get(), fromFile.rgb.get(), size_t(fromFile.width) * fromFile.height * 3), 0);
    EXPECT_EQ(DeleteEnhMetaFile(metafile), 1);
    EXPECT_EQ(DeleteEnhMetaFile(metafile), 0);
    EXPECT_EQ(RenderMetafileHandle(metafile, &fromHandle.width, &fromHandle.height, 300, 300, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 27u);
}

TEST_F(MetafileTest, RegistryReadsBothKindsFromAChannel)
{
    const struct {
        const char* what;
        Bytes bytes;
        uint32_t type, width, height;
    } rows[] = {
        {"EMF", RedBrush().Rec(kRectangle, {20, 20, 80, 80}).Done(), PX_FILE_EMF, 100, 100},
        {"placeable WMF", Wmf().Done(true), PX_FILE_WMF, 95, 47},
    };
    for (const auto& row : rows) {
        DataChannel* source = OpenMemorySource(row.bytes.data(), uint32_t(row.bytes.size()));
        EXPECT_EQ(DetectFileType(source), row.type) << row.what;
        uint32_t w = 0, h = 0;
        EXPECT_EQ(GetPictureInfo(source, row.type, &w, &h), 1u) << row.what;
        EXPECT_EQ(w, row.width) << row.what;
        EXPECT_EQ(h, row.height) << row.what;
        Picture p;
        p.rgb.reset(LoadPictureRGB24(source, row.type, &p.width, &p.height));
        CloseSource(source);
        ASSERT_TRUE(p.rgb) << row.what << ": code " << GetLastLibraryError();
        EXPECT_EQ(p.width, row.width) << row.what;
        EXPECT_EQ(p.At(0, 0), kGrey) << row.what;
    }
}

// Every cut and every single-byte flip of small valid files ends in a picture or a code.
TEST_F(MetafileTest, HostileBytesEndInACode)
{
    const Bytes samples[] = {
        RedBrush().Rec(kEllipse, {10, 10, 90, 90}).Rec(kPolyline, {0, 0, 0, 0, 2, 1, 1, 50, 50}).Done(),
        Wmf().Rec(kWSetWindowExt, {100, 100}).Rec(kWCreateBrush, {0, 0xFF, 0, 0}).Rec(kWSelect, {0})
            .Rec(kWRectangle, {50, 50, 0, 0}).Done(true, 100, 100, 1440),
    };
    const uint32_t allowed[] = {0, 3, 23, 27, 41};
    for (const Bytes& sample : samples) {
        std::vector<Bytes> variants;
        for (size_t n = 0; n < sample.size(); ++n)
            variants.emplace_back(sample.begin(), sample.begin() + n);
        for (size_t i = 0; i < sample.size(); ++i) {
            Bytes flipped = sample;
            flipped[i] ^= 0xA5;
            variants.push_back(flipped);
        }
        for (const Bytes& variant : variants) {
            const Picture p = Render(variant);
            EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), p.code), std::end(allowed)) << p.code;
            EXPECT_EQ(p.rgb != nullptr, p.code == 0);
        }
    }
}

// Mean grey level of a grid of blocks, for a coarse look at a picture; the reference is
// composed over white.
std::vector<double> Blocks(const std::function<uint32_t(uint32_t, uint32_t)>& at, uint32_t width,
                           uint32_t height)
{
    constexpr uint32_t kColumns = 24, kRows = 18;
    std::vector<double> sum(kColumns * kRows, 0), count(kColumns * kRows, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t rgb = at(x, y);
            const size_t i = size_t(y * kRows / height) * kColumns + x * kColumns / width;
            sum[i] += ((rgb >> 16) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF)) / 3.0;
            count[i] += 1;
        }
    for (size_t i = 0; i < sum.size(); ++i)
        sum[i] /= std::max(1.0, count[i]);
    return sum;
}

TEST_F(MetafileTest, CorpusDrawingsRenderAndResembleTheirReferences)
{
    const std::string corpus = test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    struct Row {
        const char* file;
        const char* reference;
        uint32_t width, height;
    } rows[] = {
        {"wmf2svg/wmf/fulltest.wmf", "wmf2svg/wmf/fulltest.png", 1055, 815},
        {"wmf2svg/emf/fulltest.emf", "wmf2svg/emf/fulltest.png", 1059, 792},
        {"wmf2svg/symbol/symbol-font-tables.wmf", nullptr, 566, 502},
    };
    for (const Row& row : rows) {
        const std::string path = corpus + "/" + row.file;
        Picture p;
        p.rgb.reset(RenderMetafile(path.c_str(), &p.width, &p.height, 300, 300, 0xFFFFFF));
        ASSERT_TRUE(p.rgb) << row.file << ": code " << GetLastLibraryError();
        EXPECT_EQ(p.width, row.width) << row.file;
        EXPECT_EQ(p.height, row.height) << row.file;
        const auto ours = Blocks([&](uint32_t x, uint32_t y) { return p.At(x, y); }, p.width, p.height);
        double drawn = 0;
        for (double b : ours)
            drawn += 255 - b;
        EXPECT_GT(drawn / double(ours.size()), 2.0) << row.file << ": something drawn";
        if (!row.reference)
            continue;

        cairo_surface_t* png = cairo_image_surface_create_from_png((corpus + "/" + row.reference).c_str());
        ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
        const auto* data = cairo_image_surface_get_data(png);
        const int stride = cairo_image_surface_get_stride(png);
        const auto theirs = Blocks(
            [&](uint32_t x, uint32_t y) {
                uint32_t argb;
                std::memcpy(&argb, data + size_t(y) * size_t(stride) + x * 4, 4);
                const uint32_t white = 255 - (argb >> 24);  // premultiplied over white
                auto c = [&](int shift) { return std::min(255u, ((argb >> shift) & 0xFF) + white); };
                return c(16) << 16 | c(8) << 8 | c(0);
            },
            uint32_t(cairo_image_surface_get_width(png)), uint32_t(cairo_image_surface_get_height(png)));
        cairo_surface_destroy(png);
        double difference = 0, blank = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            difference += std::fabs(ours[i] - theirs[i]);
            blank += 255 - theirs[i];
        }
        // Nearer to the reference than half its distance from a blank page.
        EXPECT_LT(difference, blank / 2) << row.file << ": block differences";
    }
}

}  // namespace
