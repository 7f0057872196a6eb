// Pictures of the screen: a rectangle of the screen copied with GDI (what the
// display shows, windows of every thread included), read pixel by pixel and
// written as a 24-bit BMP file for the test run's artefacts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

struct ScreenPixel {
    std::uint8_t r = 0, g = 0, b = 0;
};

class ScreenShot {
public:
    // Copies the screen rectangle `area` (screen coordinates, clipped to the
    // screen). Empty when the area is empty or the copy failed.
    static ScreenShot Take(const RECT& area);

    bool Empty() const { return width_ == 0 || height_ == 0; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // The origin of the picture on the screen.
    POINT Origin() const { return origin_; }
    // The pixel at a screen position inside the picture (black outside).
    ScreenPixel AtScreen(int x, int y) const;
    // Writes an uncompressed bottom-up 24-bit BMP; false on an I/O failure.
    bool SaveBmp(const std::string& path) const;

private:
    int width_ = 0;
    int height_ = 0;
    POINT origin_{};
    std::vector<std::uint8_t> bgr_;  // top-down rows of width_ * 3 bytes
};

// Where the pictures of this run go: KIV_GUI_ARTIFACTS, else
// gui-artifacts\win32 beside the test program (created on demand).
std::string ArtifactDirectory();
// ArtifactDirectory()\<KIV_GUI_TAG or "en">-<name>.bmp; the picture is
// saved there and the path returned ("" when saving failed).
std::string SaveArtifact(const ScreenShot& shot, const std::string& name);

}  // namespace kivtest
