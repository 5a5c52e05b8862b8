// How the canvas paints: colours, raster operations, pens and brushes as cairo sources, the clip, paths and clipping.
#include "platform/canvas_internal.h"

namespace px::meta {
using namespace detail;

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

}  // namespace px::meta
