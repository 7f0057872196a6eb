// Load and unload of the data source on POSIX systems: an ELF constructor and
// destructor run the application object's start-up and exit.
#include "kivds/twain/KIVDSApp.h"
#include "kivds/twain/KIVTwainMgr.h"
#include "kivds/ui/DialogThread.h"

namespace {
// Constant-initialised, so it is ready before the constructor below runs.
kiv::CKIVDSApp theApp;
bool ended = false;

// The unload, or the process's exit before the statics the manager made go
// (see CKIVDSApp::EndBeforeNewerStaticsAtExit), whichever comes first.
void End() {
    if (ended) return;
    ended = true;
    theApp.ExitInstance();
    // A dialog thread the application ended from its own notification may
    // still be returning through this library's code.
    kiv::JoinLetGoDialogThreads();
}
}  // namespace

__attribute__((constructor)) static void KivDsLoad() {
    theApp.InitInstance();
    kiv::CKIVDSApp::SetExitHandler(&End);
}
__attribute__((destructor)) static void KivDsUnload() { End(); }
