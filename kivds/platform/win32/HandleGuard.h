// Owns a kernel object handle (a process snapshot, a token, ...) and closes
// it when it goes. Null and INVALID_HANDLE_VALUE are both "no handle".
// Header-only; needs <windows.h> before it.
#pragma once

namespace kiv {

class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : m_handle(handle) {}
    ~HandleGuard() {
        if (Valid()) CloseHandle(m_handle);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

}  // namespace kiv
