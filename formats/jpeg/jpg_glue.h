// What the JPEG reader and writer share: the error manager whose exit jumps back into the
// running call.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace px::jpg {

// libjpeg's standard error manager followed by the jump target of the running call. Every
// function that arms the target with setjmp must hold only plain data: the jump skips
// destructors.
struct JPGErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Fills manager with libjpeg's defaults, replaces the exit (debug line, then jump) and sends
// warnings to the debug output instead of standard error. Returns what cinfo.err takes.
jpeg_error_mgr* InstallErrorManager(JPGErrorManager& manager) noexcept;

}  // namespace px::jpg
