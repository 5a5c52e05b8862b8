// The GDI operations of metafile records, drawn with cairo: mapping, objects, clipping, paths,
// shapes, text and bitmaps.
#include "platform/metafile_canvas.h"

#include "platform/gdi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace px::meta {
namespace {

// Beyond any surface, and within what cairo holds in its fixed-point coordinates (2^23).
constexpr double kFar = 4194304;
constexpr size_t kMaxClipBoxes = 4096;
constexpr double kMaxScale = 1e9;
constexpr int64_t kMaxSourcePixels = int64_t{1} << 26;

bool Finite(const cairo_matrix_t& m)
{
    const double values[] = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > kMaxScale)
            return false;
    const double det = m.xx * m.yy - m.xy * m.yx;
    return std::isfinite(det) && std::fabs(det) > 1e-12;
}

Box Intersect(const Box& a, const Box& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// a without b, as up to four boxes.
void Subtract(const Box& a, const Box& b, std::vector<Box>& out)
{
    const Box overlap = Intersect(a, b);
    if (overlap.Empty()) {
        out.push_back(a);
        return;
    }
    const Box parts[] = {
        {a.left, a.top, a.right, overlap.top},
        {a.left, overlap.bottom, a.right, a.bottom},
        {a.left, overlap.top, overlap.left, overlap.bottom},
        {overlap.right, overlap.top, a.right, overlap.bottom},
    };
    for (const Box& part : parts)
        if (!part.Empty())
            out.push_back(part);
}

std::vector<Box> SubtractAll(const std::vector<Box>& from, const std::vector<Box>& remove)
{
    std::vector<Box> result = from;
    for (const Box& b : remove) {
        std::vector<Box> next;
        for (const Box& a : result)
            Subtract(a, b, next);
        result.swap(next);
    }
    return result;
}

void AddPoint(cairo_t* cr, double x, double y)
{
    if (cairo_has_current_point(cr))
        cairo_line_to(cr, x, y);
    else
        cairo_move_to(cr, x, y);
}

// The shifts of the half-pixel grid: odd stroke widths sit on pixel centres.
void ShiftPath(cairo_path_t* path, double d)
{
    for (int i = 0; i < path->num_data; i += path->data[i].header.length)
        for (int j = 1; j < path->data[i].header.length; ++j) {
            path->data[i + j].point.x += d;
            path->data[i + j].point.y += d;
        }
}

struct SurfaceOwner {
    cairo_surface_t* s;
    ~SurfaceOwner() { cairo_surface_destroy(s); }
};

struct PatternOwner {
    cairo_pattern_t* p;
    ~PatternOwner() { cairo_pattern_destroy(p); }
};

bool HatchBit(uint32_t hatch, int x, int y)
{
    switch (hatch) {
    case 0: return y == 0;
    case 1: return x == 0;
    case 2: return x == y;
    case 3: return x + y == 7;
    case 4: return x == 0 || y == 0;
    case 5: return x == y || x + y == 7;
    default: return false;
    }
}

uint32_t Argb(uint32_t colourref)
{
    return 0xFF000000u | ((colourref & 0xFF) << 16) | (colourref & 0xFF00) | ((colourref >> 16) & 0xFF);
}

// Where a packed bitmap's parts lie, every one checked against the bytes given.
bool Locate(const DibRef& dib, gdi::DibLayout& layout, const uint8_t*& bits)
{
    if (!dib.info || dib.infoBytes < sizeof(BITMAPINFOHEADER))
        return false;
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.info, sizeof h);
    if (h.biCompression == BI_BITFIELDS && dib.infoBytes < sizeof h + 12)
        return false;
    layout = gdi::ParseDib(dib.info);
    if (layout.status != gdi::DibStatus::Ok || layout.bitsOffset > dib.infoBytes)
        return false;
    bits = dib.bits;
    uint64_t available = dib.bitsBytes;
    if (!bits) {
        bits = dib.info + layout.bitsOffset;
        available = dib.infoBytes - layout.bitsOffset;
    }
    return layout.imageBytes <= available;
}

}  // namespace

void SkipRecord(const char* kind, uint32_t type)
{
    char line[96];
    std::snprintf(line, sizeof line, "Metafile: %s record 0x%X skipped\n", kind, type);
    OutputDebugStringA(line);
}

Canvas::Canvas(cairo_t* cr, const cairo_matrix_t& base, double pixelsPerMmX, double pixelsPerMmY)
    : m_cr(cr), m_base(base), m_pxPerMmX(pixelsPerMmX), m_pxPerMmY(pixelsPerMmY)
{
    cairo_matrix_init_identity(&m_state.world);
    m_state.pen.colour = 0;
    m_state.brush.colour = 0xFFFFFF;
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
}

// ---- Mapping ----

void Canvas::SetMapMode(uint32_t mode)
{
    if (m_viewportLocked || mode < kMmText || mode > kMmAnisotropic)
        return;
    m_state.mapMode = mode;
}

void Canvas::SetWindowOrg(double x, double y)
{
    m_state.windowOrgX = x;
    m_state.windowOrgY = y;
}

void Canvas::SetWindowExt(double x, double y)
{
    if (x == 0 || y == 0)
        return;
    m_state.windowExtX = x;
    m_state.windowExtY = y;
}

void Canvas::LockViewport()
{
    m_viewportLocked = true;
    m_lockedOrgX = m_state.viewportOrgX;
    m_lockedOrgY = m_state.viewportOrgY;
}

// Device units of a locked viewport's file, in pixels of the target: the file's viewport
// extents (else its window's) span the target.
void Canvas::FileDeviceToTarget(double& x, double& y) const
{
    const double extX = m_fileViewportX ? m_fileViewportX : m_state.windowExtX;
    const double extY = m_fileViewportY ? m_fileViewportY : m_state.windowExtY;
    x *= m_state.viewportExtX / extX;
    y *= m_state.viewportExtY / extY;
}

void Canvas::SetViewportOrg(double x, double y)
{
    if (m_viewportLocked) {
        FileDeviceToTarget(x, y);
        x += m_lockedOrgX;
        y += m_lockedOrgY;
    }
    m_state.viewportOrgX = x;
    m_state.viewportOrgY = y;
}

void Canvas::SetViewportExt(double x, double y)
{
    if (x == 0 || y == 0)
        return;
    if (m_viewportLocked) {
        m_fileViewportX = x;
        m_fileViewportY = y;
        return;
    }
    m_state.viewportExtX = x;
    m_state.viewportExtY = y;
}

void Canvas::OffsetWindowOrg(double dx, double dy)
{
    m_state.windowOrgX += dx;
    m_state.windowOrgY += dy;
}

void Canvas::OffsetViewportOrg(double dx, double dy)
{
    if (m_viewportLocked)
        FileDeviceToTarget(dx, dy);
    m_state.viewportOrgX += dx;
    m_state.viewportOrgY += dy;
}

void Canvas::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0)
        return;
    SetWindowExt(m_state.windowExtX * xNum / xDenom, m_state.windowExtY * yNum / yDenom);
}

void Canvas::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0)
        return;
    SetViewportExt(m_state.viewportExtX * xNum / xDenom, m_state.viewportExtY * yNum / yDenom);
}

void Canvas::SetWorld(const cairo_matrix_t& m)
{
    if (Finite(m))
        m_state.world = m;
}

