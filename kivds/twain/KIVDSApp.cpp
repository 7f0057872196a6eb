#include "kivds/twain/KIVDSApp.h"

#include <memory>
#include <new>

#include "kivds/twain/KIVTwainMgr.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kiv {

bool CKIVDSApp::InitInstance() {
    ExitInstance();
    manager_.reset(new (std::nothrow) CKIVTwainMgr());
    g_twainMgr = manager_.get();
    if (!g_twainMgr) return false;
    return g_twainMgr->InitIdentity() != 0;
}

void CKIVDSApp::ExitInstance() {
    g_twainMgr = nullptr;
    manager_.reset();
}

namespace {
CKIVDSApp theApp;
}  // namespace

}  // namespace kiv

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return kiv::theApp.InitInstance() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        kiv::theApp.ExitInstance();
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
