// Load and unload of the data source on Windows: DllMain runs the application
// object's start-up and exit.
#include <windows.h>

#include "kivds/twain/KIVDSApp.h"
#include "kivds/twain/KIVTwainMgr.h"

namespace {
kiv::CKIVDSApp theApp;
}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: return theApp.InitInstance() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved set) the other threads are already gone
            // and the loader lock is held: tearing the camera down then could only
            // hang. The C runtime runs the library's static destructors right
            // after this function returns, on every detach, so the application
            // object must be emptied here rather than merely left alone. A library
            // whose camera was ever opened is pinned and gets here only at process
            // exit (see KeepLibraryLoaded).
            if (reserved) theApp.AbandonAtProcessExit();
            else theApp.ExitInstance();
            break;
        default: break;
    }
    return TRUE;
}
