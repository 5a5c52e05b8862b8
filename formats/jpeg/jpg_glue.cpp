// The libjpeg error exit and warning output.
#include "formats/jpeg/jpg_glue.h"

#include "pxlib.h"

namespace px::jpg {
namespace {

[[noreturn]] void ErrorExit(j_common_ptr cinfo) noexcept
{
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    DebugTrace("PXLib JPG Error : %s\n", text);
    // pub is the first member, so the manager starts where cinfo->err points.
    std::longjmp(reinterpret_cast<JPGErrorManager*>(cinfo->err)->jump, 1);
}

// libjpeg's default emit_message still decides which warnings are shown; a library must not
// write to standard error, so the text goes to the debug output.
void OutputMessage(j_common_ptr cinfo) noexcept
{
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    DebugTrace("PXLib JPG Warning : %s\n", text);
}

}  // namespace

jpeg_error_mgr* InstallErrorManager(JPGErrorManager& manager) noexcept
{
    jpeg_error_mgr* pub = jpeg_std_error(&manager.pub);
    pub->error_exit = ErrorExit;
    pub->output_message = OutputMessage;
    return pub;
}

}  // namespace px::jpg
