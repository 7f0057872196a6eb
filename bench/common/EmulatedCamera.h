// Shared by the benchmarks of the Linux camera backend: the emulated UVC
// camera (tests/v4l2/emul, libuvcemul.so) preloaded into the benchmark, and a
// window bridge that takes the software preview's pictures as a view would.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "kivds/camera/IWindowBridge.h"
#include "v4l2/emul/UvcEmulApi.h"

namespace kivbench {

// Runs this program again with the emulator preloaded unless it already is
// (KIV_UVCEMUL_LIBRARY is the library's path, set by the build). False: the
// emulator cannot be had.
inline bool PreloadEmulator(char** argv) {
    if (dlsym(RTLD_DEFAULT, "uvcemul_add")) return true;
    if (std::getenv("KIV_BENCH_PRELOADED")) return false;  // preloaded, still missing
    setenv("LD_PRELOAD", KIV_UVCEMUL_LIBRARY, 1);
    setenv("KIV_BENCH_PRELOADED", "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("execv");
    return false;
}

// The emulator's functions the benchmarks use.
struct Emulator {
    decltype(&uvcemul_reset) reset = nullptr;
    decltype(&uvcemul_add) add = nullptr;
    decltype(&uvcemul_frames) frames = nullptr;
    decltype(&uvcemul_jpeg) jpeg = nullptr;
    bool Load() {
        reset = reinterpret_cast<decltype(reset)>(dlsym(RTLD_DEFAULT, "uvcemul_reset"));
        add = reinterpret_cast<decltype(add)>(dlsym(RTLD_DEFAULT, "uvcemul_add"));
        frames = reinterpret_cast<decltype(frames)>(dlsym(RTLD_DEFAULT, "uvcemul_frames"));
        jpeg = reinterpret_cast<decltype(jpeg)>(dlsym(RTLD_DEFAULT, "uvcemul_jpeg"));
        return reset && add && frames && jpeg;
    }
};

// A camera streaming one format at one size, `fps` frames a second.
inline UvcEmulCamera StreamingCamera(std::uint32_t fourcc, std::uint32_t width, std::uint32_t height, int fps) {
    UvcEmulCamera c;
    c.formatCount = 1;
    c.formats[0].fourcc = fourcc;
    c.formats[0].count = 1;
    c.formats[0].width[0] = width;
    c.formats[0].height[0] = height;
    c.currentFourcc = fourcc;
    c.currentWidth = width;
    c.currentHeight = height;
    c.frameIntervalUs = static_cast<std::uint32_t>(1000000 / fps);
    return c;
}

// Takes every picture at once, as a view that keeps up would; counts them.
class TakingBridge : public kiv::IWindowBridge {
public:
    int clientWidth = 405, clientHeight = 226;
    bool GetClientSize(kiv::WindowHandle, int& w, int& h) override {
        w = clientWidth;
        h = clientHeight;
        return true;
    }
    void PostGraphNotify(kiv::WindowHandle) override {}
    void SendFrameArrived(kiv::WindowHandle) override {}
    void PresentPreview(kiv::WindowHandle, std::shared_ptr<const kiv::PreviewPicture> picture) override {
        if (picture) ++pictures;
    }
    std::atomic<std::uint64_t> pictures{0};
};

}  // namespace kivbench
