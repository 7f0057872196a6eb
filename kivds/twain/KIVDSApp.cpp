#include "kivds/twain/KIVDSApp.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "kivds/camera/KIVUVCControl.h"
#include "kivds/platform/SourceLock.h"
#include "kivds/twain/KIVTwainMgr.h"
#include "kivds/ui/DialogThread.h"

namespace kiv {
namespace {

std::atomic<CKIVDSApp::ExitHandler> g_exitHandler{nullptr};  // trivially destructible

}  // namespace

CKIVDSApp::~CKIVDSApp() { ExitInstance(); }

void CKIVDSApp::SetExitHandler(ExitHandler handler) { g_exitHandler.store(handler); }

void CKIVDSApp::EndBeforeNewerStaticsAtExit() {
    if (ExitHandler handler = g_exitHandler.load()) std::atexit(handler);
}

bool CKIVDSApp::InitInstance() {
    ExitInstance();
    manager_.reset(new (std::nothrow) CKIVTwainMgr());
    g_twainMgr = manager_.get();
    if (!g_twainMgr) return false;
    return g_twainMgr->InitIdentity() != 0;
}

void CKIVDSApp::AbandonAtProcessExit() {
    AbandonDialogThreads();  // a dialog thread killed by the system is never joined
    g_twainMgr = nullptr;
    (void)manager_.release();  // deliberately leaked: see the declaration
    CKIVUVCControl::AbandonInstance();
}

void CKIVDSApp::ExitInstance() {
    // The source's UI thread may be about to call into the manager.
    std::lock_guard<SourceLock> guard(TheSourceLock());
    g_twainMgr = nullptr;
    manager_.reset();
}

}  // namespace kiv
