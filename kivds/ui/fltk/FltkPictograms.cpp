#include "kivds/ui/fltk/FltkPictograms.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <memory>

#include "kivds/ui/DialogControls.h"

namespace kiv {
namespace {

// Coordinates on a 48-unit grid scaled to the square.
struct Grid {
    int x, y, size;
    int X(int u) const { return x + u * size / 48; }
    int Y(int u) const { return y + u * size / 48; }
    int L(int u) const { return u * size / 48; }
};

Fl_Color Ink(Fl_Color color, bool enabled) { return enabled ? color : fl_inactive(color); }

}  // namespace

void DrawCameraPictogram(int x, int y, int size, bool enabled) {
    const Grid g{x, y, size};
    // Body with a viewfinder hump, a lens in two rings and a flash window.
    fl_color(Ink(FL_DARK3, enabled));
    fl_rectf(g.X(15), g.Y(10), g.L(14), g.L(6));
    fl_color(Ink(fl_rgb_color(60, 64, 72), enabled));
    fl_rectf(g.X(4), g.Y(15), g.L(40), g.L(26));
    fl_color(Ink(fl_rgb_color(200, 204, 210), enabled));
    fl_pie(g.X(13), g.Y(17), g.L(22), g.L(22), 0, 360);
    fl_color(Ink(fl_rgb_color(40, 80, 150), enabled));
    fl_pie(g.X(16), g.Y(20), g.L(16), g.L(16), 0, 360);
    fl_color(Ink(fl_rgb_color(150, 190, 240), enabled));
    fl_pie(g.X(20), g.Y(23), g.L(5), g.L(5), 0, 360);
    fl_color(Ink(fl_rgb_color(250, 220, 90), enabled));
    fl_rectf(g.X(36), g.Y(18), g.L(5), g.L(3));
}

void DrawToolsPictogram(int x, int y, int size, bool enabled) {
    const Grid g{x, y, size};
    // A screwdriver and a spanner crossed.
    fl_line_style(FL_SOLID | FL_CAP_ROUND, g.L(5) > 0 ? g.L(5) : 1);
    fl_color(Ink(fl_rgb_color(120, 124, 132), enabled));
    fl_line(g.X(12), g.Y(36), g.X(34), g.Y(14));
    fl_line_style(FL_SOLID | FL_CAP_ROUND, g.L(7) > 0 ? g.L(7) : 1);
    fl_color(Ink(fl_rgb_color(200, 60, 40), enabled));
    fl_line(g.X(36), g.Y(36), g.X(28), g.Y(28));
    fl_line_style(FL_SOLID | FL_CAP_ROUND, g.L(3) > 0 ? g.L(3) : 1);
    fl_color(Ink(fl_rgb_color(150, 150, 150), enabled));
    fl_line(g.X(26), g.Y(26), g.X(12), g.Y(12));
    fl_line_style(0);
    // The spanner's open jaw.
    fl_color(Ink(fl_rgb_color(120, 124, 132), enabled));
    fl_pie(g.X(30), g.Y(6), g.L(12), g.L(12), 0, 360);
    fl_color(FL_BACKGROUND_COLOR);
    fl_pie(g.X(34), g.Y(7), g.L(6), g.L(6), 0, 360);
    fl_color(Ink(fl_rgb_color(120, 124, 132), enabled));
    fl_pie(g.X(6), g.Y(32), g.L(10), g.L(10), 0, 360);
}

void DrawProductPictogram(int x, int y, int size) {
    const Grid g{x, y, size};
    fl_color(FL_WHITE);
    fl_rectf(g.X(8), g.Y(26), g.L(32), g.L(18));
    fl_color(FL_DARK3);
    fl_rect(g.X(8), g.Y(26), g.L(32), g.L(18));
    fl_line_style(FL_SOLID, g.L(3) > 0 ? g.L(3) : 1);
    fl_color(fl_rgb_color(60, 64, 72));
    fl_line(g.X(40), g.Y(44), g.X(40), g.Y(8), g.X(22), g.Y(8));
    fl_line_style(0);
    fl_rectf(g.X(14), g.Y(5), g.L(12), g.L(8));
    fl_color(fl_rgb_color(40, 80, 150));
    fl_pie(g.X(17), g.Y(11), g.L(6), g.L(4), 180, 360);
}

bool DrawIconResource(int iconId, int x, int y, int size, bool enabled) {
    switch (iconId) {
        case IDI_CAPTURE: DrawCameraPictogram(x, y, size, enabled); return true;
        case IDI_SETTINGS: DrawToolsPictogram(x, y, size, enabled); return true;
        case IDI_APP: DrawProductPictogram(x, y, size); return true;
        default: return false;
    }
}

bool RenderIconRgb(int iconId, int size, std::vector<unsigned char>& rgb) {
    Fl_Offscreen offscreen = fl_create_offscreen(size, size);
    if (!offscreen) return false;
    fl_begin_offscreen(offscreen);
    fl_color(FL_BACKGROUND_COLOR);
    fl_rectf(0, 0, size, size);
    const bool drawn = DrawIconResource(iconId, 0, 0, size, true);
    std::unique_ptr<uchar[]> pixels(fl_read_image(nullptr, 0, 0, size, size));
    fl_end_offscreen();
    fl_delete_offscreen(offscreen);
    if (!drawn || !pixels) return false;
    rgb.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(size) * size * 3);
    return true;
}

}  // namespace kiv
