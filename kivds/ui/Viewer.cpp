#include "kivds/ui/Viewer.h"

#include <cstdint>
#include <string_view>

#include "kivds/platform/AsciiCase.h"

namespace kiv {
namespace {

constexpr char kViewerImageName[] = "KIVVIEW.EXE";

bool IsSeparator(char c, PathStyle style) { return c == '/' || (style == PathStyle::Windows && c == '\\'); }

}  // namespace

bool IsViewerExeName(const std::string& exeName) {
    const std::string_view wanted = kViewerImageName;
    if (exeName.size() < wanted.size()) return false;
    return EqualsIgnoringAsciiCase(std::string_view(exeName).substr(0, wanted.size()), wanted);
}

bool IsFullViewerPath(const std::string& path, PathStyle style) {
    std::size_t start = 0;
    if (style == PathStyle::Windows) {
        // Drive: a letter and a colon, as the path splitter reads it.
        if (path.size() < 2 || path[1] != ':') return false;
        start = 2;
    } else if (path.empty() || path[0] != '/') {
        return false;
    }
    // Directory: everything up to the last separator; it must not be empty and
    // a file name must follow it.
    std::size_t lastSeparator = std::string::npos;
    for (std::size_t i = start; i < path.size(); ++i) {
        if (IsSeparator(path[i], style)) lastSeparator = i;
    }
    return lastSeparator != std::string::npos && lastSeparator + 1 < path.size();
}

WindowHandle WindowFromProcessId(std::uint32_t pid) {
    return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(pid));
}

std::optional<std::uint32_t> ProcessIdFromWindow(WindowHandle window) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(window);
    if (value == 0 || value > 0x7FFFFFFF) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool FindRunningViewer(IViewerPlatform& platform, WindowHandle& window, std::string& path) {
    auto processes = platform.SnapshotProcesses();
    if (!processes) return false;
    std::optional<std::uint32_t> viewerPid;
    for (const ProcessEntry& process : *processes) {
        if (IsViewerExeName(process.exeName)) viewerPid = process.pid;  // the last match wins
    }
    if (!viewerPid) return false;

    for (const TopLevelWindow& candidate : platform.TopLevelWindows()) {
        if (candidate.hasOwner || !candidate.visible || candidate.pid != *viewerPid) continue;
        auto modulePath = platform.ModulePath(*viewerPid);
        if (!modulePath || !IsFullViewerPath(*modulePath, platform.Style())) return false;
        window = candidate.window;
        path = *modulePath;
        return true;
    }
    return false;
}

bool FindRunningViewer(WindowHandle& window, std::string& path) {
    return FindRunningViewer(OsViewerPlatform(), window, path);
}

}  // namespace kiv
