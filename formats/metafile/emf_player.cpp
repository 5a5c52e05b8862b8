// Enhanced metafile records: the chain's check and the player.
#include "formats/metafile/records.h"

#include <algorithm>
#include <cmath>

namespace px::meta {
namespace {

enum : uint32_t {
    kEmrHeader = 1, kEmrEof = 14, kStockFlag = 0x80000000u, kPsGeometric = 0x10000,
    kPsTypeMask = 0xF0000,
};

// One record: its bytes and typed fields at offsets from the record's start.
struct Record {
    Bytes& bytes;
    size_t at;
    size_t size;
    int32_t I(size_t o) const { return o + 4 <= size ? bytes.I32(at + o) : 0; }
    uint32_t U(size_t o) const { return o + 4 <= size ? bytes.U32(at + o) : 0; }
    float F(size_t o) const { return o + 4 <= size ? bytes.F32(at + o) : 0; }
    bool Has(uint64_t o, uint64_t length) const { return o <= size && length <= size - o; }
    const uint8_t* Ptr(size_t o) const { return bytes.data() + at + o; }
};

// count points from offset o: 32-bit or 16-bit pairs.
bool Points(const Record& r, size_t o, uint64_t count, bool small, std::vector<double>& xy)
{
    const uint64_t each = small ? 4 : 8;
    if (count > r.size || !r.Has(o, count * each))
        return false;
    xy.resize(size_t(count) * 2);
    for (size_t i = 0; i < xy.size(); ++i)
        xy[i] = small ? double(int16_t(r.bytes.U16(r.at + o + i * 2))) : double(r.I(o + i * 4));
    return true;
}

// A region's rectangles from its RGNDATA (32-byte header, then the rectangles).
bool RegionOf(const Record& r, size_t o, uint32_t bytes, Region& region)
{
    if (bytes < 32 || !r.Has(o, bytes))
        return false;
    const uint32_t count = r.U(o + 8);
    if (count > (bytes - 32) / 16)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t b = o + 32 + size_t(i) * 16;
        region.boxes.push_back({double(r.I(b)), double(r.I(b + 4)), double(r.I(b + 8)), double(r.I(b + 12))});
    }
    return true;
}

// The bitmap of a record given by offsets and sizes of its header and its bits.
DibRef DibAt(const Record& r, size_t offsets)
{
    const uint32_t offBmi = r.U(offsets), cbBmi = r.U(offsets + 4);
    const uint32_t offBits = r.U(offsets + 8), cbBits = r.U(offsets + 12);
    if (cbBmi == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits))
        return {};
    return {r.Ptr(offBmi), cbBmi, r.Ptr(offBits), cbBits};
}

cairo_matrix_t Xform(const Record& r, size_t o)
{
    cairo_matrix_t m;
    cairo_matrix_init(&m, r.F(o), r.F(o + 4), r.F(o + 8), r.F(o + 12), r.F(o + 16), r.F(o + 20));
    return m;
}

Font FontOf(const Record& r)
{
    Font f;
    f.height = r.I(12);
    f.width = r.I(16);
    f.escapement = r.I(20);
    f.weight = r.I(28);
    if (r.Has(32, 4)) {
        const uint8_t* b = r.Ptr(32);
        f.italic = b[0] != 0;
        f.underline = b[1] != 0;
        f.strikeOut = b[2] != 0;
        f.charset = b[3];
    }
    if (r.Has(40, 2)) {
        size_t n = 0;
        const size_t room = std::min<size_t>(32, (r.size - 40) / 2);
        while (n < room && (r.Ptr(40)[2 * n] | r.Ptr(40)[2 * n + 1]))
            ++n;
        for (const std::string& c : CharsFromUtf16(r.Ptr(40), n))
            f.face += c;
    }
    return f;
}

