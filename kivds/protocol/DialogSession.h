// One capture dialog as the TWAIN manager drives it: created at MSG_ENABLEDS
// with ShowUI, shown, told about ended transfers, destroyed at MSG_DISABLEDS.
// The dialog itself (its logic and its toolkit views) lives in kivds/ui; the
// data source registers the factory of its UI backend here (kivds/wiring).
// Without one, MSG_ENABLEDS with ShowUI cannot show a dialog.
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
    // Creates the modeless dialog (template 2000) with `parent` as parent and
    // runs its initialisation (the preview starts); false when the
    // initialisation failed (LastCameraError tells why).
    virtual bool Create(WindowHandle parent) = 0;
    virtual void Show() = 0;
    // The manager's DestroyWindow: the dialog gives the camera's extension
    // unit back and restarts the viewer it closed.
    virtual void DestroyWindow() = 0;
    // WM_XFERDONE (0x0402) with both parameters 0.
    virtual void SendXferDone() = 0;
    virtual WindowHandle Window() const = 0;
    // MSG_PROCESSEVENT: offers one message of the application's loop to the
    // dialog (`osMessage` is the TW_EVENT's pEvent, a MSG* on Windows). True
    // when the dialog took it (keyboard navigation, Esc); the application
    // must then not dispatch it. The dialog may end inside (Esc closes it,
    // the application's callback may disable the source), so the caller must
    // not touch the session afterwards. Backends whose dialog runs its own
    // loop take none.
    virtual bool PreTranslateMessage(void* osMessage) {
        (void)osMessage;
        return false;
    }
};

using DialogSessionFactory = std::function<std::unique_ptr<IDialogSession>()>;

// Registers the UI backend's factory that MSG_ENABLEDS uses; an empty
// function removes it. Any thread.
void RegisterDialogBackend(DialogSessionFactory factory);
// A new session of the registered backend, or null when none is registered
// or it makes none.
std::unique_ptr<IDialogSession> MakeDialogSession();

}  // namespace kiv
