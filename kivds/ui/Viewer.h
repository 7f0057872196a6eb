// Finding the maker's viewer program while it runs, so that the capture dialog
// can ask it to close while the data source uses the camera and start it again
// afterwards.
//
// The viewer is the process whose executable file name, upper-cased, begins
// with "KIVVIEW.EXE". It counts as running when it has a visible top-level
// window without owner; its module path must be a full path, so that it can be
// started again from there.
//
// The platform part sits behind IViewerPlatform: Windows walks a process
// snapshot and the top-level windows; Linux reads /proc, where a process is its
// own "window", asking it to close sends SIGTERM, and starting it again runs
// the recorded executable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kivds/platform/Types.h"

namespace kiv {

struct ProcessEntry {
    std::uint32_t pid;
    std::string exeName;  // executable file name, no directory (UTF-8)
};

struct TopLevelWindow {
    WindowHandle window;
    std::uint32_t pid;  // process that owns the window
    bool hasOwner;
    bool visible;
};

enum class PathStyle { Windows, Posix };

class IViewerPlatform {
public:
    virtual ~IViewerPlatform() = default;
    // All processes in snapshot order; nothing when no snapshot can be taken.
    virtual std::optional<std::vector<ProcessEntry>> SnapshotProcesses() = 0;
    // Top-level windows in Z order, top first.
    virtual std::vector<TopLevelWindow> TopLevelWindows() = 0;
    // Full path of the process's main module; nothing when the process cannot
    // be opened or queried (gone, or not ours).
    virtual std::optional<std::string> ModulePath(std::uint32_t pid) = 0;
    // Asks the program that owns `window` to close (WM_CLOSE / SIGTERM).
    virtual bool AskToClose(WindowHandle window) = 0;
    // Starts the executable at `path` again, without arguments.
    virtual bool Start(const std::string& path) = 0;
    virtual PathStyle Style() const = 0;
};

// Where a process is its own "window" (POSIX), the handle carries the process
// id. ProcessIdFromWindow gives nothing for a handle that carries none: 0, or
// a value beyond the positive range of a process id, which kill() would read as
// "my process group" or "every process".
WindowHandle WindowFromProcessId(std::uint32_t pid);
std::optional<std::uint32_t> ProcessIdFromWindow(WindowHandle window);

// The backend of this operating system (process-wide, stateless).
IViewerPlatform& OsViewerPlatform();

// True when `exeName` names the viewer: upper-cased (ASCII), it begins
// with "KIVVIEW.EXE".
bool IsViewerExeName(const std::string& exeName);

// True when `path` names a file with its full location: on Windows a drive and
// a directory ("C:\dir\kivview.exe"; not "\\server\share\kivview.exe" or
// "kivview.exe"), on POSIX an absolute path ("/opt/kiv/kivview.exe").
bool IsFullViewerPath(const std::string& path, PathStyle style);

// Looks for the running viewer. The last process in snapshot order whose name
// matches is the candidate; the first visible, unowned top-level window of that
// process in Z order is its window. On success `window` and `path` receive the
// window and the full module path. On failure both outputs are left untouched,
// also when the module path is not a full path: nothing unconfirmed is ever
// recorded for a later restart.
bool FindRunningViewer(IViewerPlatform& platform, WindowHandle& window, std::string& path);
bool FindRunningViewer(WindowHandle& window, std::string& path);

}  // namespace kiv
