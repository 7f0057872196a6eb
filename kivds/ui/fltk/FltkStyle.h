// The look the FLTK windows share: their text size, the smallest size a
// label may shrink to, and the shrinking itself.
#pragma once

#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

namespace kiv {

constexpr int kTextSize = 12;
constexpr int kMinTextSize = 8;

// Shrinks the label's font, from kTextSize down to kMinTextSize at most, until
// the text fits the widget: the templates' sizes were made for another font,
// and some languages' fonts run wider. A line's leading may reach into the
// gap below a static.
inline void FitLabelSize(Fl_Widget* widget) {
    for (int size = kTextSize; size >= kMinTextSize; --size) {
        widget->labelsize(size);
        fl_font(widget->labelfont(), size);
        int w = 0, h = 0;
        fl_measure(widget->label(), w, h, 0);
        if (w <= widget->w() && fl_height() <= widget->h() + 4) break;
    }
}

}  // namespace kiv
