// The X display that the FLTK dialogs use, and the one lock around FLTK.
//
// The dialogs open a display connection of their own (never the host
// application's): FltkDisplayUsable() probes it once per process and keeps
// it; the first FLTK window hands it to FLTK. FLTK keeps global state, so
// every FLTK call in the process is made while holding FltkLock().
//
// Threads: FltkDisplayUsable may be called from any thread. FltkAttachDisplay
// is called on the thread that will draw, holding FltkLock().
#pragma once

#include <mutex>

namespace kiv {

// True when the FLTK dialogs can be shown: KIVDS_UI is not "headless",
// DISPLAY is set and the connection opened. A display that is set but cannot
// be opened writes one line to standard error (once) and reads as false.
bool FltkDisplayUsable();

// The process-wide lock of FLTK's state (recursive: modal loops nest).
std::recursive_mutex& FltkLock();

// Hands the probed connection to FLTK (once); false when there is none.
bool FltkAttachDisplay();

}  // namespace kiv
