// Owners of cairo objects, for the canvas and for the services that draw with cairo beside it.
#pragma once

#include <cairo.h>

namespace px::meta {

struct SurfaceOwner {
    cairo_surface_t* s;
    ~SurfaceOwner() { cairo_surface_destroy(s); }
};

struct PatternOwner {
    cairo_pattern_t* p;
    ~PatternOwner() { cairo_pattern_destroy(p); }
};

struct ContextOwner {
    cairo_t* cr;
    ~ContextOwner() { cairo_destroy(cr); }
};

}  // namespace px::meta
