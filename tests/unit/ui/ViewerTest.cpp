#include <gtest/gtest.h>

#include <map>

#include "kivds/ui/Viewer.h"

namespace kiv {
namespace {

WindowHandle Hwnd(int n) { return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(0x1000 + n)); }

// A scripted machine: processes in snapshot order, windows in Z order, and the
// module path each process would report.
class FakeViewerPlatform : public IViewerPlatform {
public:
    std::optional<std::vector<ProcessEntry>> SnapshotProcesses() override {
        if (snapshotFails) return std::nullopt;
        return processes;
    }
    std::vector<TopLevelWindow> TopLevelWindows() override { return windows; }
    std::optional<std::string> ModulePath(std::uint32_t pid) override {
        ++modulePathQueries;
        auto found = modulePaths.find(pid);
        if (found == modulePaths.end()) return std::nullopt;
        return found->second;
    }
    bool AskToClose(WindowHandle) override { return false; }
    bool Start(const std::string&) override { return false; }
    PathStyle Style() const override { return style; }

    bool snapshotFails = false;
    std::vector<ProcessEntry> processes;
    std::vector<TopLevelWindow> windows;
    std::map<std::uint32_t, std::string> modulePaths;
    PathStyle style = PathStyle::Windows;
    int modulePathQueries = 0;
};

class FindViewer : public ::testing::Test {
protected:
    bool Find() { return FindRunningViewer(platform, window, path); }
    // Outputs as the capture dialog hands them in.
    void ExpectOutputsUntouched() {
        EXPECT_EQ(window, Hwnd(999));
        EXPECT_EQ(path, "untouched");
    }

