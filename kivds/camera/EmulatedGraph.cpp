#include "kivds/camera/EmulatedGraph.h"

#include <chrono>
#include <utility>

namespace kiv {

PlatformResult CEmulatedGraph::InitializeThread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_threadInits;
    return PlatformResult::Ok;
}

void CEmulatedGraph::UninitializeThread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_threadInits > 0) --m_threadInits;
}

PlatformResult CEmulatedGraph::CreateGraph() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_threadInits == 0) return PlatformResult::Failed;
    m_graph = true;
    return PlatformResult::Ok;
}

bool CEmulatedGraph::HasGraph() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_graph;
}

bool CEmulatedGraph::Connected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

bool CEmulatedGraph::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

void CEmulatedGraph::Connect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = true;
    m_frameTarget = nullptr;
}

void CEmulatedGraph::SetRunning(bool running) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = running;
}

void CEmulatedGraph::Disconnect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = false;
    m_running = false;
    m_frameTarget = nullptr;
}

void CEmulatedGraph::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_graph = false;
    m_running = false;
    m_eventWindow = nullptr;
    m_events.clear();
}

PlatformResult CEmulatedGraph::SetEventWindow(WindowHandle window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph) return PlatformResult::Failed;
    m_eventWindow = window;
    return PlatformResult::Ok;
}

EventPoll CEmulatedGraph::GetGraphEvent(GraphEvent& event, unsigned waitMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_graph) return EventPoll::Unavailable;
    if (!m_eventArrived.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_events.empty(); }))
        return EventPoll::Empty;
    event = m_events.front();
    m_events.pop_front();
    return EventPoll::Event;
}

PlatformResult CEmulatedGraph::SetFrameNotify(WindowHandle window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    m_frameTarget = window;
    return PlatformResult::Ok;
}

WindowHandle CEmulatedGraph::TakeFrameTarget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_frameTarget, nullptr);
}

WindowHandle CEmulatedGraph::QueueDeviceLost() {
    WindowHandle window = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        GraphEvent event;
        event.code = GraphEventCode::DeviceLost;
        event.removed = true;
        event.ofBoundDevice = true;
        m_events.push_back(event);
        window = m_eventWindow;
    }
    m_eventArrived.notify_all();
    return window;
}

}  // namespace kiv
