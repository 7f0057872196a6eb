#include "wine/dialog/TwainApp.h"

using namespace twain;

namespace kivtest {
namespace {

const wchar_t kClassName[] = L"KivDialogTestApp";
constexpr UINT_PTR kHeartbeat = 1;

}  // namespace

TwainApp::TwainApp() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = &TwainApp::WindowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    cls.lpszClassName = kClassName;
    RegisterClassW(&cls);  // fails harmlessly when a previous test registered it
    window_ = CreateWindowExW(0, kClassName, L"kivds dialog test application", WS_OVERLAPPEDWINDOW, 0, 0, 1000, 900,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_) {
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
        // The loop below blocks in GetMessage; a heartbeat keeps it turning so
        // that a message the source keeps pending is collected soon.
        SetTimer(window_, kHeartbeat, 50, nullptr);
    }
    DsHost::Options options;
    options.passEntryPoints = false;
    host_ = std::make_unique<DsHost>(options);
}

TwainApp::~TwainApp() {
    host_.reset();  // disables and closes the source, then unloads it
    if (window_) DestroyWindow(window_);
    PumpFor(std::chrono::milliseconds(0));
}

TW_UINT16 TwainApp::EnableWithDialog() {
    TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    ui.ModalUI = 0;
    ui.hParent = window_;
    return host_->Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

void TwainApp::Deliver(MSG& message) {
    TW_EVENT event{};
    event.pEvent = &message;
    event.TWMessage = MSG_NULL;
    const TW_UINT16 rc = host_->Loaded() ? host_->Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event)
                                         : TW_UINT16{TWRC_NOTDSEVENT};
    if (rc == TWRC_DSEVENT) {
        if (event.TWMessage != MSG_NULL) {
            received_.push_back(event.TWMessage);
            if (callback_) callback_(event.TWMessage);
        }
        return;  // the source has dealt with the message
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

bool TwainApp::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        MSG message{};
        // Wait for the next message (the heartbeat timer bounds the wait).
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            continue;
        }
        if (message.message == WM_QUIT) return done();
        Deliver(message);
    }
}

void TwainApp::PumpFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    PumpUntil([&] { return std::chrono::steady_clock::now() >= end; }, span + std::chrono::milliseconds(1000));
    // Drain what is queued now.
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) break;
        Deliver(message);
    }
}

std::size_t TwainApp::Count(TW_UINT16 msg) const {
    std::size_t n = 0;
    for (TW_UINT16 m : received_) n += m == msg;
    return n;
}

bool TwainApp::WaitForMessage(TW_UINT16 msg, std::size_t count, std::chrono::milliseconds limit) {
    return PumpUntil([&] { return Count(msg) >= count; }, limit);
}

LRESULT CALLBACK TwainApp::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kHeartbeat) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kivtest