    FakeViewerPlatform platform;
    WindowHandle window = Hwnd(999);
    std::string path = "untouched";
};

TEST(ViewerName, UpperCasedNameMustBeginWithTheViewersImageName) {
    for (const char* name : {"KIVVIEW.EXE", "kivview.exe", "KivView.Exe", "KIVVIEW.EXE.bak"}) {
        EXPECT_TRUE(IsViewerExeName(name)) << name;
    }
    for (const char* name : {"MYKIVVIEW.EXE", " KIVVIEW.EXE", "KIVVIEW", "KIVVIEW.EX", "KIVVIEW_EXE", ""}) {
        EXPECT_FALSE(IsViewerExeName(name)) << name;
    }
}

TEST(ViewerPath, NeedsDriveAndDirectoryOnWindowsAndAnAbsolutePathOnPosix) {
    EXPECT_TRUE(IsFullViewerPath("C:\\Program Files\\Kiv\\KIVVIEW.EXE", PathStyle::Windows));
    EXPECT_TRUE(IsFullViewerPath("d:/kiv/kivview.exe", PathStyle::Windows));
    EXPECT_TRUE(IsFullViewerPath("C:\\kivview.exe", PathStyle::Windows));
    for (const char* path : {"\\\\server\\share\\kivview.exe", "\\kiv\\kivview.exe", "C:kivview.exe", "kivview.exe",
                             "kiv\\kivview.exe", "C:", ""}) {
        EXPECT_FALSE(IsFullViewerPath(path, PathStyle::Windows)) << path;
    }
    EXPECT_TRUE(IsFullViewerPath("/opt/kiv/kivview.exe", PathStyle::Posix));
    EXPECT_TRUE(IsFullViewerPath("/kivview.exe", PathStyle::Posix));
    for (const char* path : {"kivview.exe", "opt/kiv/kivview.exe", "C:\\kiv\\kivview.exe", "/opt/kiv/", ""}) {
        EXPECT_FALSE(IsFullViewerPath(path, PathStyle::Posix)) << path;
    }
}

// Checked on the pure conversion, never through kill(): a handle that slipped
// through as 0 or -1 would signal the test's process group or every process.
TEST(ViewerWindowHandle, CarriesOnlyPositiveProcessIds) {
    EXPECT_EQ(ProcessIdFromWindow(WindowFromProcessId(1)), 1u);
    EXPECT_EQ(ProcessIdFromWindow(WindowFromProcessId(0x7FFFFFFF)), 0x7FFFFFFFu);
    EXPECT_FALSE(ProcessIdFromWindow(nullptr).has_value());
    EXPECT_FALSE(ProcessIdFromWindow(WindowFromProcessId(0x80000000u)).has_value());
    EXPECT_FALSE(ProcessIdFromWindow(reinterpret_cast<WindowHandle>(~std::uintptr_t{0})).has_value());
    EXPECT_FALSE(ProcessIdFromWindow(reinterpret_cast<WindowHandle>(std::uintptr_t{0x100000001})).has_value());
}

TEST_F(FindViewer, FindsALowerCaseViewerByItsVisibleUnownedWindow) {
    platform.processes = {{4, "System"}, {100, "explorer.exe"}, {42, "kivview.exe"}, {300, "notepad.exe"}};
    platform.windows = {{Hwnd(1), 100, false, true}, {Hwnd(2), 42, false, true}, {Hwnd(3), 300, false, true}};
    platform.modulePaths = {{42, "C:\\Program Files\\Kiv\\kivview.exe"}, {100, "C:\\Windows\\explorer.exe"}};
    ASSERT_TRUE(Find());
    EXPECT_EQ(window, Hwnd(2));
    EXPECT_EQ(path, "C:\\Program Files\\Kiv\\kivview.exe");
}

TEST_F(FindViewer, NameWithAPrefixIsNotTheViewer) {
    platform.processes = {{42, "MYKIVVIEW.EXE"}};
    platform.windows = {{Hwnd(1), 42, false, true}};
    platform.modulePaths = {{42, "C:\\Kiv\\MYKIVVIEW.EXE"}};
    EXPECT_FALSE(Find());
    EXPECT_EQ(platform.modulePathQueries, 0);
    ExpectOutputsUntouched();
}

TEST_F(FindViewer, LastOfTwoViewerProcessesIsTheOneLookedFor) {
    platform.processes = {{10, "KIVVIEW.EXE"}, {15, "cmd.exe"}, {20, "kivview.exe"}};
    // The first viewer's window is higher in Z order; it must not be taken.
    platform.windows = {{Hwnd(10), 10, false, true}, {Hwnd(20), 20, false, true}};
    platform.modulePaths = {{10, "C:\\Old\\KIVVIEW.EXE"}, {20, "C:\\New\\kivview.exe"}};
    ASSERT_TRUE(Find());
    EXPECT_EQ(window, Hwnd(20));
    EXPECT_EQ(path, "C:\\New\\kivview.exe");

    // The last one without a window leaves the viewer not found, even though
    // the earlier one has a window.
    platform.windows = {{Hwnd(10), 10, false, true}};
    window = Hwnd(999);
    path = "untouched";
    EXPECT_FALSE(Find());
    ExpectOutputsUntouched();
}

TEST_F(FindViewer, OnlyVisibleUnownedWindowsCountAndTheTopmostOfThemWins) {
    platform.processes = {{42, "kivview.exe"}};
    platform.modulePaths = {{42, "C:\\Kiv\\kivview.exe"}};
    platform.windows = {{Hwnd(1), 42, true, true}, {Hwnd(2), 42, false, false}, {Hwnd(3), 7, false, true}};
    EXPECT_FALSE(Find());
    ExpectOutputsUntouched();

    platform.windows.push_back({Hwnd(4), 42, false, true});
    platform.windows.push_back({Hwnd(5), 42, false, true});
    ASSERT_TRUE(Find());
    EXPECT_EQ(window, Hwnd(4));
}

TEST_F(FindViewer, FailuresOfThePlatformLeaveTheOutputsUntouched) {
    platform.processes = {{42, "kivview.exe"}};
    platform.windows = {{Hwnd(1), 42, false, true}};

    platform.snapshotFails = true;
    platform.modulePaths = {{42, "C:\\Kiv\\kivview.exe"}};
    EXPECT_FALSE(Find());
    ExpectOutputsUntouched();
    platform.snapshotFails = false;

    // The process cannot be opened (another user's, or gone).
    platform.modulePaths.clear();
    EXPECT_FALSE(Find());
    EXPECT_EQ(platform.modulePathQueries, 1);
    ExpectOutputsUntouched();
}

TEST_F(FindViewer, PathWithoutDriveOrDirectoryIsNotRecorded) {
    platform.processes = {{42, "kivview.exe"}};
    platform.windows = {{Hwnd(1), 42, false, true}};
    for (const char* unconfirmed : {"\\\\server\\share\\kivview.exe", "kivview.exe"}) {
        platform.modulePaths = {{42, unconfirmed}};
        EXPECT_FALSE(Find()) << unconfirmed;
        ExpectOutputsUntouched();
    }
}

TEST_F(FindViewer, PosixPlatformAcceptsAbsolutePaths) {
    platform.style = PathStyle::Posix;
    platform.processes = {{42, "kivview.exe"}};
    platform.windows = {{Hwnd(42), 42, false, true}};
    platform.modulePaths = {{42, "/opt/kiv/kivview.exe"}};
    ASSERT_TRUE(Find());
    EXPECT_EQ(path, "/opt/kiv/kivview.exe");
    platform.modulePaths = {{42, "C:\\Kiv\\kivview.exe"}};
    path = "untouched";
    EXPECT_FALSE(Find());
    EXPECT_EQ(path, "untouched");
}

}  // namespace
}  // namespace kiv
