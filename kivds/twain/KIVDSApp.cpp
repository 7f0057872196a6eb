#include "kivds/twain/KIVDSApp.h"

#include <memory>
#include <new>

#include "kivds/camera/KIVUVCControl.h"
#include "kivds/twain/KIVTwainMgr.h"

namespace kiv {

CKIVDSApp::~CKIVDSApp() { ExitInstance(); }

bool CKIVDSApp::InitInstance() {
    ExitInstance();
    manager_.reset(new (std::nothrow) CKIVTwainMgr());
    g_twainMgr = manager_.get();
    if (!g_twainMgr) return false;
    return g_twainMgr->InitIdentity() != 0;
}

void CKIVDSApp::AbandonAtProcessExit() {
    g_twainMgr = nullptr;
    (void)manager_.release();  // deliberately leaked: see the declaration
    CKIVUVCControl::AbandonInstance();
}

void CKIVDSApp::ExitInstance() {
    g_twainMgr = nullptr;
    manager_.reset();
}

}  // namespace kiv
