// Helpers of the GUI tests: the FLTK loop served on the test's thread, and
// the pixels and pictures of the virtual display.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace kivgui {

// Serves FLTK until `done` holds, at most `passes` passes of 20 ms.
inline bool PumpUntil(const std::function<bool()>& done, int passes = 250) {
    for (int i = 0; i < passes; ++i) {
        if (done()) return true;
        Fl::wait(0.02);
    }
    return done();
}

// The window is on the screen and drawn.
inline bool WaitMapped(Fl_Window* window) {
    return PumpUntil([&] {
        if (!window->shown() || !fl_xid(window)) return false;
        XWindowAttributes attributes;
        XGetWindowAttributes(fl_display, fl_xid(window), &attributes);
        XSync(fl_display, False);
        return attributes.map_state == IsViewable;
    });
}

// The window-relative point (x, y) in root coordinates.
inline void RootPoint(Fl_Window* window, int x, int y, int& rootX, int& rootY) {
    Window child;
    XTranslateCoordinates(fl_display, fl_xid(window), RootWindow(fl_display, fl_screen), x, y, &rootX, &rootY, &child);
}

// One pixel of the window as 0xRRGGBB (24-bit TrueColor visuals).
inline std::uint32_t PixelAt(Fl_Window* window, int x, int y) {
    XImage* image = XGetImage(fl_display, fl_xid(window), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFFu;
    const std::uint32_t pixel = static_cast<std::uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFFu;
    XDestroyImage(image);
    return pixel;
}

// Writes the window as a PNG (ImageMagick's import); false when that failed.
inline bool Screenshot(Fl_Window* window, const std::string& path) {
    XSync(fl_display, False);
    char command[512];
    std::snprintf(command, sizeof command, "import -window 0x%lx '%s' 2>/dev/null",
                  static_cast<unsigned long>(fl_xid(window)), path.c_str());
    return std::system(command) == 0;
}

inline bool HaveProgram(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace kivgui
