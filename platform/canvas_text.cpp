// Text on the canvas, and the records' text encodings to UTF-8 characters.
#include "platform/canvas_internal.h"

#include <cstdio>
#include <numbers>

namespace px::meta {
using namespace detail;

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
