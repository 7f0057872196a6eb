#include "kivsane/Geometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kiv {
namespace sane {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr std::int32_t kPreviewMinWidth = 640;

std::int32_t Edge(double mm, double pixelsPerMm, std::int32_t limit) {
    const double pixels = std::floor(mm * pixelsPerMm + 0.5);
    return static_cast<std::int32_t>(std::clamp(pixels, 0.0, static_cast<double>(limit)));
}

}  // namespace

Surface ScanSurface(double fieldOfViewMm, double zoom, const CResolution& frame) {
    Surface surface;
    surface.widthMm = fieldOfViewMm / std::max(zoom, 1.0);
    if (frame.width > 0) surface.heightMm = surface.widthMm * frame.height / frame.width;
    return surface;
}

int NominalDpi(std::int32_t frameWidth, double surfaceWidthMm) {
    if (surfaceWidthMm <= 0) return 1;
    return std::max(1, static_cast<int>(std::lround(frameWidth * kMmPerInch / surfaceWidthMm)));
}

SourceRect MmToPixels(double tlX, double tlY, double brX, double brY, const CResolution& frame, double surfaceWidthMm) {
    if (tlX > brX) std::swap(tlX, brX);
    if (tlY > brY) std::swap(tlY, brY);
    const double perMm = surfaceWidthMm > 0 ? frame.width / surfaceWidthMm : 0;
    SourceRect rect;
    rect.left = std::min(Edge(tlX, perMm, frame.width), frame.width - 1);
    rect.top = std::min(Edge(tlY, perMm, frame.height), frame.height - 1);
    rect.width = std::max<std::int32_t>(1, Edge(brX, perMm, frame.width) - rect.left);
    rect.height = std::max<std::int32_t>(1, Edge(brY, perMm, frame.height) - rect.top);
    return rect;
}

CResolution PreviewSize(const std::vector<CResolution>& sizes) {
    for (const CResolution& size : sizes)
        if (size.width >= kPreviewMinWidth) return size;
    return sizes.back();
}

}  // namespace sane
}  // namespace kiv
