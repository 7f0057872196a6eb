// Cutting a grabbed still down to the image frame the application was told about.
#pragma once

#include <memory>

#include "kivds/image/ImageReference.h"
#include "kivds/twain/KivRect.h"

namespace kiv {

// The frame is in picture coordinates (origin top-left); the still holds
// bottom-up rows. A frame equal to the whole still leaves it as it is; a
// frame inside it makes the still that region (rows padded to a multiple of 4
// bytes again, padding zero; no pixels are copied here). A frame that is
// empty, inverted or reaches outside the still gives false and leaves the
// still unchanged.
bool CutToFrame(std::unique_ptr<CImageReference>& still, const KivRect& frame);

}  // namespace kiv
