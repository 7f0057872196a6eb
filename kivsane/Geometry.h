// The arithmetic between the options (mm, dpi, zoom) and the camera's pixels.
// The scan surface is the field of view: fieldOfViewMm / zoom wide, as high
// as the frame's aspect gives; pixels are square.
#pragma once

#include <cstdint>
#include <vector>

#include "kivds/camera/CameraRecords.h"
#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace sane {

struct Surface {
    double widthMm = 0;
    double heightMm = 0;
};

Surface ScanSurface(double fieldOfViewMm, double zoom, const CResolution& frame);

// The nominal resolution of a frame over the surface, whole dpi (at least 1).
int NominalDpi(std::int32_t frameWidth, double surfaceWidthMm);

// The rectangle (tl, br in mm, in either order) in pixels of the frame,
// rounded to the nearest pixel edge, at least one pixel, inside the frame.
SourceRect MmToPixels(double tlX, double tlY, double brX, double brY, const CResolution& frame, double surfaceWidthMm);

// The preview's frame: the smallest of at least 640 pixels wide, else the
// widest. sizes ascending by width, not empty.
CResolution PreviewSize(const std::vector<CResolution>& sizes);

}  // namespace sane
}  // namespace kiv
