// A GDI device context over cairo: the drawing state (mapping, objects, clip, path, saved
// states) and the GDI operations, drawn into a 32-bit surface. The metafile players draw on it.
#pragma once

#include "pxlib.h"

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace px::meta {

// GDI constants the records carry.
enum : uint32_t {
    kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4, kMmHiEnglish = 5,
    kMmTwips = 6, kMmIsotropic = 7, kMmAnisotropic = 8,
    kTransparent = 1, kOpaque = 2,
    kAlternate = 1, kWinding = 2,
    kPsSolid = 0, kPsDash = 1, kPsDot = 2, kPsDashDot = 3, kPsDashDotDot = 4, kPsNull = 5,
    kPsInsideFrame = 6, kPsUserStyle = 7, kPsStyleMask = 0xF, kPsEndCapMask = 0xF00,
    kPsEndCapSquare = 0x100, kPsEndCapFlat = 0x200, kPsJoinMask = 0xF000, kPsJoinBevel = 0x1000,
    kPsJoinMiter = 0x2000,
    kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3, kBsDibPattern = 5,
    kBsDibPatternPt = 6,
    kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaHorizontalMask = 6, kTaBottom = 8,
    kTaBaseline = 24, kTaVerticalMask = 24,
    kEtoOpaque = 2, kEtoClipped = 4,
    kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5,
    kAdCounterClockwise = 1, kAdClockwise = 2,
    kSymbolCharset = 2,
};

// Hard limits: a hostile file cannot make the player hold more than this.
inline constexpr size_t kMaxObjects = 65535;
inline constexpr size_t kMaxSavedStates = 1024;

struct Box {
    double left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
};

struct Pen {
    uint32_t style = kPsSolid;
    double width = 0;  // logical units; 0 is one device pixel
    uint32_t colour = 0;  // 0x00BBGGRR
    std::vector<double> dashes;  // a user style, in logical units
};

// A brush's pattern: 0xAARRGGBB pixels, repeated from the device origin.
struct Pattern {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

struct Brush {
    uint32_t style = kBsSolid;
    uint32_t colour = 0xFFFFFF;
    uint32_t hatch = 0;
    std::shared_ptr<const Pattern> pattern;
};

struct Font {
    int32_t height = 0;
    int32_t width = 0;
    int32_t escapement = 0;  // tenths of a degree, counter-clockwise
    int32_t weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    uint8_t charset = 0;
    std::string face;  // UTF-8
};

// Rectangles whose union is the region.
struct Region {
    std::vector<Box> boxes;
};

// An object with nothing to draw: a palette, or a region record that could not be read.
struct Palette {};

using Object = std::variant<std::monostate, Pen, Brush, Font, Region, Palette>;

// A path in device space, owned.
struct DevicePath {
    explicit DevicePath(cairo_path_t* p) : path(p) {}
    ~DevicePath() { cairo_path_destroy(path); }
    DevicePath(const DevicePath&) = delete;
    DevicePath& operator=(const DevicePath&) = delete;
    cairo_path_t* path;
};

struct Clip {
    bool active = false;
    std::vector<Box> boxes;  // device space, their union
    std::vector<std::shared_ptr<const DevicePath>> paths;  // each intersects
    cairo_fill_rule_t rule = CAIRO_FILL_RULE_WINDING;
};

struct State {
    uint32_t mapMode = kMmText;
    double windowOrgX = 0, windowOrgY = 0, windowExtX = 1, windowExtY = 1;
    double viewportOrgX = 0, viewportOrgY = 0, viewportExtX = 1, viewportExtY = 1;
    cairo_matrix_t world;
    Pen pen;
    Brush brush;
    Font font;
    uint32_t textColour = 0;
    uint32_t backColour = 0xFFFFFF;
    uint32_t backMode = kOpaque;
    uint32_t fillMode = kAlternate;
    uint32_t rop2 = 13;  // R2_COPYPEN
    uint32_t textAlign = 0;
    uint32_t arcDirection = kAdCounterClockwise;
    double miterLimit = 10;
    double x = 0, y = 0;  // current position, logical
    Clip clip;
};

// A packed bitmap's parts inside a record: header and table, then the bits.
struct DibRef {
    const uint8_t* info = nullptr;
    size_t infoBytes = 0;
    const uint8_t* bits = nullptr;
    size_t bitsBytes = 0;
};

class Canvas {
public:
    // Draws into cr, whose surface is the device; base maps the reference device's pixels
    // onto it. pixelsPerMm is the reference device's, for the metric mapping modes.
    Canvas(cairo_t* cr, const cairo_matrix_t& base, double pixelsPerMmX, double pixelsPerMmY);

    State& state() { return m_state; }
    // Lock the page mapping onto the present viewport (plain metafiles): records keep the mode
    // and the viewport's extent; their viewport origins are taken in the file's device units.
    void LockViewport();

    // Mapping.
    void SetMapMode(uint32_t mode);
    void SetWindowOrg(double x, double y);
    void SetWindowExt(double x, double y);
    void SetViewportOrg(double x, double y);
    void SetViewportExt(double x, double y);
    void OffsetWindowOrg(double dx, double dy);
    void OffsetViewportOrg(double dx, double dy);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void SetWorld(const cairo_matrix_t& m);
    void ModifyWorld(const cairo_matrix_t& m, uint32_t mode);

    // Objects: the table is sized once; created objects go to a given or the first free slot.
    void SizeTable(size_t entries);
    bool Put(size_t index, Object object);
    bool PutFirstFree(Object object);
    void Select(size_t index);
    void SelectStock(uint32_t stock);
    void Delete(size_t index);
    const Object* Get(size_t index) const;

    // Saved states: SaveDC and RestoreDC (relative, negative; or absolute, positive).
    void Save();
    void Restore(int32_t which);

    // Drawing, logical coordinates.
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void Polyline(const std::vector<double>& xy, bool fromCurrent);
    void Polygons(const std::vector<double>& xy, const std::vector<uint32_t>& counts);
    void Polylines(const std::vector<double>& xy, const std::vector<uint32_t>& counts);
    void Bezier(const std::vector<double>& xy, bool fromCurrent);
    // Points with a type each: move 6, line 2, Bézier 4 (in threes), closing the figure with 1.
    void PolyDraw(const std::vector<double>& xy, const std::vector<uint8_t>& types);
    void Rectangle(double l, double t, double r, double b);
    void RoundRect(double l, double t, double r, double b, double w, double h);
    void Ellipse(double l, double t, double r, double b);
    enum class ArcKind { Arc, ArcTo, Chord, Pie };
    void Arc(ArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe,
             double ye);
    void AngleArc(double x, double y, double radius, double start, double sweep);
    void SetPixel(double x, double y, uint32_t colour);
    // invert: the brush's colour is taken as a difference with the device (white inverts).
    void FillRegion(const Region& region, const Brush& brush, bool logical, bool invert = false);
    void FrameRegion(const Region& region, const Brush& brush, double w, double h, bool logical);
    void PatBlt(double x, double y, double w, double h, uint32_t rop);

    // Paths.
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(uint32_t mode);

    // Clipping; rectangles logical, regions in device units of the reference device (EMF) or
    // logical (plain metafiles).
    void IntersectClip(double l, double t, double r, double b);
    void ExcludeClip(double l, double t, double r, double b);
    void SelectClipRegion(const Region* region, uint32_t mode, bool logical);
    void OffsetClip(double dx, double dy);

    // Text: utf8 holds one entry per character in chars; dx (logical, may be empty) the
    // advance of each.
    void Text(double x, double y, const std::vector<std::string>& chars, const std::vector<double>& dx,
              uint32_t options, const Box* rect);

    // How a bitmap meets the device: a raster operation, or alpha blending (a constant alpha
    // and optionally the bitmap's own), or a transparent colour, or a mask bitmap.
    struct Blit {
        uint32_t rop = 0x00CC0020;  // SRCCOPY
        int32_t constantAlpha = -1;
        bool pixelAlpha = false;
        int64_t transparent = -1;  // 0x00BBGGRR
        DibRef mask;
        int32_t maskX = 0, maskY = 0;
        static Blit Raster(uint32_t rop)
        {
            Blit blit;
            blit.rop = rop;
            return blit;
        }
    };

    // A bitmap from a packed DIB: source rectangle in bitmap pixels from the top left (or the
    // bottom left when fromBottom and the bitmap is bottom-up), destination logical.
    void Bitmap(const DibRef& dib, double x, double y, double w, double h, int32_t sx, int32_t sy,
                int32_t sw, int32_t sh, bool fromBottom, const Blit& blit);
    // The same onto the parallelogram whose corners for the source's top left, top right and
    // bottom left are given (logical).
    void BitmapOnto(const DibRef& dib, const double corners[6], int32_t sx, int32_t sy, int32_t sw,
                    int32_t sh, const Blit& blit);

    // Gradients: colours as 16-bit red, green, blue.
    struct Vertex {
        double x, y;
        double r, g, b;
    };
    void GradientRect(const Vertex& a, const Vertex& b, bool vertical);
    void GradientTriangle(const Vertex& a, const Vertex& b, const Vertex& c);

    // Decodes a packed DIB into a pattern; null when this layer does not take its layout.
    static std::shared_ptr<const Pattern> DibPattern(const DibRef& dib);

private:
    bool Full(cairo_matrix_t& m) const;
    bool Transform(double& x, double& y) const;
    double DeviceScale() const;
    Box DeviceBox(double l, double t, double r, double b) const;
    bool Fits(const double* xy, size_t count) const;
    bool Fits(std::initializer_list<double> xy) const;
    bool Fits(const std::vector<double>& xy) const;
    void ApplyClip();
    bool ApplyRop();
    void SetColour(uint32_t colourref);
    bool SetBrushSource(const Brush& brush);
    bool SetPenSource(double& width);
    // Builds a shape's path under the logical-to-device transform and fills and strokes it.
    template <class Build>
    void Draw(bool fill, bool stroke, Build&& build);
    void SubPaths(const std::vector<double>& xy, const std::vector<uint32_t>& counts, bool closed);
    void Paint(cairo_path_t* path, bool fill, bool stroke);
    void ArcPath(double l, double t, double r, double b, double xs, double ys, double xe, double ye,
                 bool connect, double& endX, double& endY) const;
    void ClipBoxes(std::vector<Box> boxes, uint32_t mode);
    void FileDeviceToTarget(double& x, double& y) const;
    void Place(const DibRef& dib, const cairo_matrix_t& place, int32_t sx, int32_t sy, int32_t sw,
               int32_t sh, bool fromBottom, const Blit& blit);

    cairo_t* m_cr;
    cairo_matrix_t m_base;
    double m_pxPerMmX, m_pxPerMmY;
    bool m_viewportLocked = false;
    // With the viewport locked, the file's own viewport extents: its origins are taken in them.
    double m_fileViewportX = 0, m_fileViewportY = 0;
    double m_lockedOrgX = 0, m_lockedOrgY = 0;
    State m_state;
    std::vector<State> m_saved;
    std::vector<Object> m_objects;
    bool m_inPath = false;
    std::shared_ptr<const DevicePath> m_path;  // the ended path
    uint64_t m_clipVersion = 1;
    uint64_t m_appliedClip = 0;
};

// Colours as the records carry them, 0x00BBGGRR, to cairo's 0..1 components.
inline double Red(uint32_t c) { return (c & 0xFF) / 255.0; }
inline double Green(uint32_t c) { return ((c >> 8) & 0xFF) / 255.0; }
inline double Blue(uint32_t c) { return ((c >> 16) & 0xFF) / 255.0; }

// Text encodings of the records, to UTF-8 characters.
std::vector<std::string> CharsFromAnsi(const uint8_t* text, size_t count, uint8_t charset);
std::vector<std::string> CharsFromUtf16(const uint8_t* text, size_t count);

// One debug line for a drawing request (a record's, to whoever plays it) this layer skips.
void SkipRecord(const char* kind, uint32_t type);

}  // namespace px::meta
