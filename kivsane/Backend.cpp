#include "kivsane/Backend.h"

#include <algorithm>
#include <cstring>

#include "kivds/platform/Log.h"
#include "kivsane/Scanner.h"

namespace kiv {
namespace sane {
namespace {

constexpr SANE_Int kBuild = 1;

}  // namespace

Backend& Backend::Instance() {
    // A frontend that never calls sane_exit has its handles closed when the
    // library's statics go: the log sink, which closing uses, is made first
    // so that it goes after the backend.
    LogEnabled(LogLevel::Error);
    static Backend backend;
    return backend;
}

SANE_Status Backend::Init(SANE_Int* versionCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ConfigureLog(BackendLogSettings());
    if (versionCode) *versionCode = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, 0, kBuild);
    m_config = LoadConfig();
    m_initialised = true;
    Log(LogLevel::Info, "sane.init", "field of view %.1f mm%s%s", m_config.fieldOfViewMm,
        m_config.virtualCamera ? ", virtual camera" : "", m_config.anyUvc ? ", any UVC camera" : "");
    return SANE_STATUS_GOOD;
}

void Backend::Exit() {
    std::vector<std::unique_ptr<Scanner>> open;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        open.swap(m_open);
        m_list.clear();
        m_saneDevices.clear();
        m_devices.clear();
        m_initialised = false;
    }
    open.clear();  // outside the lock: closing joins the cameras' threads
}

void Backend::RefreshDevices() {
    m_devices = FindDevices(m_config);
    m_saneDevices.clear();
    for (const DeviceEntry& entry : m_devices)
        m_saneDevices.push_back(SANE_Device{entry.name.c_str(), kVendor, entry.model.c_str(), kDeviceType});
    m_list.clear();
    for (const SANE_Device& device : m_saneDevices) m_list.push_back(&device);
    m_list.push_back(nullptr);
}

SANE_Status Backend::GetDevices(const SANE_Device*** list) {
    if (!list) return SANE_STATUS_INVAL;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_initialised) return SANE_STATUS_INVAL;
    RefreshDevices();
    *list = m_list.data();
    return SANE_STATUS_GOOD;
}

SANE_Status Backend::Open(const char* name, SANE_Handle* handle) {
    if (!name || !handle) return SANE_STATUS_INVAL;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_initialised) return SANE_STATUS_INVAL;
    if (!m_open.empty()) {
        Log(LogLevel::Error, "sane.open", "%s: the process has camera %s open already", name,
            m_open.front()->Device().name.c_str());
        return SANE_STATUS_DEVICE_BUSY;
    }
    // The list the frontend saw stays valid: look in a fresh one without
    // replacing it.
    std::vector<DeviceEntry> devices = FindDevices(m_config);
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const DeviceEntry& d) { return name[0] == '\0' || d.name == name; });
    if (it == devices.end()) {
        Log(LogLevel::Error, "sane.open", "no camera %s", name);
        return SANE_STATUS_INVAL;
    }
    std::unique_ptr<Scanner> scanner;
    const SANE_Status status = Scanner::Open(*it, m_config.fieldOfViewMm, scanner);
    if (status != SANE_STATUS_GOOD) return status;
    *handle = scanner.get();
    m_open.push_back(std::move(scanner));
    return SANE_STATUS_GOOD;
}

void Backend::Close(SANE_Handle handle) {
    std::unique_ptr<Scanner> closing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_open.begin(), m_open.end(), [&](const auto& s) { return s.get() == handle; });
        if (it == m_open.end()) return;
        closing = std::move(*it);
        m_open.erase(it);
    }
}

Scanner* Backend::Find(SANE_Handle handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& scanner : m_open)
        if (scanner.get() == handle) return scanner.get();
    return nullptr;
}

}  // namespace sane
}  // namespace kiv
