// Packed bitmaps on the canvas (stretched, placed, masked, blended) and gradients.
#include "platform/canvas_internal.h"

namespace px::meta {
using namespace detail;

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

}  // namespace px::meta
