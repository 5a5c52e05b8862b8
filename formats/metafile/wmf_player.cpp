// Plain (Windows) metafile records: the chain's check and the player.
#include "formats/metafile/records.h"

#include <algorithm>
#include <cstring>

namespace px::meta {
namespace {

// A record's parameters: 16-bit words after the size and the function.
struct Params {
    Bytes& bytes;
    size_t at;
    size_t length;  // bytes
    int16_t W(size_t i) const { return i * 2 + 2 <= length ? bytes.I16(at + i * 2) : 0; }
    uint16_t U(size_t i) const { return i * 2 + 2 <= length ? bytes.U16(at + i * 2) : 0; }
    uint32_t U32(size_t i) const
    {
        return i * 2 + 4 <= length ? bytes.U32(at + i * 2) : 0;
    }
    bool Has(size_t words) const { return words * 2 <= length; }
    const uint8_t* Ptr(size_t i) const { return bytes.data() + at + i * 2; }
};

// Points of a record: count pairs of 16-bit x, y from word `first`.
bool Points(const Params& p, size_t first, size_t count, std::vector<double>& xy)
{
    if (!p.Has(first + count * 2))
        return false;
    xy.resize(count * 2);
    for (size_t i = 0; i < count * 2; ++i)
        xy[i] = p.W(first + i);
    return true;
}

Font FontOf(const Params& p)
{
    Font f;
    f.height = p.W(0);
    f.width = p.W(1);
    f.escapement = p.W(2);
    f.weight = p.W(4);
    const uint8_t* b = p.Ptr(5);
    if (p.Has(9)) {
        f.italic = b[0] != 0;
        f.underline = b[1] != 0;
        f.strikeOut = b[2] != 0;
        f.charset = b[3];
    }
    const size_t faceAt = 9 * 2;
    if (p.length > faceAt) {
        const auto* name = reinterpret_cast<const char*>(p.Ptr(9));
        f.face.assign(name, strnlen(name, std::min<size_t>(32, p.length - faceAt)));
        // Latin-1 names to UTF-8.
        std::string utf8;
        for (unsigned char c : f.face) {
            if (c < 0x80) {
                utf8 += char(c);
            } else {
                utf8 += char(0xC0 | (c >> 6));
                utf8 += char(0x80 | (c & 0x3F));
            }
        }
        f.face = utf8;
    }
    return f;
}

// A region object: scans of left-right pairs between a top and a bottom. A record too short
// for the region header makes no region.
Object RegionOf(const Params& p)
{
    if (!p.Has(11))
        return Palette{};
    Region region;
    const uint16_t scans = p.U(5);
    size_t w = 11;
    for (uint16_t s = 0; s < scans && p.Has(w + 3); ++s) {
        const uint16_t count = p.U(w);  // words of left-right pairs
        const double top = p.W(w + 1), bottom = p.W(w + 2);
        if (!p.Has(w + 3 + count + 1))
            break;
        for (uint16_t i = 0; i + 1 < count; i += 2)
            region.boxes.push_back({double(p.W(w + 3 + i)), top, double(p.W(w + 4 + i)), bottom});
        w += 3 + count + 1;
    }
    return region;
}

DibRef PackedDib(const Params& p, size_t firstWord)
{
    if (!p.Has(firstWord))
        return {};
    return {p.Ptr(firstWord), p.length - firstWord * 2, nullptr, 0};
}

// A device-dependent bitmap (type, width, height, bytes a row, planes, bits a pixel, rows
// top-down) as a packed DIB; empty for layouts other than 1, 24 and 32 bits.
std::vector<uint8_t> DibOfBitmap16(const Params& p, size_t first)
{
    const int32_t width = p.W(first + 1), height = p.W(first + 2), rowBytes = p.W(first + 3);
    const uint8_t* planes = p.Ptr(first + 4);
    if (!p.Has(first + 5) || width <= 0 || height <= 0 || planes[0] != 1)
        return {};
    const uint16_t bits = planes[1];
    const uint64_t need = (uint64_t(width) * bits + 7) / 8;
    if ((bits != 1 && bits != 24 && bits != 32) || uint64_t(rowBytes) < need ||
        !p.Has(first + 5 + (uint64_t(rowBytes) * uint64_t(height) + 1) / 2))
        return {};
    const uint32_t table = bits == 1 ? 2 : 0;
    const uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    std::vector<uint8_t> dib(40 + table * 4 + size_t(stride) * size_t(height), 0);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = -height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    std::memcpy(dib.data(), &h, sizeof h);
    if (table)
        std::memset(dib.data() + 44, 0xFF, 3);  // 0 black, 1 white
    const uint8_t* rows = p.Ptr(first + 5);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(dib.data() + 40 + table * 4 + size_t(y) * size_t(stride), rows + size_t(y) * size_t(rowBytes),
                    size_t(need));
    return dib;
}

void Play(Canvas& c, Bytes& bytes, size_t offset)
{
    State& s = c.state();
    size_t records = 0;
    while (bytes.Has(offset, 6) && records++ < kMaxRecords) {
        const uint64_t total = uint64_t(bytes.U32(offset)) * 2;
        const uint16_t function = bytes.U16(offset + 4);
        if (total < 6 || !bytes.Has(offset, total) || function == 0)
            return;
        const Params p{bytes, offset + 6, size_t(total - 6)};
        offset += size_t(total);
        std::vector<double> xy;
        switch (function) {
        case 0x001E: c.Save(); break;
        case 0x0127: c.Restore(p.W(0)); break;
        case 0x0102: s.backMode = p.U(0); break;
        case 0x0103: c.SetMapMode(p.U(0)); break;
        case 0x0104: s.rop2 = p.U(0); break;
        case 0x0106: s.fillMode = p.U(0); break;
        case 0x012E: s.textAlign = p.U(0); break;
        case 0x0201: s.backColour = p.U32(0) & 0xFFFFFF; break;
        case 0x0209: s.textColour = p.U32(0) & 0xFFFFFF; break;
        case 0x020B: c.SetWindowOrg(p.W(1), p.W(0)); break;
        case 0x020C: c.SetWindowExt(p.W(1), p.W(0)); break;
        case 0x020D: c.SetViewportOrg(p.W(1), p.W(0)); break;
        case 0x020E: c.SetViewportExt(p.W(1), p.W(0)); break;
        case 0x020F: c.OffsetWindowOrg(p.W(1), p.W(0)); break;
        case 0x0211: c.OffsetViewportOrg(p.W(1), p.W(0)); break;
        case 0x0410: c.ScaleWindowExt(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0412: c.ScaleViewportExt(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0213: c.LineTo(p.W(1), p.W(0)); break;
        case 0x0214: c.MoveTo(p.W(1), p.W(0)); break;
        case 0x0415: c.ExcludeClip(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0416: c.IntersectClip(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0220: c.OffsetClip(p.W(1), p.W(0)); break;
        case 0x041B: c.Rectangle(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0418: c.Ellipse(p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x061C: c.RoundRect(p.W(5), p.W(4), p.W(3), p.W(2), p.W(1), p.W(0)); break;
        case 0x0817:
        case 0x081A:
        case 0x0830: {
            const auto kind = function == 0x0817 ? Canvas::ArcKind::Arc
                              : function == 0x081A ? Canvas::ArcKind::Pie
                                                   : Canvas::ArcKind::Chord;
            c.Arc(kind, p.W(7), p.W(6), p.W(5), p.W(4), p.W(3), p.W(2), p.W(1), p.W(0));
            break;
        }
        case 0x0324:
        case 0x0325:
            if (Points(p, 1, p.U(0), xy)) {
                if (function == 0x0324)
                    c.Polygons(xy, {p.U(0)});
                else
                    c.Polyline(xy, false);
            }
            break;
        case 0x0538: {
            const uint16_t polys = p.U(0);
            std::vector<uint32_t> counts;
            size_t points = 0;
            for (uint16_t i = 0; i < polys && p.Has(2 + i); ++i) {
                counts.push_back(p.U(1 + i));
                points += p.U(1 + i);
            }
            if (counts.size() == polys && Points(p, 1 + polys, points, xy))
                c.Polygons(xy, counts);
            break;
        }
        case 0x041F: c.SetPixel(p.W(3), p.W(2), p.U32(0)); break;
        case 0x0521: {  // TEXTOUT: length, string, y, x
            const uint16_t length = p.U(0);
            const size_t words = (size_t(length) + 1) / 2;
            if (!p.Has(1 + words + 2))
                break;
            c.Text(p.W(1 + words + 1), p.W(1 + words), CharsFromAnsi(p.Ptr(1), length, s.font.charset),
                   {}, 0, nullptr);
            break;
        }
        case 0x0A32: {  // EXTTEXTOUT: y, x, length, options, [rect], string, [dx]
            const uint16_t length = p.U(2), options = p.U(3);
            size_t w = 4;
            Box rect{};
            const bool hasRect = options & (kEtoOpaque | kEtoClipped);
            if (hasRect) {
                rect = {double(p.W(4)), double(p.W(5)), double(p.W(6)), double(p.W(7))};
                w += 4;
            }
            const size_t words = (size_t(length) + 1) / 2;
            if (!p.Has(w + words))
                break;
            std::vector<double> dx;
            if (p.Has(w + words + length))
                for (size_t i = 0; i < length; ++i)
                    dx.push_back(p.W(w + words + i));
            c.Text(p.W(1), p.W(0), CharsFromAnsi(p.Ptr(w), length, s.font.charset), dx, options,
                   hasRect ? &rect : nullptr);
            break;
        }
        case 0x02FA: {
            Pen pen;
            pen.style = p.U(0);
            pen.width = p.W(1);
            pen.colour = p.U32(3) & 0xFFFFFF;
            c.PutFirstFree(pen);
            break;
        }
        case 0x02FC: {
            Brush brush;
            brush.style = p.U(0);
            brush.colour = p.U32(1) & 0xFFFFFF;
            brush.hatch = p.U(3);
            c.PutFirstFree(brush);
            break;
        }
        case 0x02FB: c.PutFirstFree(FontOf(p)); break;
        case 0x0142: {  // DIBCREATEPATTERNBRUSH: style, usage, packed bitmap
            Brush brush;
            brush.style = kBsDibPatternPt;
            brush.colour = 0;
            brush.pattern = Canvas::DibPattern(PackedDib(p, 2));
            c.PutFirstFree(brush);
            break;
        }
        case 0x01F9: {  // a device-dependent pattern: kept as a grey brush so the table stays right
            SkipRecord("WMF pattern", function);
            c.PutFirstFree(Brush{kBsSolid, 0x808080, 0, nullptr});
            break;
        }
        case 0x00F7: c.PutFirstFree(Palette{}); break;
        case 0x06FF: c.PutFirstFree(RegionOf(p)); break;
        case 0x012D: c.Select(p.U(0)); break;
        case 0x01F0: c.Delete(p.U(0)); break;
        case 0x012C: {
            const Object* o = c.Get(p.U(0));
            if (const auto* region = o ? std::get_if<Region>(o) : nullptr)
                c.SelectClipRegion(region, kRgnCopy, true);
            break;
        }
        case 0x012A: {
            const Object* r = c.Get(p.U(0));
            if (const auto* region = r ? std::get_if<Region>(r) : nullptr)
                c.FillRegion(*region, Brush{kBsSolid, 0xFFFFFF, 0, nullptr}, true, true);
            break;
        }
        case 0x0228:
        case 0x0429: {  // FILLREGION, FRAMEREGION: region, brush[, height, width]
            const Object* r = c.Get(p.U(0));
            const Object* b = c.Get(p.U(1));
            const auto* region = r ? std::get_if<Region>(r) : nullptr;
            const auto* brush = b ? std::get_if<Brush>(b) : nullptr;
            if (region && brush) {
                if (function == 0x0228)
                    c.FillRegion(*region, *brush, true);
                else
                    c.FrameRegion(*region, *brush, p.W(3), p.W(2), true);
            }
            break;
        }
        case 0x012B: {
            const Object* r = c.Get(p.U(0));
            if (const auto* region = r ? std::get_if<Region>(r) : nullptr)
                c.FillRegion(*region, s.brush, true);
            break;
        }
        case 0x061D: c.PatBlt(p.W(5), p.W(4), p.W(3), p.W(2), p.U32(0)); break;
        case 0x0940: {  // DIBBITBLT
            if (total == (uint64_t(function >> 8) + 3) * 2) {
                c.PatBlt(p.W(8), p.W(7), p.W(6), p.W(5), p.U32(0));
                break;
            }
            const int16_t h = p.W(4), w = p.W(5);
            c.Bitmap(PackedDib(p, 8), p.W(7), p.W(6), w, h, p.W(3), p.W(2), w, h, false, Canvas::Blit::Raster(p.U32(0)));
            break;
        }
        case 0x0B41: {  // DIBSTRETCHBLT
            if (total == (uint64_t(function >> 8) + 3) * 2) {
                c.PatBlt(p.W(10), p.W(9), p.W(8), p.W(7), p.U32(0));
                break;
            }
            c.Bitmap(PackedDib(p, 10), p.W(9), p.W(8), p.W(7), p.W(6), p.W(5), p.W(4), p.W(3), p.W(2),
                     false, Canvas::Blit::Raster(p.U32(0)));
            break;
        }
        case 0x0922:
        case 0x0B23: {  // BITBLT, STRETCHBLT with a device-dependent bitmap
            const bool stretch = function == 0x0B23;
            const size_t first = stretch ? 10 : 8;
            if (total == (uint64_t(function >> 8) + 3) * 2) {
                c.PatBlt(p.W(first), p.W(first - 1), p.W(first - 2), p.W(first - 3), p.U32(0));
                break;
            }
            const std::vector<uint8_t> dib = DibOfBitmap16(p, first);
            if (dib.empty()) {
                SkipRecord("WMF bitmap layout of", function);
                break;
            }
            const DibRef ref{dib.data(), dib.size(), nullptr, 0};
            const Canvas::Blit blit = Canvas::Blit::Raster(p.U32(0));
            if (stretch)
                c.Bitmap(ref, p.W(9), p.W(8), p.W(7), p.W(6), p.W(5), p.W(4), p.W(3), p.W(2), false, blit);
            else
                c.Bitmap(ref, p.W(7), p.W(6), p.W(5), p.W(4), p.W(3), p.W(2), p.W(5), p.W(4), false, blit);
            break;
        }
        case 0x0F43:  // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, y, x, bitmap
            c.Bitmap(PackedDib(p, 11), p.W(10), p.W(9), p.W(8), p.W(7), p.W(6), p.W(5), p.W(4), p.W(3),
                     true, Canvas::Blit::Raster(p.U32(0)));
            break;
        case 0x0D33:  // SETDIBTODEV: usage, scans, start, ySrc, xSrc, h, w, y, x, bitmap
            c.Bitmap(PackedDib(p, 9), p.W(8), p.W(7), p.W(6), p.W(5), p.W(4), p.W(3), p.W(6), p.W(5),
                     true, Canvas::Blit{});
            break;
        // Records with nothing to draw here.
        case 0x0035: case 0x0037: case 0x0105: case 0x0107: case 0x0108: case 0x0139: case 0x0149:
        case 0x020A: case 0x0231: case 0x0234: case 0x0436: case 0x0626:
            break;
        default:
            SkipRecord("WMF", function);
            break;
        }
    }
}

}  // namespace

bool CheckWmf(const uint8_t* data, size_t size)
{
    if (!data || size < kWmfHeaderBytes || size > kMaxFileBytes)
        return false;
    Bytes bytes(data, size);
    const uint16_t type = bytes.U16(0), headerWords = bytes.U16(2), version = bytes.U16(4);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x100 && version != 0x300))
        return false;
    size_t offset = kWmfHeaderBytes, records = 0;
    while (offset < size) {
        if (!bytes.Has(offset, 6) || ++records > kMaxRecords)
            return false;
        const uint64_t total = uint64_t(bytes.U32(offset)) * 2;
        if (total < 6 || !bytes.Has(offset, total))
            return false;
        if (bytes.U16(offset + 4) == 0)
            return true;
        offset += size_t(total);
    }
    return true;
}

void PlayWmf(cairo_t* cr, const uint8_t* data, size_t size, const Box& target, double defaultExtX,
             double defaultExtY)
{
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    Canvas canvas(cr, identity, 1, 1);
    State& s = canvas.state();
    s.mapMode = kMmAnisotropic;
    s.viewportOrgX = target.left;
    s.viewportOrgY = target.top;
    s.viewportExtX = target.right - target.left;
    s.viewportExtY = target.bottom - target.top;
    s.windowExtX = defaultExtX > 0 ? defaultExtX : 1;
    s.windowExtY = defaultExtY > 0 ? defaultExtY : 1;
    canvas.LockViewport();
    Bytes bytes(data, size);
    canvas.SizeTable(bytes.U16(10));
    Play(canvas, bytes, size_t(bytes.U16(2)) * 2);
}

}  // namespace px::meta
