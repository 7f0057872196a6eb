// The application object: creates the one TWAIN manager when the library is
// loaded and destroys it when the library is unloaded.
#pragma once

#include <memory>

namespace kiv {

class CKIVTwainMgr;

class CKIVDSApp {
public:
    // Constant-initialised, so the load hook may run before any dynamic
    // initialisation of the library.
    constexpr CKIVDSApp() = default;
    ~CKIVDSApp();
    CKIVDSApp(const CKIVDSApp&) = delete;
    CKIVDSApp& operator=(const CKIVDSApp&) = delete;

    // Load-time start-up; false makes the library fail to load (Windows) or
    // leaves DS_Entry answering TWRC_FAILURE (POSIX, where a constructor
    // cannot refuse the load).
    bool InitInstance();
    void ExitInstance();

private:
    std::unique_ptr<CKIVTwainMgr> manager_;  // published as g_twainMgr
};

}  // namespace kiv
