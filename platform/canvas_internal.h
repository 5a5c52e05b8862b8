// What the canvas's parts share: its limits, box arithmetic and owners of cairo objects.
#pragma once

#include "platform/cairo_owners.h"
#include "platform/canvas.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace px::meta::detail {

// Beyond any surface, and within what cairo holds in its fixed-point coordinates (2^23).
inline constexpr double kFar = 4194304;
inline constexpr size_t kMaxClipBoxes = 4096;
inline constexpr double kMaxScale = 1e9;
inline constexpr int64_t kMaxSourcePixels = int64_t{1} << 26;

inline bool Finite(const cairo_matrix_t& m)
{
    const double values[] = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > kMaxScale)
            return false;
    const double det = m.xx * m.yy - m.xy * m.yx;
    return std::isfinite(det) && std::fabs(det) > 1e-12;
}

inline Box Intersect(const Box& a, const Box& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// a without b, as up to four boxes.
inline void Subtract(const Box& a, const Box& b, std::vector<Box>& out)
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

inline std::vector<Box> SubtractAll(const std::vector<Box>& from, const std::vector<Box>& remove)
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

inline void AddPoint(cairo_t* cr, double x, double y)
{
    if (cairo_has_current_point(cr))
        cairo_line_to(cr, x, y);
    else
        cairo_move_to(cr, x, y);
}

// The shifts of the half-pixel grid: odd stroke widths sit on pixel centres.
inline void ShiftPath(cairo_path_t* path, double d)
{
    for (int i = 0; i < path->num_data; i += path->data[i].header.length)
        for (int j = 1; j < path->data[i].header.length; ++j) {
            path->data[i + j].point.x += d;
            path->data[i + j].point.y += d;
        }
}

inline bool HatchBit(uint32_t hatch, int x, int y)
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

inline uint32_t Argb(uint32_t colourref)
{
    return 0xFF000000u | ((colourref & 0xFF) << 16) | (colourref & 0xFF00) | ((colourref >> 16) & 0xFF);
}

// Where a packed bitmap's parts lie, every one checked against the bytes given.
inline bool Locate(const DibRef& dib, gdi::DibLayout& layout, const uint8_t*& bits)
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
}  // namespace px::meta::detail

namespace px::meta {

// Builds a shape's path under the logical-to-device transform and fills and strokes it; inside
// a path bracket the shape only adds to the path.
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

}  // namespace px::meta
