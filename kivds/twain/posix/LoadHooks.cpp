// Load and unload of the data source on POSIX systems: an ELF constructor and
// destructor run the application object's start-up and exit.
#include "kivds/twain/KIVDSApp.h"
#include "kivds/twain/KIVTwainMgr.h"

namespace {
// Constant-initialised, so it is ready before the constructor below runs.
kiv::CKIVDSApp theApp;
}  // namespace

__attribute__((constructor)) static void KivDsLoad() { theApp.InitInstance(); }
__attribute__((destructor)) static void KivDsUnload() { theApp.ExitInstance(); }
