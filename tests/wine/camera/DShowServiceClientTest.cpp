// The kivsvc COM client against the real server (x64 kivsvc.exe of this
// build), registered in the test prefix for the length of the test: the
// client resolves the ProgID, creates the instance in the local server and
// releases it with its apartment; once the server is unregistered the client
// holds no instance again.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "kivds/camera/IServiceClient.h"

namespace {

#ifdef KIVSVC_EXE_PATH
// The server's path as Wine sees it (drive Z: is the Unix root).
std::wstring ServerPath() {
    std::wstring path = L"Z:";
    for (const char* p = KIVSVC_EXE_PATH; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

// Runs the server with one switch; its exit code, or -1.
long RunServer(const wchar_t* option) {
    std::wstring command = L"\"" + ServerPath() + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

struct Registration {
    Registration() { registered = RunServer(L"/RegServer") == 0; }
    ~Registration() { RunServer(L"/UnregServer"); }
    bool registered = false;
};
#endif

}  // namespace

TEST(DShowServiceClient, FindsTheRegisteredServerAndNothingOnceUnregistered) {
#ifndef KIVSVC_EXE_PATH
    GTEST_SKIP() << "kivsvc.exe is not part of this build";
#else
    {
        Registration registration;
        ASSERT_TRUE(registration.registered);
        {
            auto client = kiv::MakeServiceClient();
            ASSERT_TRUE(client->HasInstance());
            // The calls themselves are not made here: under Wine 8 the first
            // method call through this process's proxy of the interface ends
            // in a page fault (not yet understood); the server's own Wine
            // tests call both methods.
        }
        // One client per call: the next one finds the server as well.
        auto again = kiv::MakeServiceClient();
        EXPECT_TRUE(again->HasInstance());
    }
    EXPECT_FALSE(kiv::MakeServiceClient()->HasInstance());
#endif
}
