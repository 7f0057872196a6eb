// A TWAIN application with a window and a message loop, as a real Windows
// program hosts the source: every message goes to DS_Entry(DG_CONTROL,
// DAT_EVENT, MSG_PROCESSEVENT) first and is dispatched only when the source
// answers TWRC_NOTDSEVENT; MSG_XFERREADY and MSG_CLOSEDSREQ arrive in
// TW_EVENT.TWMessage (no source manager is given to the source, so it keeps
// them for the next MSG_PROCESSEVENT). Everything runs on the thread that
// created the object.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "kivds/protocol/Twain.h"
#include "support/DsHost.h"

namespace kivtest {

class TwainApp {
public:
    TwainApp();
    ~TwainApp();
    TwainApp(const TwainApp&) = delete;
    TwainApp& operator=(const TwainApp&) = delete;

    // The application's top-level window (visible, at the screen's top left).
    HWND Window() const { return window_; }
    DsHost& Host() { return *host_; }

    // MSG_ENABLEDS with ShowUI = TRUE and hParent = Window().
    twain::TW_UINT16 EnableWithDialog();

    // Runs the message loop until `done` holds (checked after every message
    // and at least every 50 ms) or `limit` has passed; true when it held.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    // Runs the message loop for a while (lets paints and frames through).
    void PumpFor(std::chrono::milliseconds span);

    // The TWAIN messages the source has handed over so far, in order.
    const std::vector<twain::TW_UINT16>& Received() const { return received_; }
    std::size_t Count(twain::TW_UINT16 msg) const;
    // Pumps until `msg` has arrived `count` times in all.
    bool WaitForMessage(twain::TW_UINT16 msg, std::size_t count = 1,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    // Called with each TWAIN message as it arrives, from inside the loop.
    void OnTwainMessage(std::function<void(twain::TW_UINT16)> callback) { callback_ = std::move(callback); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Deliver(MSG& message);

    HWND window_ = nullptr;
    std::unique_ptr<DsHost> host_;
    std::vector<twain::TW_UINT16> received_;
    std::function<void(twain::TW_UINT16)> callback_;
};

}  // namespace kivtest
