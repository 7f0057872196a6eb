#include "kivds/camera/dshow/PreviewWindowThread.h"

#include <objbase.h>

#include <future>
#include <thread>
#include <utility>

namespace kiv {
namespace dshow {
namespace {

// A thread message (no window) that carries a request.
constexpr UINT kRequest = WM_APP + 0x31;

struct Request {
    CLSID clsid;
    IID iid;
    void** out;
    std::promise<HRESULT> done;
};

}  // namespace

struct CPreviewWindowThread::State {
    std::thread thread;
    DWORD threadId = 0;
    bool running = false;

    void Loop(std::promise<DWORD> started) {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists from here on
        started.set_value(GetCurrentThreadId());
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (!msg.hwnd && msg.message == kRequest) {
                auto* request = reinterpret_cast<Request*>(msg.lParam);
                request->done.set_value(
                    CoCreateInstance(request->clsid, nullptr, CLSCTX_INPROC_SERVER, request->iid, request->out));
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (SUCCEEDED(init)) CoUninitialize();
    }
};

CPreviewWindowThread::CPreviewWindowThread() : m_state(std::make_unique<State>()) {
    std::promise<DWORD> started;
    std::future<DWORD> id = started.get_future();
    State* state = m_state.get();
    try {
        state->thread = std::thread([state, p = std::move(started)]() mutable { state->Loop(std::move(p)); });
    } catch (const std::system_error&) {
        return;
    }
    state->threadId = id.get();
    state->running = true;
}

CPreviewWindowThread::~CPreviewWindowThread() {
    if (!m_state->thread.joinable()) return;
    // WM_QUIT ends the loop once the messages before it were handled. The
    // queue exists since the constructor, so a post fails only for a full
    // queue (retried for a while) or a thread that has ended already (then
    // the join returns at once).
    for (int attempt = 0; attempt < 2000 && !PostThreadMessageW(m_state->threadId, WM_QUIT, 0, 0); ++attempt) Sleep(1);
    m_state->thread.join();
}

bool CPreviewWindowThread::Running() const { return m_state->running; }

DWORD CPreviewWindowThread::ThreadId() const { return m_state->threadId; }

HRESULT CPreviewWindowThread::CreateInstance(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_state->running) return E_FAIL;
    Request request{clsid, iid, out, {}};
    std::future<HRESULT> result = request.done.get_future();
    if (!PostThreadMessageW(m_state->threadId, kRequest, 0, reinterpret_cast<LPARAM>(&request))) return E_FAIL;
    return result.get();
}

}  // namespace dshow
}  // namespace kiv
