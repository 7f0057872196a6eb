#include "kivds/ui/fltk/FltkDisplay.h"

#include <FL/Fl.H>
#include <FL/Fl_Device.H>
#include <FL/x.H>

#include <dlfcn.h>

#include <atomic>
#include <memory>
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

// Set once FLTK has a display; the module is pinned from then on.
std::atomic<bool> g_attached{false};

DisplayState& State() {
    static DisplayState state;
    return state;
}

// FLTK installs process-wide Xlib error handlers and keeps its display,
// fonts and timers in this module. Once it runs, the module stays mapped
// for the life of the process: unloading the data source must not leave
// those handlers pointing at code that is gone.
void PinThisModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
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
        PinThisModule();
        g_attached = true;
        fl_open_display(state.display);
        Fl::scheme("gtk+");
        Fl::visual(FL_DOUBLE | FL_INDEX);
        state.attached = true;
    }
    return true;
}

// FLTK makes its display device and graphics driver with new when the
// module loads and never frees them. A data source that is loaded and
// unloaded again without showing a window (headless, no display) gives them
// back as it goes; after FLTK ran, the module stays until the process ends.
__attribute__((destructor)) static void ReleaseFltkDisplayDevice() {
    if (g_attached) return;
    Fl_Display_Device* device = Fl_Display_Device::display_device();
    if (!device) return;
    std::unique_ptr<Fl_Graphics_Driver> driver(device->driver());
    std::unique_ptr<Fl_Display_Device> owned(device);
}

}  // namespace kiv
