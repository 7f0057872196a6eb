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
    // The end of the process (Windows: DLL_PROCESS_DETACH with the loader
    // lock held and every other thread already terminated): the manager and
    // the camera are forgotten, not destroyed, so that nothing stops a
    // camera or joins a thread then, and the destructor that the C runtime
    // runs afterwards finds nothing left to tear down.
    void AbandonAtProcessExit();

    // POSIX process exit runs the exit handlers, newest first, while the
    // library's threads (dialog, camera) still run, and destroys the
    // library's statics that way before its unload hook runs. The load hook
    // names a handler that ends the application object; the manager calls
    // EndBeforeNewerStaticsAtExit once it has made the statics its end needs
    // (the camera, a dialog), so that the end comes before they go. Without a
    // handler (Windows, where DllMain ends the library; tests) nothing.
    using ExitHandler = void (*)();
    static void SetExitHandler(ExitHandler handler);
    static void EndBeforeNewerStaticsAtExit();

private:
    std::unique_ptr<CKIVTwainMgr> manager_;  // published as g_twainMgr
};

}  // namespace kiv
