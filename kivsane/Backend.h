// The backend's process-wide state between sane_init and sane_exit: the
// configuration, the device list handed to the frontend and the open
// handles. One camera per process, as for the TWAIN source: while a handle
// is open, every other sane_open is DEVICE_BUSY.
//
// Every operation but Cancel takes the backend's lock; none throws past the
// entry points (kivsane/EntryPoints.cpp), which map exceptions to statuses.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sane/sane.h>

#include "kivsane/Config.h"
#include "kivsane/Devices.h"

namespace kiv {
namespace sane {

class Scanner;

class Backend {
public:
    static Backend& Instance();

    SANE_Status Init(SANE_Int* versionCode);
    // Closes every handle (stopping its camera and threads) and forgets the
    // device list.
    void Exit();
    SANE_Status GetDevices(const SANE_Device*** list);
    SANE_Status Open(const char* name, SANE_Handle* handle);
    void Close(SANE_Handle handle);
    // The open handle, or null for anything else.
    Scanner* Find(SANE_Handle handle);

private:
    Backend() = default;
    void RefreshDevices();

    std::mutex m_mutex;
    bool m_initialised = false;
    BackendConfig m_config;
    std::vector<DeviceEntry> m_devices;
    std::vector<SANE_Device> m_saneDevices;
    std::vector<const SANE_Device*> m_list;  // null-terminated, over m_saneDevices
    std::vector<std::unique_ptr<Scanner>> m_open;
};

}  // namespace sane
}  // namespace kiv