void Canvas::ModifyWorld(const cairo_matrix_t& m, uint32_t mode)
{
    cairo_matrix_t result;
    switch (mode) {
    case 1:
        cairo_matrix_init_identity(&m_state.world);
        return;
    case 2:  // the new one first, then the old
        cairo_matrix_multiply(&result, &m, &m_state.world);
        break;
    case 3:
        cairo_matrix_multiply(&result, &m_state.world, &m);
        break;
    case 4:
        result = m;
        break;
    default:
        return;
    }
    SetWorld(result);
}

bool Canvas::Full(cairo_matrix_t& m) const
{
    const State& s = m_state;
    double sx = 1, sy = 1;
    const double unitsMm[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
    switch (s.mapMode) {
    case kMmText:
        break;
    case kMmLoMetric: case kMmHiMetric: case kMmLoEnglish: case kMmHiEnglish: case kMmTwips:
        sx = unitsMm[s.mapMode] * m_pxPerMmX;
        sy = -unitsMm[s.mapMode] * m_pxPerMmY;
        break;
    default:
        sx = s.viewportExtX / s.windowExtX;
        sy = s.viewportExtY / s.windowExtY;
        if (s.mapMode == kMmIsotropic) {
            const double a = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(a, sx);
            sy = std::copysign(a, sy);
        }
        break;
    }
    cairo_matrix_t page, worldPage;
    cairo_matrix_init(&page, sx, 0, 0, sy, s.viewportOrgX - s.windowOrgX * sx,
                      s.viewportOrgY - s.windowOrgY * sy);
    cairo_matrix_multiply(&worldPage, &s.world, &page);
    cairo_matrix_multiply(&m, &worldPage, &m_base);
    return Finite(m);
}

bool Canvas::Transform(double& x, double& y) const
{
    cairo_matrix_t m;
    if (!Full(m))
        return false;
    cairo_matrix_transform_point(&m, &x, &y);
    return true;
}

double Canvas::DeviceScale() const
{
    cairo_matrix_t m;
    if (!Full(m))
        return 1;
    return std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
}

// True when every logical point lands within kFar of the device's origin: cairo's coordinates
// wrap beyond 2^23, and its rasteriser and clipper do not survive what that makes.
bool Canvas::Fits(const double* xy, size_t count) const
{
    cairo_matrix_t m;
    if (!Full(m))
        return false;
    for (size_t i = 0; i + 1 < count; i += 2) {
        double x = xy[i], y = xy[i + 1];
        cairo_matrix_transform_point(&m, &x, &y);
        if (!(std::fabs(x) <= kFar && std::fabs(y) <= kFar))
            return false;
    }
    return true;
}

bool Canvas::Fits(std::initializer_list<double> xy) const
{
    return Fits(xy.begin(), xy.size());
}

bool Canvas::Fits(const std::vector<double>& xy) const
{
    return Fits(xy.data(), xy.size());
}

Box Canvas::DeviceBox(double l, double t, double r, double b) const
{
    cairo_matrix_t m;
    if (!Full(m))
        return {0, 0, 0, 0};
    double xs[4] = {l, r, l, r}, ys[4] = {t, t, b, b};
    Box box{kFar, kFar, -kFar, -kFar};
    for (int i = 0; i < 4; ++i) {
        cairo_matrix_transform_point(&m, &xs[i], &ys[i]);
        box.left = std::min(box.left, xs[i]);
        box.right = std::max(box.right, xs[i]);
        box.top = std::min(box.top, ys[i]);
        box.bottom = std::max(box.bottom, ys[i]);
    }
    // Whole device pixels, as GDI clips, and no farther than cairo reaches.
    auto clamp = [](double v) { return std::clamp(std::round(v), -kFar, kFar); };
    return {clamp(box.left), clamp(box.top), clamp(box.right), clamp(box.bottom)};
}

// ---- Objects ----

void Canvas::SizeTable(size_t entries)
{
    m_objects.assign(std::min(entries, kMaxObjects), Object{});
}

bool Canvas::Put(size_t index, Object object)
{
    if (index >= m_objects.size())
        return false;
    m_objects[index] = std::move(object);
    return true;
}

bool Canvas::PutFirstFree(Object object)
{
    for (Object& slot : m_objects)
        if (std::holds_alternative<std::monostate>(slot)) {
            slot = std::move(object);
            return true;
        }
    return false;
}

const Object* Canvas::Get(size_t index) const
{
    return index < m_objects.size() ? &m_objects[index] : nullptr;
}

void Canvas::Select(size_t index)
{
    const Object* object = Get(index);
    if (!object)
        return;
    if (const auto* pen = std::get_if<Pen>(object))
        m_state.pen = *pen;
    else if (const auto* brush = std::get_if<Brush>(object))
        m_state.brush = *brush;
    else if (const auto* font = std::get_if<Font>(object))
        m_state.font = *font;
    else if (const auto* region = std::get_if<Region>(object))
        SelectClipRegion(region, kRgnCopy, true);
}

void Canvas::SelectStock(uint32_t stock)
{
    static constexpr uint32_t kGreys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    if (stock <= 4) {
        m_state.brush = Brush{kBsSolid, kGreys[stock], 0, nullptr};
    } else if (stock == 5) {
        m_state.brush = Brush{kBsNull, 0, 0, nullptr};
    } else if (stock == 6 || stock == 7) {
        m_state.pen = Pen{kPsSolid, 0, stock == 6 ? 0xFFFFFFu : 0u, {}};
    } else if (stock == 8) {
        m_state.pen = Pen{kPsNull, 0, 0, {}};
    } else if (stock >= 10 && stock <= 17 && stock != 15) {
        m_state.font = Font{};
        m_state.font.face = (stock == 10 || stock == 11 || stock == 16) ? "monospace" : "sans-serif";
    }
}

void Canvas::Delete(size_t index)
{
    if (index < m_objects.size())
        m_objects[index] = std::monostate{};
}

// ---- Saved states ----

void Canvas::Save()
{
    if (m_saved.size() < kMaxSavedStates)
        m_saved.push_back(m_state);
}

void Canvas::Restore(int32_t which)
{
    size_t keep;
    if (which < 0) {
        const uint64_t back = uint64_t(-int64_t{which});
        if (back > m_saved.size())
            return;
        keep = m_saved.size() - size_t(back);
    } else {
        if (which == 0 || size_t(which) > m_saved.size())
            return;
        keep = size_t(which) - 1;
    }
    m_state = m_saved[keep];
    m_saved.resize(keep);
    ++m_clipVersion;
}

// ---- Painting ----

void Canvas::SetColour(uint32_t c)
{
    cairo_set_source_rgb(m_cr, Red(c), Green(c), Blue(c));
}

bool Canvas::ApplyRop()
{
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    switch (m_state.rop2) {
    case 1: SetColour(0); break;                            // R2_BLACK
    case 16: SetColour(0xFFFFFF); break;                    // R2_WHITE
    case 11: return false;                                  // R2_NOP
    case 6: SetColour(0xFFFFFF); op = CAIRO_OPERATOR_DIFFERENCE; break;  // R2_NOT
    case 7: op = CAIRO_OPERATOR_DIFFERENCE; break;          // R2_XORPEN, exact on black or white
    case 9: op = CAIRO_OPERATOR_MULTIPLY; break;            // R2_MASKPEN
    case 15: op = CAIRO_OPERATOR_LIGHTEN; break;            // R2_MERGEPEN
    default: break;
    }
    cairo_set_operator(m_cr, op);
    return true;
}

bool Canvas::SetBrushSource(const Brush& brush)
{
    switch (brush.style) {
    case kBsSolid:
        SetColour(brush.colour);
        return true;
    case kBsHatched: {
        SurfaceOwner tile{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8)};
        auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(tile.s));
        if (!px)
            return false;
        const int stride = cairo_image_surface_get_stride(tile.s) / 4;
        const uint32_t back = m_state.backMode == kOpaque ? Argb(m_state.backColour) : 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                px[y * stride + x] = HatchBit(brush.hatch, x, y) ? Argb(brush.colour) : back;
        cairo_surface_mark_dirty(tile.s);
        PatternOwner pattern{cairo_pattern_create_for_surface(tile.s)};
        cairo_pattern_set_extend(pattern.p, CAIRO_EXTEND_REPEAT);
        cairo_pattern_set_filter(pattern.p, CAIRO_FILTER_NEAREST);
        cairo_set_source(m_cr, pattern.p);
        return true;
    }
    case kBsPattern:
    case kBsDibPattern:
    case kBsDibPatternPt: {
        if (!brush.pattern) {
            SetColour(brush.colour);
            return true;
        }
        const Pattern& p = *brush.pattern;
        SurfaceOwner tile{cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(p.pixels.data())),
            CAIRO_FORMAT_ARGB32, p.width, p.height, p.width * 4)};
        PatternOwner pattern{cairo_pattern_create_for_surface(tile.s)};
        cairo_pattern_set_extend(pattern.p, CAIRO_EXTEND_REPEAT);
        cairo_pattern_set_filter(pattern.p, CAIRO_FILTER_NEAREST);
        cairo_set_source(m_cr, pattern.p);
        return true;
    }
    default:
        return false;
    }
}

