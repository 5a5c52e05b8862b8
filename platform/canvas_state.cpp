// The canvas's page mapping and transforms, its object table and its saved states.
#include "platform/canvas_internal.h"

#include <cstdio>

namespace px::meta {
using namespace detail;

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

}  // namespace px::meta
