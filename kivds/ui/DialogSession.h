// One capture dialog as the TWAIN manager drives it: created at MSG_ENABLEDS
// with ShowUI, shown, told about ended transfers, destroyed at MSG_DISABLEDS.
// A UI backend provides it; the wiring of the data source hands it to the
// manager (which knows it as ICaptureDialog).
//
// Threads: the calls come from the thread that calls DS_Entry, normally
// holding TheSourceLock(); a backend with a thread of its own carries them to
// that thread and returns when they are done (SendXferDone may return first).
#pragma once

#include <functional>
#include <memory>

#include "kivds/platform/Types.h"

namespace kiv {

class IDialogSession {
public:
    virtual ~IDialogSession() = default;  // deletes the dialog (on its thread)
    // Creates the dialog and runs its initialisation (the preview starts);
    // false when the initialisation failed (LastCameraError tells why).
    virtual bool Create(WindowHandle parent) = 0;
    virtual void Show() = 0;
    // The manager's DestroyWindow: the dialog gives the camera's extension
    // unit back and restarts the viewer it closed.
    virtual void DestroyWindow() = 0;
    // WM_XFERDONE.
    virtual void SendXferDone() = 0;
    virtual WindowHandle Window() const = 0;
    // Offers one message of the application's loop to the dialog
    // (MSG_PROCESSEVENT; `osMessage` is the TW_EVENT's pEvent, a MSG* on
    // Windows). True when the dialog took it (keyboard navigation, Esc);
    // the application must then not dispatch it. The dialog may end inside
    // (Esc closes it). Backends whose dialog runs its own loop take none.
    virtual bool PreTranslateMessage(void* osMessage) {
        (void)osMessage;
        return false;
    }
};

// A session of the UI backend chosen for this process: the headless one when
// KIVDS_UI=headless, when no toolkit backend is registered, or when the
// registered one makes none (no display, say).
std::unique_ptr<IDialogSession> MakeDialogSession();

// A toolkit backend (win32, fltk) registers its sessions here; an empty
// function removes it. Any thread.
using DialogSessionFactory = std::function<std::unique_ptr<IDialogSession>()>;
void RegisterDialogBackend(DialogSessionFactory factory);

}  // namespace kiv