bool Canvas::SetPenSource(double& width)
{
    const Pen& pen = m_state.pen;
    const uint32_t style = pen.style & kPsStyleMask;
    if (style == kPsNull)
        return false;
    width = std::max(1.0, std::round(pen.width * DeviceScale()));
    cairo_set_line_width(m_cr, width);
    const uint32_t cap = pen.style & kPsEndCapMask, join = pen.style & kPsJoinMask;
    cairo_set_line_cap(m_cr, cap == kPsEndCapFlat     ? CAIRO_LINE_CAP_BUTT
                             : cap == kPsEndCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                      : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(m_cr, join == kPsJoinBevel   ? CAIRO_LINE_JOIN_BEVEL
                              : join == kPsJoinMiter ? CAIRO_LINE_JOIN_MITER
                                                     : CAIRO_LINE_JOIN_ROUND);
    cairo_set_miter_limit(m_cr, std::clamp(m_state.miterLimit, 1.0, 100.0));
    std::vector<double> dashes;
    switch (style) {
    case kPsDash: dashes = {18, 6}; break;
    case kPsDot: dashes = {3, 3}; break;
    case kPsDashDot: dashes = {9, 6, 3, 6}; break;
    case kPsDashDotDot: dashes = {9, 3, 3, 3, 3, 3}; break;
    case kPsUserStyle:
        for (double d : pen.dashes)
            dashes.push_back(std::max(0.0, d * DeviceScale()));
        break;
    default: break;
    }
    if (style != kPsUserStyle && width > 1)
        for (double& d : dashes)
            d *= width;
    double total = 0;
    for (double d : dashes)
        total += d;
    // Dashes finer than two pixels cannot be told from a line and would cost without end.
    if (total < 2 || !std::isfinite(total))
        dashes.clear();
    cairo_set_dash(m_cr, dashes.data(), int(dashes.size()), 0);
    SetColour(pen.colour);
    return true;
}

void Canvas::ApplyClip()
{
    if (m_appliedClip == m_clipVersion)
        return;
    m_appliedClip = m_clipVersion;
    cairo_identity_matrix(m_cr);
    cairo_reset_clip(m_cr);
    const Clip& clip = m_state.clip;
    if (!clip.active)
        return;
    cairo_new_path(m_cr);
    for (const Box& b : clip.boxes)
        cairo_rectangle(m_cr, b.left, b.top, b.right - b.left, b.bottom - b.top);
    if (clip.boxes.empty())
        cairo_rectangle(m_cr, 0, 0, 0, 0);
    cairo_set_fill_rule(m_cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(m_cr);
    for (const auto& path : clip.paths) {
        cairo_new_path(m_cr);
        cairo_append_path(m_cr, path->path);
        cairo_set_fill_rule(m_cr, clip.rule);
        cairo_clip(m_cr);
    }
}

void Canvas::Paint(cairo_path_t* path, bool fill, bool stroke)
{
    ApplyClip();
    cairo_identity_matrix(m_cr);
    if (fill && m_state.brush.style != kBsNull && SetBrushSource(m_state.brush) && ApplyRop()) {
        cairo_new_path(m_cr);
        cairo_append_path(m_cr, path);
        cairo_set_fill_rule(m_cr, m_state.fillMode == kWinding ? CAIRO_FILL_RULE_WINDING
                                                                : CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(m_cr);
    }
    double width = 1;
    if (stroke && SetPenSource(width) && ApplyRop()) {
        if (int64_t(width) % 2 == 1)
            ShiftPath(path, 0.5);
        const uint32_t style = m_state.pen.style & kPsStyleMask;
        if (m_state.backMode == kOpaque && style >= kPsDash && style <= kPsDashDotDot) {
            // The gaps of a styled pen show the background colour.
            const uint32_t pen = m_state.pen.colour;
            cairo_new_path(m_cr);
            cairo_append_path(m_cr, path);
            cairo_save(m_cr);
            cairo_set_dash(m_cr, nullptr, 0, 0);
            SetColour(m_state.backColour);
            cairo_stroke(m_cr);
            cairo_restore(m_cr);
            SetColour(pen);
            ApplyRop();
        }
        cairo_new_path(m_cr);
        cairo_append_path(m_cr, path);
        cairo_stroke(m_cr);
    }
    cairo_new_path(m_cr);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_OVER);
}

template <class Build>
void Canvas::Draw(bool fill, bool stroke, Build&& build)
{
    cairo_matrix_t m;
    if (!Full(m))
        return;
    if (m_inPath) {
        cairo_set_matrix(m_cr, &m);
        build();
        cairo_identity_matrix(m_cr);
        return;
    }
    cairo_new_path(m_cr);
    cairo_set_matrix(m_cr, &m);
    build();
    cairo_identity_matrix(m_cr);
    cairo_path_t* path = cairo_copy_path(m_cr);
    if (path->status == CAIRO_STATUS_SUCCESS)
        Paint(path, fill, stroke);
    cairo_path_destroy(path);
    cairo_new_path(m_cr);
}

// ---- Shapes ----

void Canvas::MoveTo(double x, double y)
{
    if (!Fits({x, y}))
        return;
    m_state.x = x;
    m_state.y = y;
    if (m_inPath)
        Draw(false, false, [&] { cairo_move_to(m_cr, x, y); });
}

void Canvas::LineTo(double x, double y)
{
    if (!Fits({x, y, m_state.x, m_state.y}))
        return;
    const double fromX = m_state.x, fromY = m_state.y;
    Draw(false, true, [&] {
        if (!cairo_has_current_point(m_cr))
            cairo_move_to(m_cr, fromX, fromY);
        cairo_line_to(m_cr, x, y);
    });
    m_state.x = x;
    m_state.y = y;
}

void Canvas::Polyline(const std::vector<double>& xy, bool fromCurrent)
{
    if (!(Fits(xy) && Fits({m_state.x, m_state.y})))
        return;
    if (xy.size() < 2)
        return;
    const double fromX = m_state.x, fromY = m_state.y;
    Draw(false, true, [&] {
        if (fromCurrent) {
            if (!cairo_has_current_point(m_cr))
                cairo_move_to(m_cr, fromX, fromY);
        } else {
            cairo_move_to(m_cr, xy[0], xy[1]);
        }
        for (size_t i = fromCurrent ? 0 : 2; i + 1 < xy.size(); i += 2)
            cairo_line_to(m_cr, xy[i], xy[i + 1]);
    });
    if (fromCurrent) {
        m_state.x = xy[xy.size() - 2];
        m_state.y = xy[xy.size() - 1];
    }
}

void Canvas::Polygons(const std::vector<double>& xy, const std::vector<uint32_t>& counts)
{
    SubPaths(xy, counts, true);
}

void Canvas::Polylines(const std::vector<double>& xy, const std::vector<uint32_t>& counts)
{
    SubPaths(xy, counts, false);
}

// One sub-path per count of points; a count reaching past the points ends the list.
void Canvas::SubPaths(const std::vector<double>& xy, const std::vector<uint32_t>& counts, bool closed)
{
    if (!Fits(xy))
        return;
    Draw(closed, true, [&] {
        size_t at = 0;
        for (uint32_t n : counts) {
            if (uint64_t(at) + uint64_t(n) * 2 > xy.size())
                break;
            cairo_new_sub_path(m_cr);
            for (uint32_t i = 0; i < n; ++i, at += 2)
                AddPoint(m_cr, xy[at], xy[at + 1]);
            if (closed)
                cairo_close_path(m_cr);
        }
    });
}

void Canvas::Bezier(const std::vector<double>& xy, bool fromCurrent)
{
    if (!(Fits(xy) && Fits({m_state.x, m_state.y})))
        return;
    const size_t first = fromCurrent ? 0 : 2;
    if (xy.size() < first + 6)
        return;
    const double fromX = m_state.x, fromY = m_state.y;
    Draw(false, true, [&] {
        if (fromCurrent) {
            if (!cairo_has_current_point(m_cr))
                cairo_move_to(m_cr, fromX, fromY);
        } else {
            cairo_move_to(m_cr, xy[0], xy[1]);
        }
        for (size_t i = first; i + 6 <= xy.size(); i += 6)
            cairo_curve_to(m_cr, xy[i], xy[i + 1], xy[i + 2], xy[i + 3], xy[i + 4], xy[i + 5]);
    });
    if (fromCurrent) {
        const size_t last = first + (xy.size() - first) / 6 * 6;
        m_state.x = xy[last - 2];
        m_state.y = xy[last - 1];
    }
}

void Canvas::PolyDraw(const std::vector<double>& xy, const std::vector<uint8_t>& types)
{
    if (!(Fits(xy) && Fits({m_state.x, m_state.y})))
        return;
    if (types.empty() || xy.size() < types.size() * 2)
        return;
    const double fromX = m_state.x, fromY = m_state.y;
    double lastX = fromX, lastY = fromY;
    Draw(false, true, [&] {
        if (!cairo_has_current_point(m_cr))
            cairo_move_to(m_cr, fromX, fromY);
        for (size_t i = 0; i < types.size(); ++i) {
            const uint8_t kind = types[i] & 6;
            if (kind == 4 && i + 2 < types.size()) {
                cairo_curve_to(m_cr, xy[2 * i], xy[2 * i + 1], xy[2 * i + 2], xy[2 * i + 3], xy[2 * i + 4],
                               xy[2 * i + 5]);
                i += 2;
            } else if (kind == 6) {
                cairo_move_to(m_cr, xy[2 * i], xy[2 * i + 1]);
            } else {
                cairo_line_to(m_cr, xy[2 * i], xy[2 * i + 1]);
            }
            lastX = xy[2 * i];
            lastY = xy[2 * i + 1];
            if (types[i] & 1)
                cairo_close_path(m_cr);
        }
    });
    m_state.x = lastX;
    m_state.y = lastY;
}

void Canvas::Rectangle(double l, double t, double r, double b)
{
    if (!Fits({l, t, r, t, l, b, r, b}))
        return;
    Draw(true, true, [&] {
        cairo_new_sub_path(m_cr);
        cairo_move_to(m_cr, l, t);
        cairo_line_to(m_cr, r, t);
        cairo_line_to(m_cr, r, b);
        cairo_line_to(m_cr, l, b);
        cairo_close_path(m_cr);
    });
}

void Canvas::RoundRect(double l, double t, double r, double b, double w, double h)
{
    if (!Fits({l, t, r, t, l, b, r, b}))
        return;
    const double rx = std::min(std::fabs(w) / 2, std::fabs(r - l) / 2);
    const double ry = std::min(std::fabs(h) / 2, std::fabs(b - t) / 2);
    if (rx <= 0 || ry <= 0)
        return Rectangle(l, t, r, b);
    const double x0 = std::min(l, r), x1 = std::max(l, r), y0 = std::min(t, b), y1 = std::max(t, b);
    Draw(true, true, [&] {
        const double pi = std::numbers::pi;
        cairo_new_sub_path(m_cr);
        const double corners[4][3] = {
            {x1 - rx, y0 + ry, -pi / 2}, {x1 - rx, y1 - ry, 0}, {x0 + rx, y1 - ry, pi / 2},
            {x0 + rx, y0 + ry, pi}};
        for (const auto& c : corners) {
            cairo_save(m_cr);
            cairo_translate(m_cr, c[0], c[1]);
            cairo_scale(m_cr, rx, ry);
            cairo_arc(m_cr, 0, 0, 1, c[2], c[2] + pi / 2);
            cairo_restore(m_cr);
        }
        cairo_close_path(m_cr);
    });
}

void Canvas::Ellipse(double l, double t, double r, double b)
{
    if (!Fits({l, t, r, t, l, b, r, b}))
        return;
    const double rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
    if (rx <= 0 || ry <= 0)
        return;
    Draw(true, true, [&] {
        cairo_new_sub_path(m_cr);
        cairo_save(m_cr);
        cairo_translate(m_cr, (l + r) / 2, (t + b) / 2);
        cairo_scale(m_cr, rx, ry);
        cairo_arc(m_cr, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_restore(m_cr);
        cairo_close_path(m_cr);
    });
}

// The arc of the box's ellipse from the ray through (xs, ys) to the ray through (xe, ye), in
// the drawing direction as seen on the device.
void Canvas::ArcPath(double l, double t, double r, double b, double xs, double ys, double xe,
                     double ye, bool connect, double& endX, double& endY) const
{
    const double cx = (l + r) / 2, cy = (t + b) / 2;
    const double rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
    const double a0 = std::atan2((ys - cy) / ry, (xs - cx) / rx);
    const double a1 = std::atan2((ye - cy) / ry, (xe - cx) / rx);
    cairo_matrix_t m;
    cairo_get_matrix(m_cr, &m);
    const bool flipped = m.xx * m.yy - m.xy * m.yx < 0;
    // Counter-clockwise on a y-down device is decreasing angle in y-down logical space.
    const bool increasing = (m_state.arcDirection == kAdClockwise) != flipped;
    cairo_save(m_cr);
    cairo_translate(m_cr, cx, cy);
    cairo_scale(m_cr, rx, ry);
    if (!connect)
        cairo_new_sub_path(m_cr);
    if (increasing)
        cairo_arc(m_cr, 0, 0, 1, a0, a1 <= a0 ? a1 + 2 * std::numbers::pi : a1);
    else
        cairo_arc_negative(m_cr, 0, 0, 1, a0, a1 >= a0 ? a1 - 2 * std::numbers::pi : a1);
    cairo_restore(m_cr);
    endX = cx + rx * std::cos(a1);
    endY = cy + ry * std::sin(a1);
}

void Canvas::Arc(ArcKind kind, double l, double t, double r, double b, double xs, double ys,
                 double xe, double ye)
{
    if (!Fits({l, t, r, t, l, b, r, b, m_state.x, m_state.y}))
        return;
    if (l == r || t == b)
        return;
    const double cx = (l + r) / 2, cy = (t + b) / 2;
    const double fromX = m_state.x, fromY = m_state.y;
    double endX = 0, endY = 0;
    const bool closed = kind == ArcKind::Chord || kind == ArcKind::Pie;
    Draw(closed, true, [&] {
        if (kind == ArcKind::Pie) {
            cairo_new_sub_path(m_cr);
            cairo_move_to(m_cr, cx, cy);
        } else if (kind == ArcKind::ArcTo && !cairo_has_current_point(m_cr)) {
            cairo_move_to(m_cr, fromX, fromY);
        }
        ArcPath(l, t, r, b, xs, ys, xe, ye, kind == ArcKind::Pie || kind == ArcKind::ArcTo, endX, endY);
        if (closed)
            cairo_close_path(m_cr);
    });
    if (kind == ArcKind::ArcTo) {
        m_state.x = endX;
        m_state.y = endY;
    }
}

void Canvas::AngleArc(double x, double y, double radius, double start, double sweep)
{
    if (!Fits({x - radius, y - radius, x + radius, y - radius, x - radius, y + radius, x + radius, y + radius, m_state.x, m_state.y}))
        return;
    if (!std::isfinite(start) || !std::isfinite(sweep) || radius <= 0)
        return;
    const double fromX = m_state.x, fromY = m_state.y;
    const double a0 = -start * std::numbers::pi / 180, a1 = -(start + sweep) * std::numbers::pi / 180;
    Draw(false, true, [&] {
        if (!cairo_has_current_point(m_cr))
            cairo_move_to(m_cr, fromX, fromY);
        if (sweep >= 0)
            cairo_arc_negative(m_cr, x, y, radius, a0, a1);
        else
            cairo_arc(m_cr, x, y, radius, a0, a1);
    });
    m_state.x = x + radius * std::cos(a1);
    m_state.y = y + radius * std::sin(a1);
}

void Canvas::SetPixel(double x, double y, uint32_t colour)
{
    if (!Fits({x, y}))
        return;
    if (m_inPath || !Transform(x, y))
        return;
    ApplyClip();
    cairo_identity_matrix(m_cr);
    SetColour(colour);
    cairo_rectangle(m_cr, std::floor(x), std::floor(y), 1, 1);
    cairo_fill(m_cr);
}

void Canvas::FillRegion(const Region& region, const Brush& brush, bool logical, bool invert)
{
    if (m_inPath || brush.style == kBsNull)
        return;
    ApplyClip();
    cairo_identity_matrix(m_cr);
    cairo_new_path(m_cr);
    for (const Box& b : region.boxes) {
        const Box d = logical ? DeviceBox(b.left, b.top, b.right, b.bottom) : b;
        if (!logical) {
            double x0 = d.left, y0 = d.top, x1 = d.right, y1 = d.bottom;
            cairo_matrix_transform_point(&m_base, &x0, &y0);
            cairo_matrix_transform_point(&m_base, &x1, &y1);
            x0 = std::clamp(x0, -kFar, kFar), x1 = std::clamp(x1, -kFar, kFar);
            y0 = std::clamp(y0, -kFar, kFar), y1 = std::clamp(y1, -kFar, kFar);
            cairo_rectangle(m_cr, x0, y0, x1 - x0, y1 - y0);
        } else {
            cairo_rectangle(m_cr, d.left, d.top, d.right - d.left, d.bottom - d.top);
        }
    }
    cairo_set_fill_rule(m_cr, CAIRO_FILL_RULE_WINDING);
    if (SetBrushSource(brush) && ApplyRop()) {
        if (invert)
            cairo_set_operator(m_cr, CAIRO_OPERATOR_DIFFERENCE);
        cairo_fill(m_cr);
    }
    cairo_new_path(m_cr);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_OVER);
}

void Canvas::FrameRegion(const Region& region, const Brush& brush, double w, double h, bool logical)
{
    // The frame is the region less the region shrunk by w x h: drawn as the edge boxes.
    Region frame;
    for (const Box& b : region.boxes) {
        const Box inner{b.left + w, b.top + h, b.right - w, b.bottom - h};
        std::vector<Box> parts;
        Subtract(b, inner, parts);
        frame.boxes.insert(frame.boxes.end(), parts.begin(), parts.end());
    }
    FillRegion(frame, brush, logical);
}

void Canvas::PatBlt(double x, double y, double w, double h, uint32_t rop)
{
    if (m_inPath)
        return;
    const Box d = DeviceBox(x, y, x + w, y + h);
    if (d.Empty())
        return;
    ApplyClip();
    cairo_identity_matrix(m_cr);
    cairo_new_path(m_cr);
    cairo_rectangle(m_cr, d.left, d.top, d.right - d.left, d.bottom - d.top);
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    bool draw = true;
    switch (rop) {
    case 0x00F00021: draw = SetBrushSource(m_state.brush); break;  // PATCOPY
    case 0x005A0049: draw = SetBrushSource(m_state.brush); op = CAIRO_OPERATOR_DIFFERENCE; break;
    case 0x00550009: SetColour(0xFFFFFF); op = CAIRO_OPERATOR_DIFFERENCE; break;  // DSTINVERT
    case 0x00000042: SetColour(0); break;                                          // BLACKNESS
    case 0x00FF0062: SetColour(0xFFFFFF); break;                                   // WHITENESS
    default:
        draw = false;
        if (rop != 0x00AA0029)  // the destination unchanged
            SkipRecord("raster operation", rop);
        break;
    }
    if (draw) {
        cairo_set_operator(m_cr, op);
        cairo_fill(m_cr);
    }
    cairo_new_path(m_cr);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_OVER);
}

// ---- Paths ----

void Canvas::BeginPath()
{
    cairo_new_path(m_cr);
    m_inPath = true;
    m_path.reset();
}

void Canvas::EndPath()
{
    if (!m_inPath)
        return;
    m_inPath = false;
    cairo_identity_matrix(m_cr);
    cairo_path_t* path = cairo_copy_path(m_cr);
    cairo_new_path(m_cr);
    if (path->status == CAIRO_STATUS_SUCCESS)
        m_path = std::make_shared<DevicePath>(path);
    else
        cairo_path_destroy(path);
}

void Canvas::AbortPath()
{
    m_inPath = false;
    cairo_new_path(m_cr);
    m_path.reset();
}

void Canvas::CloseFigure()
{
    if (m_inPath && cairo_has_current_point(m_cr))
        cairo_close_path(m_cr);
}

void Canvas::FillPath()
{
    if (m_path)
        Paint(m_path->path, true, false);
    m_path.reset();
}

void Canvas::StrokePath()
{
    if (m_path)
        Paint(m_path->path, false, true);
    m_path.reset();
}

void Canvas::StrokeAndFillPath()
{
    if (m_path)
        Paint(m_path->path, true, true);
    m_path.reset();
}

void Canvas::SelectClipPath(uint32_t mode)
{
    if (!m_path)
        return;
    Clip& clip = m_state.clip;
    if (mode == kRgnCopy || !clip.active) {
        clip.boxes = {{-kFar, -kFar, kFar, kFar}};
        clip.paths.clear();
    }
    // Intersection is exact; union, difference and exclusive-or are taken as intersection.
    if (mode != kRgnAnd && mode != kRgnCopy)
        SkipRecord("clip path mode", mode);
    clip.active = true;
    clip.rule = m_state.fillMode == kWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD;
    clip.paths.push_back(m_path);
    m_path.reset();
    ++m_clipVersion;
}

// ---- Clipping ----

void Canvas::ClipBoxes(std::vector<Box> boxes, uint32_t mode)
{
    Clip& clip = m_state.clip;
    const std::vector<Box> everything = {{-kFar, -kFar, kFar, kFar}};
    const std::vector<Box>& current = clip.active ? clip.boxes : everything;
    std::vector<Box> result;
    switch (mode) {
    case kRgnCopy:
        result = std::move(boxes);
        clip.paths.clear();
        break;
    case kRgnAnd:
        for (const Box& a : current)
            for (const Box& b : boxes)
                if (const Box c = Intersect(a, b); !c.Empty())
                    result.push_back(c);
        break;
    case kRgnOr:
        if (!clip.active)
            return;
        result = current;
        result.insert(result.end(), boxes.begin(), boxes.end());
        break;
    case kRgnDiff:
        result = SubtractAll(current, boxes);
        break;
    case kRgnXor: {
        result = SubtractAll(current, boxes);
        const std::vector<Box> other = SubtractAll(boxes, current);
        result.insert(result.end(), other.begin(), other.end());
        break;
    }
    default:
        return;
    }
    if (result.size() > kMaxClipBoxes) {
        SkipRecord("clip with too many parts, mode", mode);
        return;
    }
    clip.active = true;
    clip.boxes = std::move(result);
    ++m_clipVersion;
}

void Canvas::IntersectClip(double l, double t, double r, double b)
{
    ClipBoxes({DeviceBox(l, t, r, b)}, kRgnAnd);
}

void Canvas::ExcludeClip(double l, double t, double r, double b)
{
    ClipBoxes({DeviceBox(l, t, r, b)}, kRgnDiff);
}

void Canvas::SelectClipRegion(const Region* region, uint32_t mode, bool logical)
{
    if (!region) {
        if (mode == kRgnCopy) {
            m_state.clip = Clip{};
            ++m_clipVersion;
        }
        return;
    }
    std::vector<Box> boxes;
    for (const Box& b : region->boxes) {
        if (logical) {
            boxes.push_back(DeviceBox(b.left, b.top, b.right, b.bottom));
        } else {
            double x0 = b.left, y0 = b.top, x1 = b.right, y1 = b.bottom;
            cairo_matrix_transform_point(&m_base, &x0, &y0);
            cairo_matrix_transform_point(&m_base, &x1, &y1);
            auto clamp = [](double v) { return std::clamp(std::round(v), -kFar, kFar); };
            boxes.push_back({clamp(std::min(x0, x1)), clamp(std::min(y0, y1)), clamp(std::max(x0, x1)),
                             clamp(std::max(y0, y1))});
        }
    }
    ClipBoxes(std::move(boxes), mode);
}

void Canvas::OffsetClip(double dx, double dy)
{
    Clip& clip = m_state.clip;
    if (!clip.active)
        return;
    cairo_matrix_t m;
    if (!Full(m))
        return;
    cairo_matrix_transform_distance(&m, &dx, &dy);
    auto clamp = [](double v) { return std::clamp(v, -kFar, kFar); };
    for (Box& b : clip.boxes)
        if (b.left > -kFar && b.right < kFar)
            b = {clamp(b.left + dx), clamp(b.top + dy), clamp(b.right + dx), clamp(b.bottom + dy)};
    ++m_clipVersion;
}

// ---- Text ----

void Canvas::Text(double x, double y, const std::vector<std::string>& chars,
                  const std::vector<double>& dx, uint32_t options, const Box* rect)
{
    cairo_matrix_t m;
    if (m_inPath || !Full(m))
        return;
    const State& s = m_state;
    const bool updateCp = s.textAlign & kTaUpdateCp;
    if (updateCp) {
        x = s.x;
        y = s.y;
    }
    if (!Fits({x, y}))
        return;
    ApplyClip();
    cairo_save(m_cr);
    cairo_identity_matrix(m_cr);
    if (rect && (options & (kEtoOpaque | kEtoClipped))) {
        const Box d = DeviceBox(rect->left, rect->top, rect->right, rect->bottom);
        cairo_rectangle(m_cr, d.left, d.top, d.right - d.left, d.bottom - d.top);
        if (options & kEtoOpaque) {
            SetColour(s.backColour);
            cairo_fill_preserve(m_cr);
        }
        if (options & kEtoClipped)
            cairo_clip(m_cr);
        cairo_new_path(m_cr);
    }
    if (chars.empty()) {
        cairo_restore(m_cr);
        return;
    }

    const Font& f = s.font;
    cairo_select_font_face(m_cr, f.face.empty() ? "sans-serif" : f.face.c_str(),
                           f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           f.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    double hx = 0, hy = f.height;
    cairo_matrix_transform_distance(&m, &hx, &hy);
    double cell = std::hypot(hx, hy);
    if (f.height == 0)
        cell = 16;
    cairo_set_font_size(m_cr, 1);
    cairo_font_extents_t unit;
    cairo_font_extents(m_cr, &unit);
    double em = cell;
    if (f.height > 0 && unit.ascent + unit.descent > 0)
        em = cell / (unit.ascent + unit.descent);
    // Beyond 2^15 pixels FreeType refuses the size, and cairo leaks on that path.
    if (!std::isfinite(em) || em <= 0 || em > 16384) {
        cairo_restore(m_cr);
        return;
    }
    const double angle = f.escapement / 10.0 * std::numbers::pi / 180;
    cairo_matrix_t fm;
    cairo_matrix_init_rotate(&fm, -angle);
    cairo_matrix_scale(&fm, em, em);
    cairo_set_font_matrix(m_cr, &fm);
    const double ascent = unit.ascent * em, descent = unit.descent * em;

    // Advances along the baseline, in device pixels.
    double ux = 1, uy = 0;
    cairo_matrix_transform_distance(&m, &ux, &uy);
    const double logicalToDevice = std::hypot(ux, uy);
    std::vector<double> advance(chars.size());
    double total = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        if (i < dx.size()) {
            advance[i] = dx[i] * logicalToDevice;
        } else {
            cairo_text_extents_t e;
            cairo_matrix_t upright;
            cairo_matrix_init_scale(&upright, em, em);
            cairo_set_font_matrix(m_cr, &upright);
            cairo_text_extents(m_cr, chars[i].c_str(), &e);
            cairo_set_font_matrix(m_cr, &fm);
            advance[i] = e.x_advance;
        }
        total += advance[i];
    }
    if (!(std::fabs(total) <= kFar)) {
        cairo_restore(m_cr);
        return;
    }
    double along = 0, across = 0;
    switch (s.textAlign & kTaHorizontalMask) {
    case kTaRight: along = -total; break;
    case kTaCenter: along = -total / 2; break;
    default: break;
    }
    switch (s.textAlign & kTaVerticalMask) {
    case kTaBaseline: break;
    case kTaBottom: across = -descent; break;
    default: across = ascent; break;
    }
    double px = x, py = y;
    cairo_matrix_transform_point(&m, &px, &py);
    const double bx = std::cos(angle), by = -std::sin(angle);  // along the baseline
    const double dxn = -by, dyn = bx;                           // down, across it
    const double ox = px + bx * along + dxn * across, oy = py + by * along + dyn * across;

    auto quad = [&](double from, double to, double top, double bottom) {
        cairo_move_to(m_cr, ox + bx * from + dxn * top, oy + by * from + dyn * top);
        cairo_line_to(m_cr, ox + bx * to + dxn * top, oy + by * to + dyn * top);
        cairo_line_to(m_cr, ox + bx * to + dxn * bottom, oy + by * to + dyn * bottom);
        cairo_line_to(m_cr, ox + bx * from + dxn * bottom, oy + by * from + dyn * bottom);
        cairo_close_path(m_cr);
    };
    if (s.backMode == kOpaque && !(rect && (options & kEtoOpaque))) {
        quad(0, total, -ascent, descent);
        SetColour(s.backColour);
        cairo_fill(m_cr);
    }
    SetColour(s.textColour);
    // Large glyphs go as outlines: the glyph cache would hold a mask as large as each of them.
    const bool outlines = em > 256;
    double at = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        cairo_move_to(m_cr, ox + bx * at, oy + by * at);
        if (outlines)
            cairo_text_path(m_cr, chars[i].c_str());
        else
            cairo_show_text(m_cr, chars[i].c_str());
        at += advance[i];
    }
    if (outlines) {
        cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_GRAY);
        cairo_fill(m_cr);
        cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_NONE);
    }
    const double thickness = std::max(1.0, std::round(em / 14));
    if (f.underline)
        quad(0, total, descent / 2, descent / 2 + thickness);
    if (f.strikeOut)
        quad(0, total, -ascent / 3, -ascent / 3 + thickness);
    cairo_fill(m_cr);
    cairo_restore(m_cr);
    if (updateCp && logicalToDevice > 0)
        m_state.x += total / logicalToDevice;
}

