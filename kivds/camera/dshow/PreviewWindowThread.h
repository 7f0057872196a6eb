// The thread that owns the preview's video renderer, and so its window.
//
// A video renderer creates its window on the thread that creates the filter,
// and every other thread reaches that window through messages sent to it
// (re-parenting, placing, showing, destroying). The camera object lives on
// the application's thread, which may sit inside DS_Entry or on a semaphore
// while the dialog's thread attaches and places the preview: a window owned
// by the application's thread would then never answer. This thread does
// nothing but pump messages, so the window answers whichever thread calls.
//
// Threads: construction, CreateInstance and destruction on the camera
// object's thread. The destructor stops and joins the thread; every object
// made here must be released before (a window's destruction is a message to
// its thread).
#pragma once

#include <windows.h>

#include <memory>

namespace kiv {
namespace dshow {

class CPreviewWindowThread {
public:
    // Starts the thread (in the multithreaded apartment, with a message queue).
    CPreviewWindowThread();
    ~CPreviewWindowThread();
    CPreviewWindowThread(const CPreviewWindowThread&) = delete;
    CPreviewWindowThread& operator=(const CPreviewWindowThread&) = delete;

    // The thread runs and takes requests.
    bool Running() const;
    // CoCreateInstance(clsid, no outer, in-process, iid) made on the thread;
    // returns its result once it is done. E_FAIL when the thread is not running.
    HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** out);
    // The thread's id (tests: the owner of the renderer's window).
    DWORD ThreadId() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace dshow
}  // namespace kiv
