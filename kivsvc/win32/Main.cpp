// kivsvc.exe: the node-interface registration service.
#include <windows.h>

#include "kivsvc/win32/ServiceModule.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return kiv::svc::Module().Main(GetCommandLineW()); }