// ---- Bitmaps ----

std::shared_ptr<const Pattern> Canvas::DibPattern(const DibRef& dib)
{
    gdi::DibLayout layout;
    const uint8_t* bits = nullptr;
    if (!Locate(dib, layout, bits) || uint64_t(layout.width) * uint64_t(layout.height) > (1u << 20))
        return nullptr;
    const auto* table = reinterpret_cast<const RGBQUAD*>(dib.info + layout.tableOffset);
    const gdi::PixelView view = gdi::PixelView::OfDib(layout, bits, table, layout.colours);
    auto pattern = std::make_shared<Pattern>();
    pattern->width = layout.width;
    pattern->height = layout.height;
    pattern->pixels.resize(size_t(layout.width) * size_t(layout.height));
    for (int32_t y = 0; y < layout.height; ++y)
        for (int32_t x = 0; x < layout.width; ++x)
            pattern->pixels[size_t(y) * size_t(layout.width) + size_t(x)] = 0xFF000000u | view.Get(x, y);
    return pattern;
}

void Canvas::Bitmap(const DibRef& dib, double x, double y, double w, double h, int32_t sx, int32_t sy,
                    int32_t sw, int32_t sh, bool fromBottom, const Blit& blit)
{
    if (sw == 0 || sh == 0 || w == 0 || h == 0)
        return;
    cairo_matrix_t place;
    cairo_matrix_init(&place, w / std::fabs(double(sw)), 0, 0, h / std::fabs(double(sh)), x, y);
    Place(dib, place, sx, sy, sw, sh, fromBottom, blit);
}

