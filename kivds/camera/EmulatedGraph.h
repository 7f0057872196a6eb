// The bookkeeping of a capture graph for the backends that have none of
// their own (the virtual camera, V4L2): whether the thread was prepared, the
// graph made, connected and running; the graph events behind GetGraphEvent
// with the window told of them; the one first-frame notice armed by
// SetFrameNotify. It answers the IVideoPlatform calls of that name as a
// DirectShow graph would, and leaves streaming to the backend.
//
// The state calls come from the camera's owner thread; TakeFrameTarget and
// QueueDeviceLost from the backend's streaming thread. Nothing here calls
// out, so a backend may hold its own lock while it calls in.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {

class CEmulatedGraph {
public:
    // -- owner thread ----------------------------------------------------------
    PlatformResult InitializeThread();
    void UninitializeThread();
    // Failed unless the thread was prepared.
    PlatformResult CreateGraph();
    bool HasGraph() const;
    bool Connected() const;
    bool Running() const;
    // Connected anew: running stays as it is, no first frame armed.
    void Connect();
    void SetRunning(bool running);
    // DisconnectGraph: neither connected nor running, nothing armed.
    void Disconnect();
    // ReleaseGraph: no graph, not running, no event window, no events waiting.
    void Release();
    // Failed without a graph.
    PlatformResult SetEventWindow(WindowHandle window);
    // Unavailable without a graph; Empty when nothing arrives within waitMs.
    EventPoll GetGraphEvent(GraphEvent& event, unsigned waitMs);
    // Failed unless connected.
    PlatformResult SetFrameNotify(WindowHandle window);

    // -- streaming thread ------------------------------------------------------
    // The armed window, disarmed: one notice per arming (null: none armed).
    WindowHandle TakeFrameTarget();
    // Queues the removal of the bound device; returns the window to post
    // WM_GRAPHNOTIFY to (null: none).
    WindowHandle QueueDeviceLost();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_eventArrived;
    int m_threadInits = 0;
    bool m_graph = false;
    bool m_connected = false;
    bool m_running = false;
    WindowHandle m_eventWindow = nullptr;
    WindowHandle m_frameTarget = nullptr;
    std::deque<GraphEvent> m_events;
};

}  // namespace kiv
