// Owners of the libheif objects that both reading and writing hold.
#pragma once

#include "base/c_owner.h"

#include <libheif/heif.h>

namespace px::heif {

using ContextPtr = COwner<heif_context, heif_context_free>;
using HandlePtr = COwner<heif_image_handle, heif_image_handle_release>;
using ImagePtr = COwner<heif_image, heif_image_release>;

}  // namespace px::heif