void Canvas::BitmapOnto(const DibRef& dib, const double c[6], int32_t sx, int32_t sy, int32_t sw,
                        int32_t sh, const Blit& blit)
{
    if (sw == 0 || sh == 0)
        return;
    const double w = std::fabs(double(sw)), h = std::fabs(double(sh));
    cairo_matrix_t place;
    cairo_matrix_init(&place, (c[2] - c[0]) / w, (c[3] - c[1]) / w, (c[4] - c[0]) / h, (c[5] - c[1]) / h,
                      c[0], c[1]);
    Place(dib, place, sx, sy, sw, sh, false, blit);
}

// place maps the source rectangle's pixels, from its top left, to logical units.
void Canvas::Place(const DibRef& dib, const cairo_matrix_t& place, int32_t sx, int32_t sy, int32_t sw,
                   int32_t sh, bool fromBottom, const Blit& blit)
{
    cairo_matrix_t m, full;
    if (m_inPath || !Full(m))
        return;
    cairo_matrix_multiply(&full, &place, &m);
    if (!Finite(full))
        return;
    const double w = std::fabs(double(sw)), h = std::fabs(double(sh));
    double corners[8] = {0, 0, w, 0, 0, h, w, h};
    for (int i = 0; i < 8; i += 2) {
        cairo_matrix_transform_point(&full, &corners[i], &corners[i + 1]);
        if (!(std::fabs(corners[i]) <= kFar && std::fabs(corners[i + 1]) <= kFar))
            return;
    }
    gdi::DibLayout layout;
    const uint8_t* bits = nullptr;
    if (!Locate(dib, layout, bits)) {
        SkipRecord("bitmap layout of a", blit.rop);
        return;
    }
    gdi::DibLayout maskLayout;
    const uint8_t* maskBits = nullptr;
    const bool masked = blit.mask.info && Locate(blit.mask, maskLayout, maskBits);
    bool invert = false;
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    const bool blending = blit.constantAlpha >= 0 || blit.transparent >= 0;
    switch (blending ? 0x00CC0020 : blit.rop & 0x00FFFFFF) {
    case 0x00CC0020: case 0x00C000CA: break;                 // SRCCOPY, MERGECOPY
    case 0x008800C6: op = CAIRO_OPERATOR_MULTIPLY; break;    // SRCAND
    case 0x00EE0086: op = CAIRO_OPERATOR_LIGHTEN; break;     // SRCPAINT
    case 0x00660046: op = CAIRO_OPERATOR_DIFFERENCE; break;  // SRCINVERT
    case 0x00330008: invert = true; break;                   // NOTSRCCOPY
    case 0x00BB0226: invert = true; op = CAIRO_OPERATOR_LIGHTEN; break;  // MERGEPAINT
    case 0x00AA0029: return;
    default: SkipRecord("raster operation (drawn as a copy)", blit.rop); break;
    }
    const int64_t srcW = std::abs(int64_t{sw}), srcH = std::abs(int64_t{sh});
    const int64_t top = (fromBottom && !layout.topDown) ? int64_t{layout.height} - sy - srcH : int64_t{sy};
    const int64_t left = sx;
    const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
    const int64_t x1 = std::min<int64_t>(left + srcW, layout.width);
    const int64_t y1 = std::min<int64_t>(top + srcH, layout.height);
    if (x1 <= x0 || y1 <= y0)
        return;
    // A bitmap of few bits a pixel grows 32-fold as a surface: as large as a picture at most.
    if ((x1 - x0) * (y1 - y0) > kMaxSourcePixels) {
        SkipRecord("bitmap too large, of a", blit.rop);
        return;
    }
    SurfaceOwner image{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(x1 - x0), int(y1 - y0))};
    auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image.s));
    if (!out)
        return;
    const int stride = cairo_image_surface_get_stride(image.s) / 4;
    const auto* table = reinterpret_cast<const RGBQUAD*>(dib.info + layout.tableOffset);
    const gdi::PixelView view = gdi::PixelView::OfDib(layout, bits, table, layout.colours);
    const auto* maskTable = masked ? reinterpret_cast<const RGBQUAD*>(blit.mask.info + maskLayout.tableOffset) : nullptr;
    const gdi::PixelView maskView = masked ? gdi::PixelView::OfDib(maskLayout, maskBits, maskTable, maskLayout.colours)
                                           : view;
    const uint32_t key = blit.transparent >= 0 ? Argb(uint32_t(blit.transparent)) & 0xFFFFFF : 0;
    const bool ownAlpha = blit.pixelAlpha && layout.bits == 32;
    for (int64_t j = y0; j < y1; ++j)
        for (int64_t i = x0; i < x1; ++i) {
            uint32_t rgb = view.Get(int32_t(i), int32_t(j));
            if (invert)
                rgb = ~rgb & 0xFFFFFF;
            uint32_t pixel = 0xFF000000u | rgb;
            if (blit.transparent >= 0 && rgb == key)
                pixel = 0;
            if (ownAlpha) {
                // Premultiplied already, as alpha blending takes it; kept valid for cairo.
                const uint32_t a = view.Row(int32_t(j))[i * 4 + 3];
                auto c = [&](int shift) { return std::min(a, (rgb >> shift) & 0xFF) << shift; };
                pixel = a << 24 | c(16) | c(8) | c(0);
            }
            if (masked) {
                const int64_t mx = blit.maskX + (i - left), my = blit.maskY + (j - top);
                const bool inside = mx >= 0 && my >= 0 && mx < maskLayout.width && my < maskLayout.height;
                if (!inside || maskView.Get(int32_t(mx), int32_t(my)) == 0)
                    pixel = 0;
            }
            out[(j - y0) * stride + (i - x0)] = pixel;
        }
    cairo_surface_mark_dirty(image.s);

    ApplyClip();
    cairo_save(m_cr);
    cairo_set_matrix(m_cr, &full);
    cairo_translate(m_cr, double(x0 - left), double(y0 - top));
    cairo_set_source_surface(m_cr, image.s, 0, 0);
    cairo_pattern_t* source = cairo_get_source(m_cr);
    cairo_pattern_set_extend(source, CAIRO_EXTEND_PAD);
    const bool enlarging = std::fabs(full.xx) >= 1 && std::fabs(full.yy) >= 1;
    cairo_pattern_set_filter(source, enlarging ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_rectangle(m_cr, 0, 0, double(x1 - x0), double(y1 - y0));
    cairo_set_operator(m_cr, op);
    if (blit.constantAlpha >= 0 && blit.constantAlpha < 255) {
        cairo_clip(m_cr);
        cairo_paint_with_alpha(m_cr, blit.constantAlpha / 255.0);
    } else {
        cairo_fill(m_cr);
    }
    cairo_restore(m_cr);
}

