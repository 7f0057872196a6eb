// Load and unload hooks of the data source: they run the application
// object's start-up and exit (DllMain on Windows, ELF constructor and
// destructor elsewhere).
#include "kivds/twain/KIVDSApp.h"
#include "kivds/twain/KIVTwainMgr.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kiv {
namespace {
CKIVDSApp theApp;
}  // namespace

}  // namespace kiv

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return kiv::theApp.InitInstance() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        // At process exit the other threads are already gone and the loader
        // lock is held: tearing the camera down then could only hang.
        // (A library whose camera was ever opened is pinned and never gets
        // here before process exit; see KeepLibraryLoaded.)
        if (!reserved) kiv::theApp.ExitInstance();
        break;
    default:
        break;
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void KivDsLoad() { kiv::theApp.InitInstance(); }
__attribute__((destructor)) static void KivDsUnload() { kiv::theApp.ExitInstance(); }
#endif
