// The TWAIN manager's view of the capture dialog. The dialog itself (its
// logic and its toolkit views) lives in kivds/ui; a backend registers a
// factory here. Without one, MSG_ENABLEDS with ShowUI cannot show a dialog.
#pragma once

#include <functional>
#include <memory>

#include "kivds/platform/Types.h"

namespace kiv {

class ICaptureDialog {
public:
    virtual ~ICaptureDialog() = default;
    // Creates the modeless dialog (template 2000) with `parent` as parent.
    virtual bool Create(WindowHandle parent) = 0;
    virtual void Show() = 0;
    virtual void DestroyWindow() = 0;
    // WM_XFERDONE (0x0402) with both parameters 0.
    virtual void SendXferDone() = 0;
    virtual WindowHandle Window() const = 0;
    // MSG_PROCESSEVENT: offers the application's event (`osMessage`, the
    // TW_EVENT's pEvent: a MSG* on Windows) to the dialog. True when the
    // dialog handled it; the application's callback may disable the source
    // from inside, so the caller must not touch the dialog afterwards.
    virtual bool PreTranslateMessage(void* osMessage) {
        (void)osMessage;
        return false;
    }
};

using CaptureDialogFactory = std::function<std::unique_ptr<ICaptureDialog>()>;

// Registers the factory used by MSG_ENABLEDS; an empty function removes it.
void SetCaptureDialogFactory(CaptureDialogFactory factory);
// A new dialog object, or null when no backend is registered.
std::unique_ptr<ICaptureDialog> MakeCaptureDialog();

}  // namespace kiv