void Canvas::GradientRect(const Vertex& a, const Vertex& b, bool vertical)
{
    cairo_matrix_t m;
    if (m_inPath || !Full(m) || !Fits({a.x, a.y, b.x, b.y, a.x, b.y, b.x, a.y}))
        return;
    ApplyClip();
    cairo_save(m_cr);
    cairo_set_matrix(m_cr, &m);
    PatternOwner pattern{vertical ? cairo_pattern_create_linear(0, a.y, 0, b.y)
                                  : cairo_pattern_create_linear(a.x, 0, b.x, 0)};
    cairo_pattern_add_color_stop_rgb(pattern.p, 0, a.r, a.g, a.b);
    cairo_pattern_add_color_stop_rgb(pattern.p, 1, b.r, b.g, b.b);
    cairo_set_source(m_cr, pattern.p);
    cairo_rectangle(m_cr, std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    cairo_fill(m_cr);
    cairo_restore(m_cr);
}

void Canvas::GradientTriangle(const Vertex& a, const Vertex& b, const Vertex& c)
{
    cairo_matrix_t m;
    if (m_inPath || !Full(m) || !Fits({a.x, a.y, b.x, b.y, c.x, c.y}))
        return;
    ApplyClip();
    cairo_save(m_cr);
    cairo_set_matrix(m_cr, &m);
    PatternOwner mesh{cairo_pattern_create_mesh()};
    cairo_mesh_pattern_begin_patch(mesh.p);
    cairo_mesh_pattern_move_to(mesh.p, a.x, a.y);
    cairo_mesh_pattern_line_to(mesh.p, b.x, b.y);
    cairo_mesh_pattern_line_to(mesh.p, c.x, c.y);
    const Vertex* v[3] = {&a, &b, &c};
    for (unsigned i = 0; i < 3; ++i)
        cairo_mesh_pattern_set_corner_color_rgb(mesh.p, i, v[i]->r, v[i]->g, v[i]->b);
    cairo_mesh_pattern_end_patch(mesh.p);
    cairo_set_source(m_cr, mesh.p);
    cairo_move_to(m_cr, a.x, a.y);
    cairo_line_to(m_cr, b.x, b.y);
    cairo_line_to(m_cr, c.x, c.y);
    cairo_close_path(m_cr);
    cairo_fill(m_cr);
    cairo_restore(m_cr);
}

// ---- Text encodings ----

namespace {

void PutUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Windows-1252 0x80..0x9F; the rest of the code page is Latin-1.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::vector<std::string> CharsFromAnsi(const uint8_t* text, size_t count, uint8_t charset)
{
    std::vector<std::string> chars;
    chars.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = text[i];
        uint32_t c = b;
        // Symbol-encoded fonts take the byte itself (their glyphs sit at those codes).
        if (charset != kSymbolCharset && b >= 0x80 && b < 0xA0)
            c = kCp1252High[b - 0x80];
        std::string one;
        PutUtf8(one, c ? c : ' ');
        chars.push_back(std::move(one));
    }
    return chars;
}

std::vector<std::string> CharsFromUtf16(const uint8_t* text, size_t count)
{
    std::vector<std::string> chars;
    chars.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = uint32_t(text[2 * i]) | uint32_t(text[2 * i + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
            const uint32_t low = uint32_t(text[2 * i + 2]) | uint32_t(text[2 * i + 3]) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c == 0 || (c >= 0xD800 && c < 0xE000))
            c = ' ';
        std::string one;
        PutUtf8(one, c);
        chars.push_back(std::move(one));
    }
    return chars;
}

}  // namespace px::meta
