// A scan through the SANE backend against a raw write of the same bytes:
// sane_start (the camera already streaming, no settle time) and every
// sane_read of a 1920x1080 RGB still in 64 KiB reads, from the virtual
// camera, as a ratio to writing the 6 MB of the image to a file. Target:
// ratio <= 1.3.
//   bench_sane --benchmark_min_time=0.5
#include <dlfcn.h>
#include <sane/sane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/BenchRatio.h"

using namespace kivbench;

namespace {

struct Backend {
    Backend() {
        library = dlopen(KIV_SANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        init = reinterpret_cast<decltype(init)>(dlsym(library, "sane_kiv_init"));
        exit = reinterpret_cast<decltype(exit)>(dlsym(library, "sane_kiv_exit"));
        open = reinterpret_cast<decltype(open)>(dlsym(library, "sane_kiv_open"));
        close = reinterpret_cast<decltype(close)>(dlsym(library, "sane_kiv_close"));
        descriptor = reinterpret_cast<decltype(descriptor)>(dlsym(library, "sane_kiv_get_option_descriptor"));
        control = reinterpret_cast<decltype(control)>(dlsym(library, "sane_kiv_control_option"));
        start = reinterpret_cast<decltype(start)>(dlsym(library, "sane_kiv_start"));
        read = reinterpret_cast<decltype(read)>(dlsym(library, "sane_kiv_read"));
        cancel = reinterpret_cast<decltype(cancel)>(dlsym(library, "sane_kiv_cancel"));
    }
    bool Set(SANE_Handle h, const char* name, void* value) {
        for (SANE_Int i = 1; const SANE_Option_Descriptor* d = descriptor(h, i); ++i)
            if (d->name && std::strcmp(d->name, name) == 0)
                return control(h, i, SANE_ACTION_SET_VALUE, value, nullptr) == SANE_STATUS_GOOD;
        return false;
    }

    void* library = nullptr;
    SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback) = nullptr;
    void (*exit)() = nullptr;
    SANE_Status (*open)(SANE_String_Const, SANE_Handle*) = nullptr;
    void (*close)(SANE_Handle) = nullptr;
    const SANE_Option_Descriptor* (*descriptor)(SANE_Handle, SANE_Int) = nullptr;
    SANE_Status (*control)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) = nullptr;
    SANE_Status (*start)(SANE_Handle) = nullptr;
    SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*) = nullptr;
    void (*cancel)(SANE_Handle) = nullptr;
};

void ScanAgainstRawWrite(benchmark::State& state, const char* encoding) {
    setenv("KIVDS_CAMERA", "sim", 1);
    setenv("KIVDS_SIM", (std::string("caps=") + encoding + ":1920x1080;fps=1000").c_str(), 1);
    static Backend sane;
    SANE_Handle h = nullptr;
    if (!sane.library || sane.init(nullptr, nullptr) != SANE_STATUS_GOOD || sane.open("", &h) != SANE_STATUS_GOOD) {
        state.SkipWithError("the backend does not open");
        return;
    }
    SANE_Word settle = 0, keep = 3600;
    sane.Set(h, "settle-time", &settle);
    sane.Set(h, "keep-streaming", &keep);
    const std::size_t bytes = 1920u * 1080 * 3;
    std::vector<std::uint8_t> image(bytes, 1), buffer(64 * 1024, 2);
    const std::string path = BenchDir() + "/kivsane-bench.raw";
    bool ok = true;
    Measure(
        state,
        [&] {
            std::size_t got = 0;
            ok = ok && sane.start(h) == SANE_STATUS_GOOD;
            for (SANE_Int n = 0; ok && sane.read(h, buffer.data(), static_cast<SANE_Int>(buffer.size()), &n) ==
                                           SANE_STATUS_GOOD;)
                got += static_cast<std::size_t>(n);
            sane.cancel(h);
            ok = ok && got == bytes;
            benchmark::ClobberMemory();
        },
        [&] {
            const auto t0 = Clock::now();
            ok = RawWrite(path, image.data(), image.size()) && ok;
            return Seconds(t0, Clock::now());
        });
    if (!ok) state.SkipWithError("a scan or the raw write failed");
    std::remove(path.c_str());
    sane.close(h);
    sane.exit();
}

void BM_SaneScanYuy2(benchmark::State& state) { ScanAgainstRawWrite(state, "yuy2"); }
void BM_SaneScanMjpegTrimmed(benchmark::State& state) { ScanAgainstRawWrite(state, "mjpeg"); }

}  // namespace

BENCHMARK(BM_SaneScanYuy2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaneScanMjpegTrimmed)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
