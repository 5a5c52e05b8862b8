// Lines, curves, shapes, regions and pattern blits on the canvas.
#include "platform/canvas_internal.h"

#include <numbers>

namespace px::meta {
using namespace detail;

namespace {

// A figure's first point: the position when it goes on from there (unless a path already has
// a current point), else its own first one.
void BeginFigure(cairo_t* cr, bool fromCurrent, double fromX, double fromY, const std::vector<double>& xy)
{
    if (fromCurrent) {
        if (!cairo_has_current_point(cr))
            cairo_move_to(cr, fromX, fromY);
    } else {
        cairo_move_to(cr, xy[0], xy[1]);
    }
}

}  // namespace

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
        BeginFigure(m_cr, fromCurrent, fromX, fromY, xy);
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
        BeginFigure(m_cr, fromCurrent, fromX, fromY, xy);
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

}  // namespace px::meta
