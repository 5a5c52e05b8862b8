// PSD's reduced road: the merged image's rows handed to a reducer as they are read, plane by
// plane for RGB, row by row for one-plane modes and for CMYK inks.
#include "formats/psd/psd.h"
#include "formats/psd/psd_internal.h"

#include "base/guard.h"
#include "base/frame.h"
#include "imaging/area_reduce.h"

namespace px::psd {
namespace {

// RGB planes each through an area reducer of its own channel, one after the other: only the
// reduced picture, a row and one channel's sums are held.
Picture ReducePlanes(Planes& planes, uint32_t aimWidth, uint32_t aimHeight)
{
    const Header& h = planes.h;
    const uint32_t fx = reduce::Factor(h.width, aimWidth), fy = reduce::Factor(h.height, aimHeight);
    const uint32_t width = reduce::Reduced(h.width, fx), height = reduce::Reduced(h.height, fy);
    GlobalBuffer pixels = AllocateImage(width, height, 24);
    auto line = Scratch<uint8_t>(h.width);
    if (!pixels || !line) {
        Fail(Code::OutOfMemory);
        return {};
    }
    const View view = View::RGB24(pixels.get(), width, height);
    bool any = false;
    for (uint32_t c = 0; c < 3; ++c) {
        reduce::AreaReducer reducer;
        if (!reducer.Start(h.width, h.height, fx, fy, 1, view, c))
            return {};
        const bool read = planes.Read(
            c, 1, 0, [&](uint32_t) { return line.get(); },
            [&](uint32_t y) { reducer.Add(y, line.get()), any = true; }, c * h.height, 3 * h.height);
        reducer.Finish();
        // A cut file gives the rows that came, the missing samples black.
        if (!read)
            return any && Current().code != Code::Cancelled ? Picture(std::move(pixels), view) : Picture();
    }
    return Picture(std::move(pixels), view);
}

// One-plane documents (grey, indexed, duotone, bitmap) coloured row by row into `rows`.
Picture ReduceIndices(Planes& planes, const uint8_t* table, uint32_t aimWidth, uint32_t aimHeight)
{
    const Header& h = planes.h;
    reduce::ReducingRows rows(aimWidth, aimHeight);
    auto line = Scratch<uint8_t>(h.width);
    if (!line) {
        Fail(Code::OutOfMemory);
        return {};
    }
    if (!rows.Begin(h.width, h.height))
        return {};
    bool any = false;
    auto rowAt = [&](uint32_t) { return line.get(); };
    auto done = [&](uint32_t y) {
        Colour(table, line.get(), rows.Row(y), h.width);
        rows.Done(y);
        any = true;
    };
    const bool read = h.mode == kBitmap ? planes.ReadBits(rowAt, done) : planes.Read(0, 1, 0, rowAt, done, 0, h.height);
    if (!read && (!any || Current().code == Code::Cancelled))
        return {};
    return rows.Finish();
}

// CMYK row by row: each pixel mixes four planes stored one after the other, so row y is read
// from each plane's own place in turn and the four mixed into one row for `rows`. `streamed`
// turns false, nothing read, when the channel cannot seek or the planes lie beyond its reach:
// the caller then reads whole from where it stands.
Picture ReduceInks(Planes& planes, uint32_t aimWidth, uint32_t aimHeight, bool& streamed)
{
    const Header& h = planes.h;
    Reader& in = planes.in;
    streamed = false;
    const uint32_t start = in.Tell();
    // A channel that cannot tell where it is would have us seek to the wrong place.
    if (start == 0 || !in.SeekTo(start))
        return {};
    const uint64_t rowBytes = uint64_t{h.width} * planes.SampleBytes();
    uint64_t at[4] = {start};  // where each plane's next stored row is
    for (uint32_t c = 1; c < 4; ++c) {
        uint64_t plane = 0;
        for (uint32_t y = 0; y < h.height; ++y)
            plane = CheckedAdd(plane, planes.packed ? planes.Count(c - 1, y) : rowBytes);
        at[c] = CheckedAdd(at[c - 1], plane);
    }
    if (at[3] >= UINT32_MAX)
        return {};
    streamed = true;
    reduce::ReducingRows rows(aimWidth, aimHeight);
    auto inks = Scratch<uint8_t>(CheckedMul(h.width, 4));
    if (!inks) {
        Fail(Code::OutOfMemory);
        return {};
    }
    if (!rows.Begin(h.width, h.height))
        return {};
    const uint64_t end = in.End();
    bool read = true;
    uint32_t y = 0;
    for (; y < h.height; ++y) {
        for (uint32_t c = 0; c < 4 && read; ++c) {
            if (!in.SeekTo(at[c])) {
                // Past the end the file was cut; anywhere else the channel failed us, and the
                // whole read from the start is still as good as it was.
                if (at[c] >= end) {
                    read = Fail(Code::ReadError);
                    break;
                }
                streamed = !in.SeekTo(start);
                if (streamed)
                    Fail(Code::ReadError);
                return {};
            }
            read = planes.ReadRow(c, y, inks.get(), 4, c);
            at[c] += planes.packed ? planes.Count(c, y) : rowBytes;
        }
        if (!read)
            break;
        MixInks(inks.get(), rows.Row(y), h.width);
        rows.Done(y);
        if (!Progress(y, h.height))
            return {};
    }
    // A cut file gives the rows that came, the rest black.
    if (!read && y == 0)
        return {};
    return rows.Finish();
}

}  // namespace

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    Reader in(channel);
    Header h;
    uint8_t table[256 * 4];
    uint16_t compression = 0;
    if (!Prologue(channel, in, 24, h, table, compression))
        return {};
    Planes planes{in, h, compression == 1, nullptr, nullptr, nullptr};
    if (!PreparePlanes(planes))
        return {};
    if (h.mode == kRGB)
        return ReducePlanes(planes, aimWidth, aimHeight);
    if (h.mode != kCMYK)
        return ReduceIndices(planes, table, aimWidth, aimHeight);
    bool streamed = false;
    Picture reduced = ReduceInks(planes, aimWidth, aimHeight, streamed);
    if (streamed)
        return reduced;
    GlobalBuffer image = ReadWhole(planes, 24, table, nullptr);
    return reduce::ReducePicture(Picture::RGB24(std::move(image), h.width, h.height), aimWidth, aimHeight);
}

}  // namespace px::psd