// One text of a record: its EMRTEXT at offset o (reference point, count, string offset,
// options, rectangle, offset of the advances).
void Text(Canvas& c, const Record& r, bool wide, size_t o = 36)
{
    const double x = r.I(o), y = r.I(o + 4);
    const uint32_t count = r.U(o + 8), offString = r.U(o + 12), options = r.U(o + 16), offDx = r.U(o + 36);
    const Box rect{double(r.I(o + 20)), double(r.I(o + 24)), double(r.I(o + 28)), double(r.I(o + 32))};
    const uint64_t textBytes = uint64_t(count) * (wide ? 2 : 1);
    if (!r.Has(offString, textBytes))
        return;
    std::vector<double> dx;
    if (offDx != 0 && r.Has(offDx, uint64_t(count) * 4))
        for (uint32_t i = 0; i < count; ++i)
            dx.push_back(r.I(offDx + size_t(i) * 4));
    const auto chars = wide ? CharsFromUtf16(r.Ptr(offString), count)
                            : CharsFromAnsi(r.Ptr(offString), count, c.state().font.charset);
    c.Text(x, y, chars, dx, options, &rect);
}

void PlayRecord(Canvas& c, const Record& r, uint32_t type)
{
    State& s = c.state();
    std::vector<double> xy;
    switch (type) {
    case 2: case 3: case 4: case 5: case 6:
    case 85: case 86: case 87: case 88: case 89: {
        const bool small = type >= 85;
        const uint32_t kind = small ? type - 83 : type;
        if (!Points(r, 28, r.U(24), small, xy))
            break;
        if (kind == 2 || kind == 5)
            c.Bezier(xy, kind == 5);
        else if (kind == 3)
            c.Polygons(xy, {uint32_t(xy.size() / 2)});
        else
            c.Polyline(xy, kind == 6);
        break;
    }
    case 7: case 8: case 90: case 91: {
        const bool small = type >= 90;
        const uint32_t polys = r.U(24), points = r.U(28);
        if (polys > r.size / 4 || !r.Has(32, uint64_t(polys) * 4))
            break;
        std::vector<uint32_t> counts(polys);
        uint64_t sum = 0;
        for (uint32_t i = 0; i < polys; ++i)
            sum += counts[i] = r.U(32 + size_t(i) * 4);
        if (sum != points || !Points(r, 32 + size_t(polys) * 4, points, small, xy))
            break;
        if (type == 8 || type == 91)
            c.Polygons(xy, counts);
        else
            c.Polylines(xy, counts);
        break;
    }
    case 9: c.SetWindowExt(r.I(8), r.I(12)); break;
    case 10: c.SetWindowOrg(r.I(8), r.I(12)); break;
    case 11: c.SetViewportExt(r.I(8), r.I(12)); break;
    case 12: c.SetViewportOrg(r.I(8), r.I(12)); break;
    case 15: c.SetPixel(r.I(8), r.I(12), r.U(16)); break;
    case 17: c.SetMapMode(r.U(8)); break;
    case 18: s.backMode = r.U(8); break;
    case 19: s.fillMode = r.U(8); break;
    case 20: s.rop2 = r.U(8); break;
    case 22: s.textAlign = r.U(8); break;
    case 24: s.textColour = r.U(8) & 0xFFFFFF; break;
    case 25: s.backColour = r.U(8) & 0xFFFFFF; break;
    case 26: c.OffsetClip(r.I(8), r.I(12)); break;
    case 27: c.MoveTo(r.I(8), r.I(12)); break;
    case 29: c.ExcludeClip(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 30: c.IntersectClip(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 31: c.ScaleViewportExt(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 32: c.ScaleWindowExt(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 33: c.Save(); break;
    case 34: c.Restore(r.I(8)); break;
    case 35: c.SetWorld(Xform(r, 8)); break;
    case 36: c.ModifyWorld(Xform(r, 8), r.U(32)); break;
    case 37: {
        const uint32_t index = r.U(8);
        if (index & kStockFlag)
            c.SelectStock(index & ~kStockFlag);
        else
            c.Select(index);
        break;
    }
    case 38: {
        Pen pen;
        pen.style = r.U(12);
        pen.width = r.I(16);
        pen.colour = r.U(24) & 0xFFFFFF;
        c.Put(r.U(8), pen);
        break;
    }
    case 95: {  // EXTCREATEPEN
        Pen pen;
        pen.style = r.U(28);
        pen.width = (pen.style & kPsTypeMask) == kPsGeometric ? double(r.U(32)) : 0;
        pen.colour = r.U(40) & 0xFFFFFF;
        const uint32_t entries = r.U(48);
        if ((pen.style & kPsStyleMask) == kPsUserStyle && entries <= 16 && r.Has(52, uint64_t(entries) * 4))
            for (uint32_t i = 0; i < entries; ++i)
                pen.dashes.push_back(r.U(52 + size_t(i) * 4));
        if (r.U(36) == kBsNull)
            pen.style = (pen.style & ~uint32_t(kPsStyleMask)) | kPsNull;
        c.Put(r.U(8), pen);
        break;
    }
    case 39: {
        Brush brush;
        brush.style = r.U(12);
        brush.colour = r.U(16) & 0xFFFFFF;
        brush.hatch = r.U(20);
        c.Put(r.U(8), brush);
        break;
    }
    case 93: case 94: {  // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
        Brush brush;
        brush.style = kBsDibPatternPt;
        brush.colour = 0;
        brush.pattern = Canvas::DibPattern(DibAt(r, 16));
        c.Put(r.U(8), brush);
        break;
    }
    case 82: c.Put(r.U(8), FontOf(r)); break;
    case 49: c.Put(r.U(8), Palette{}); break;
    case 40: c.Delete(r.U(8)); break;
    case 41: c.AngleArc(r.I(8), r.I(12), r.U(16), r.F(20), r.F(24)); break;
    case 42: c.Ellipse(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 43: c.Rectangle(r.I(8), r.I(12), r.I(16), r.I(20)); break;
    case 44: c.RoundRect(r.I(8), r.I(12), r.I(16), r.I(20), r.I(24), r.I(28)); break;
    case 45: case 46: case 47: case 55: {
        const auto kind = type == 45 ? Canvas::ArcKind::Arc
                          : type == 46 ? Canvas::ArcKind::Chord
                          : type == 47 ? Canvas::ArcKind::Pie
                                       : Canvas::ArcKind::ArcTo;
        c.Arc(kind, r.I(8), r.I(12), r.I(16), r.I(20), r.I(24), r.I(28), r.I(32), r.I(36));
        break;
    }
    case 54: c.LineTo(r.I(8), r.I(12)); break;
    case 57: s.arcDirection = r.U(8); break;
    case 58: s.miterLimit = r.U(8); break;
    case 59: c.BeginPath(); break;
    case 60: c.EndPath(); break;
    case 61: c.CloseFigure(); break;
    case 62: c.FillPath(); break;
    case 63: c.StrokeAndFillPath(); break;
    case 64: c.StrokePath(); break;
    case 67: c.SelectClipPath(r.U(8)); break;
    case 68: c.AbortPath(); break;
    case 71: case 72: case 74: {  // FILLRGN, FRAMERGN, PAINTRGN
        Region region;
        const uint32_t bytes = r.U(24);
        const size_t at = type == 71 ? 32 : type == 72 ? 40 : 28;
        if (!RegionOf(r, at, bytes, region))
            break;
        const Brush* brush = &s.brush;
        if (type != 74) {
            const Object* o = c.Get(r.U(28));
            brush = o ? std::get_if<Brush>(o) : nullptr;
        }
        if (!brush)
            break;
        if (type == 72)
            c.FrameRegion(region, *brush, r.I(32), r.I(36), true);
        else
            c.FillRegion(region, *brush, true);
        break;
    }
    case 73: {  // INVERTRGN
        Region region;
        if (RegionOf(r, 28, r.U(24), region))
            c.FillRegion(region, Brush{kBsSolid, 0xFFFFFF, 0, nullptr}, true, true);
        break;
    }
    case 75: {  // EXTSELECTCLIPRGN: region in device units
        const uint32_t bytes = r.U(8), mode = r.U(12);
        Region region;
        if (bytes == 0)
            c.SelectClipRegion(nullptr, mode, false);
        else if (RegionOf(r, 16, bytes, region))
            c.SelectClipRegion(&region, mode, false);
        break;
    }
    case 76: case 77: case 78: case 114: case 116: {  // BITBLT, STRETCHBLT, MASKBLT, ALPHABLEND, TRANSPARENTBLT
        const double x = r.I(24), y = r.I(28), w = r.I(32), h = r.I(36);
        Canvas::Blit blit;
        blit.rop = r.U(40);
        const DibRef dib = DibAt(r, 84);
        if (!dib.info) {
            if (type == 76 || type == 77)
                c.PatBlt(x, y, w, h, blit.rop);
            break;
        }
        const bool stretched = type == 77 || type == 114 || type == 116;
        const int32_t sw = stretched ? r.I(100) : int32_t(w), sh = stretched ? r.I(104) : int32_t(h);
        if (type == 114) {  // the blend function: operation, flags, constant alpha, alpha format
            blit.constantAlpha = (blit.rop >> 16) & 0xFF;
            blit.pixelAlpha = (blit.rop >> 24) & 1;
        } else if (type == 116) {
            blit.transparent = blit.rop & 0xFFFFFF;
        } else if (type == 78) {
            // The mask chooses the source where it is set and keeps the device elsewhere.
            blit.mask = DibAt(r, 112);
            blit.maskX = r.I(100);
            blit.maskY = r.I(104);
        }
        c.Bitmap(dib, x, y, w, h, r.I(44), r.I(48), sw, sh, false, blit);
        break;
    }
    case 79: {  // PLGBLT: three corners, then the source and its mask
        const double corners[6] = {double(r.I(24)), double(r.I(28)), double(r.I(32)),
                                   double(r.I(36)), double(r.I(40)), double(r.I(44))};
        Canvas::Blit blit;
        blit.mask = DibAt(r, 124);
        blit.maskX = r.I(112);
        blit.maskY = r.I(116);
        c.BitmapOnto(DibAt(r, 96), corners, r.I(48), r.I(52), r.I(56), r.I(60), blit);
        break;
    }
    case 80: {  // SETDIBITSTODEVICE
        const int32_t w = r.I(40), h = r.I(44);
        c.Bitmap(DibAt(r, 48), r.I(24), r.I(28), w, h, r.I(32), r.I(36), w, h, true, Canvas::Blit{});
        break;
    }
    case 81:  // STRETCHDIBITS
        c.Bitmap(DibAt(r, 48), r.I(24), r.I(28), r.I(72), r.I(76), r.I(32), r.I(36), r.I(40), r.I(44),
                 true, Canvas::Blit::Raster(r.U(68)));
        break;
    case 118: {  // GRADIENTFILL: vertices, then rectangles or triangles of their indexes
        const uint32_t vertices = r.U(24), shapes = r.U(28), mode = r.U(32);
        const uint64_t each = mode == 2 ? 12 : 8;
        if (vertices > r.size / 16 || !r.Has(36, uint64_t(vertices) * 16 + uint64_t(shapes) * each))
            break;
        auto vertex = [&](uint32_t i) {
            const size_t o = 36 + size_t(i) * 16;
            auto colour = [&](size_t at) { return r.bytes.U16(r.at + at) / 65280.0; };
            return Canvas::Vertex{double(r.I(o)), double(r.I(o + 4)), std::min(1.0, colour(o + 8)),
                                  std::min(1.0, colour(o + 10)), std::min(1.0, colour(o + 12))};
        };
        const size_t shapesAt = 36 + size_t(vertices) * 16;
        for (uint32_t i = 0; i < shapes; ++i) {
            const size_t o = shapesAt + size_t(i) * each;
            const uint32_t a = r.U(o), b = r.U(o + 4), t = mode == 2 ? r.U(o + 8) : 0;
            if (a >= vertices || b >= vertices || t >= vertices)
                continue;
            if (mode == 2)
                c.GradientTriangle(vertex(a), vertex(b), vertex(t));
            else if (mode <= 1)
                c.GradientRect(vertex(a), vertex(b), mode == 1);
        }
        break;
    }
    case 83: Text(c, r, false); break;
    case 84: Text(c, r, true); break;
    case 96: case 97: {  // POLYTEXTOUTA, POLYTEXTOUTW: several texts of 40 bytes each
        const uint32_t texts = r.U(36);
        for (uint32_t i = 0; i < texts && r.Has(40 + uint64_t(i) * 40, 40); ++i)
            Text(c, r, type == 97, 40 + size_t(i) * 40);
        break;
    }
    case 108: {  // SMALLTEXTOUT: x, y, count, options, mode, scales, [clip], characters
        const uint32_t count = r.U(16), options = r.U(20);
        const bool hasRect = !(options & 0x100), narrow = options & 0x200;
        const size_t textAt = hasRect ? 52 : 36;
        if (!r.Has(textAt, uint64_t(count) * (narrow ? 1 : 2)))
            break;
        const Box rect{double(r.I(36)), double(r.I(40)), double(r.I(44)), double(r.I(48))};
        c.Text(r.I(8), r.I(12),
               narrow ? CharsFromAnsi(r.Ptr(textAt), count, s.font.charset) : CharsFromUtf16(r.Ptr(textAt), count),
               {}, options & (kEtoOpaque | kEtoClipped), hasRect ? &rect : nullptr);
        break;
    }
    case 56: case 92: {  // POLYDRAW, POLYDRAW16: points, then a type byte for each
        const bool small = type == 92;
        const uint32_t count = r.U(24);
        if (!Points(r, 28, count, small, xy) || !r.Has(28 + uint64_t(count) * (small ? 4 : 8), count))
            break;
        const uint8_t* types = r.Ptr(28 + size_t(count) * (small ? 4 : 8));
        c.PolyDraw(xy, std::vector<uint8_t>(types, types + count));
        break;
    }
    // Records with nothing to draw here.
    case kEmrHeader: case 13: case 16: case 21: case 23: case 28: case 48: case 50: case 51: case 52:
    case 65: case 70: case 98: case 99: case 100: case 101: case 102: case 103: case 104: case 105:
    case 106: case 107: case 110: case 111: case 112: case 113: case 115: case 119: case 120:
    case 121: case 122:
        break;
    default:
        SkipRecord("EMF", type);
        break;
    }
}

}  // namespace

bool CheckEmf(const uint8_t* data, size_t size)
{
    if (!data || size < kEmfHeaderMin || size > kMaxFileBytes)
        return false;
    Bytes bytes(data, size);
    const uint32_t headerSize = bytes.U32(4);
    if (bytes.U32(0) != kEmrHeader || bytes.U32(40) != ENHMETA_SIGNATURE || headerSize < kEmfHeaderMin)
        return false;
    size_t offset = 0, records = 0;
    while (offset < size) {
        if (!bytes.Has(offset, 8) || ++records > kMaxRecords)
            return false;
        const uint32_t recordSize = bytes.U32(offset + 4);
        if (recordSize < 8 || recordSize % 4 != 0 || !bytes.Has(offset, recordSize))
            return false;
        if (bytes.U32(offset) == kEmrEof)
            return true;
        offset += recordSize;
    }
    return true;
}

void PlayEmf(cairo_t* cr, const uint8_t* data, size_t size, const Box& target)
{
    Bytes bytes(data, size);
    // The frame (0.01 mm) in pixels of the reference device, mapped onto the target.
    const double devW = bytes.I32(72), devH = bytes.I32(76);
    double mmW = bytes.I32(80), mmH = bytes.I32(84);
    if (bytes.U32(4) >= 108 && bytes.I32(100) > 0 && bytes.I32(104) > 0) {
        mmW = bytes.I32(100) / 1000.0;  // micrometres, when the header has them
        mmH = bytes.I32(104) / 1000.0;
    }
    if (devW <= 0 || devH <= 0 || mmW <= 0 || mmH <= 0)
        return;
    const double ppmX = devW / mmW, ppmY = devH / mmH;
    const double fl = bytes.I32(24) / 100.0 * ppmX, ft = bytes.I32(28) / 100.0 * ppmY;
    const double fr = bytes.I32(32) / 100.0 * ppmX, fb = bytes.I32(36) / 100.0 * ppmY;
    if (fr <= fl || fb <= ft)
        return;
    cairo_matrix_t base;
    const double sx = (target.right - target.left) / (fr - fl), sy = (target.bottom - target.top) / (fb - ft);
    cairo_matrix_init(&base, sx, 0, 0, sy, target.left - fl * sx, target.top - ft * sy);
    Canvas canvas(cr, base, ppmX, ppmY);
    canvas.SizeTable(bytes.U16(56));

    size_t offset = 0, records = 0;
    while (bytes.Has(offset, 8) && records++ < kMaxRecords) {
        const uint32_t type = bytes.U32(offset), recordSize = bytes.U32(offset + 4);
        if (recordSize < 8 || !bytes.Has(offset, recordSize) || type == kEmrEof)
            return;
        const Record r{bytes, offset, recordSize};
        PlayRecord(canvas, r, type);
        offset += recordSize;
    }
}

}  // namespace px::meta
