#include "kivds/ui/fltk/FltkDisplay.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdio>

#include "kivds/platform/Env.h"
#include "kivds/platform/MessageBox.h"

namespace kiv {
namespace {

struct DisplayState {
    std::mutex mutex;
    bool probed = false;
    Display* display = nullptr;
    bool attached = false;
};

DisplayState& State() {
    static DisplayState state;
    return state;
}

}  // namespace

bool FltkDisplayUsable() {
    if (HeadlessUiRequested()) return false;
    DisplayState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (!state.probed) {
        state.probed = true;
        auto name = GetEnv("DISPLAY");
        if (name && !name->empty()) {
            state.display = XOpenDisplay(name->c_str());
            if (!state.display) {
                std::fprintf(stderr, "kivds: cannot open display \"%s\"; the dialogs run headless\n", name->c_str());
                std::fflush(stderr);
            }
        }
    }
    return state.display != nullptr;
}

std::recursive_mutex& FltkLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool FltkAttachDisplay() {
    if (!FltkDisplayUsable()) return false;
    DisplayState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (!state.attached) {
        fl_open_display(state.display);
        Fl::scheme("gtk+");
        Fl::visual(FL_DOUBLE | FL_INDEX);
        state.attached = true;
    }
    return true;
}

// A dialog base unit of "MS Shell Dlg" 8 pt at 96 dpi is 6 x 13 pixels; a
// dialog unit is a quarter of its width and an eighth of its height.
int DialogUnitsX(int units) { return (units * 6 + 2) / 4; }
int DialogUnitsY(int units) { return (units * 13 + 4) / 8; }

}  // namespace kiv
