// Steady-state cost of the native, memory and file transfers of a TWAIN
// manager on the virtual camera, as ratios to memcpy / raw writes of the
// same bytes in the same run.
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/BenchRatio.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/twain/KIVTwainMgr.h"

using namespace twain;
using namespace kivbench;

namespace {

// The application's memory: one warm block reused for every DIB, so the
// figures do not include first touches of fresh pages by the application.
struct AppMemory {
    static std::vector<std::uint8_t>& Block() {
        static std::vector<std::uint8_t> block;
        return block;
    }
    static TW_HANDLE KIV_TWAIN_CALL Allocate(TW_UINT32 size) {
        if (Block().size() < size) Block().assign(size, 1);
        return Block().data();
    }
    static void KIV_TWAIN_CALL Free(TW_HANDLE) {}
    static TW_MEMREF KIV_TWAIN_CALL Lock(TW_HANDLE handle) { return handle; }
    static void KIV_TWAIN_CALL Unlock(TW_HANDLE) {}
    static TW_UINT16 KIV_TWAIN_CALL Dsm(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
        return TWRC_SUCCESS;
    }
};

// A manager opened on a virtual camera of the given size and encoding.
class OpenSource {
public:
    OpenSource(int width, int height, const char* encoding) {
        const std::string sim = std::string("caps=") + encoding + ":" + std::to_string(width) + "x" +
                                std::to_string(height) + ";fps=1000";
        setenv("KIVDS_CAMERA", "sim", 1);
        setenv("KIVDS_SIM", sim.c_str(), 1);
        setenv("KIVDS_UI", "headless", 1);
        manager_.InitIdentity();
        TW_ENTRYPOINT points{};
        points.Size = sizeof points;
        points.DSM_Entry = AppMemory::Dsm;
        points.DSM_MemAllocate = AppMemory::Allocate;
        points.DSM_MemFree = AppMemory::Free;
        points.DSM_MemLock = AppMemory::Lock;
        points.DSM_MemUnlock = AppMemory::Unlock;
        Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
        source_.Id = 1;
        app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        ok_ = Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) == TWRC_SUCCESS;
    }
    ~OpenSource() {
        TW_PENDINGXFERS pending{};
        Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        TW_USERINTERFACE ui{};
        Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
    }
    bool ok() const { return ok_; }

    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return manager_.Dispatch(&app_, dg, dat, msg, data);
    }

    // The camera streams (the memory transfer stops it when there is no
    // dialog), with the digital zoom the user set with the camera's buttons.
    void StartCamera(float zoom) {
        kiv::CKIVUVCControl* camera = kiv::CKIVUVCControl::GetInstance();
        if (!camera) return;
        camera->SetPreviewWindow(nullptr);
        if (zoom > 1.0f)
            if (auto* control = dynamic_cast<kiv::CCameraLogic*>(camera->Camera())) control->SetZoom(zoom);
        if (!running_) camera->Run();
        running_ = true;
        // The first start also draws the virtual camera's pattern (large at 4K).
        std::this_thread::sleep_for(std::chrono::milliseconds(started_ ? 5 : 500));
        started_ = true;
    }
    void Stopped() { running_ = false; }

    // What the capture dialog does when the user captures: state 6.
    void Announce() { manager_.Notify(MSG_XFERREADY, nullptr); }
    void End() {
        TW_PENDINGXFERS pending{};
        Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    }

private:
    kiv::CKIVTwainMgr manager_;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
    bool ok_ = false;
    bool running_ = false;
    bool started_ = false;
};

std::size_t ImageBytes(int width, int height) { return static_cast<std::size_t>((width * 3 + 3) / 4 * 4) * height; }

// What one case measures.
struct Shape {
    int width, height;
    bool mjpeg;  // MJPEG stream: the one-line trim applies
    float zoom;  // digital zoom factor
    bool cold;   // caches flushed before the transfer and before its baseline
};

// Pushes the frame, the image and the application's memory out of the caches
// (writes a buffer larger than the last-level cache).
void FlushCaches() {
    static std::vector<std::uint8_t> junk(std::size_t{96} << 20, 1);
    for (std::size_t i = 0; i < junk.size(); i += 64) junk[i] = static_cast<std::uint8_t>(junk[i] + 1);
    benchmark::ClobberMemory();
}

const char* EncodingName(const Shape& s) { return s.mjpeg ? "mjpeg" : "yuy2"; }

void NativeTransfer(benchmark::State& state, Shape s) {
    OpenSource source(s.width, s.height, EncodingName(s));
    if (!source.ok()) return state.SkipWithError("cannot open the virtual camera");
    source.StartCamera(s.zoom);
    CopyBaseline base(ImageBytes(s.width, s.height));
    Measure(
        state,
        [&] {
            source.Announce();
            if (s.cold) FlushCaches();
        },
        [&] {
            TW_HANDLE dib = nullptr;
            if (source.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib) != TWRC_XFERDONE)
                state.SkipWithError("native transfer failed");
            source.End();
        },
        [&] {
            if (s.cold) FlushCaches();
        },
        [&] { return base.Run(); });
}

void MemoryTransfer(benchmark::State& state, Shape s) {
    OpenSource source(s.width, s.height, EncodingName(s));
    if (!source.ok()) return state.SkipWithError("cannot open the virtual camera");
    CopyBaseline base(ImageBytes(s.width, s.height));
    std::vector<std::uint8_t> strip(65536, 1);
    // The first strip also grabs the still: reported on its own. Without a
    // dialog MSG_ENDXFER stops the camera (a thread join in the virtual
    // camera): it follows the strips and is reported as endxfer_ms.
    double firstTotal = 0, endTotal = 0;
    Measure(
        state,
        [&] {
            source.StartCamera(s.zoom);
            source.Announce();
            if (s.cold) FlushCaches();
        },
        [&] {
            TW_IMAGEMEMXFER xfer{};
            TW_UINT16 rc = TWRC_SUCCESS;
            bool first = true;
            while (rc == TWRC_SUCCESS) {
                xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
                xfer.Memory.Length = static_cast<TW_UINT32>(strip.size());
                xfer.Memory.TheMem = strip.data();
                const auto t0 = Clock::now();
                rc = source.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
                benchmark::ClobberMemory();
                if (first) firstTotal += Seconds(t0, Clock::now());
                first = false;
            }
            if (rc != TWRC_XFERDONE) {
                TW_STATUS status{};
                source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
                state.SkipWithError(
                    ("memory transfer failed, condition " + std::to_string(status.ConditionCode)).c_str());
            }
        },
        [&] {
            const auto t0 = Clock::now();
            source.End();
            source.Stopped();  // without a dialog MSG_ENDXFER stops the camera
            endTotal += Seconds(t0, Clock::now());
            if (s.cold) FlushCaches();
        },
        [&] { return base.Run(); });
    state.counters["first_strip_ms"] = firstTotal / static_cast<double>(state.iterations()) * 1e3;
    state.counters["endxfer_ms"] = endTotal / static_cast<double>(state.iterations()) * 1e3;
}

void FileTransfer(benchmark::State& state, Shape s, bool tiff) {
    OpenSource source(s.width, s.height, EncodingName(s));
    if (!source.ok()) return state.SkipWithError("cannot open the virtual camera");
    source.StartCamera(s.zoom);
    const std::string path = BenchDir() + (tiff ? "/kiv_bench_xfer.tif" : "/kiv_bench_xfer.bmp");
    const std::string raw = BenchDir() + "/kiv_bench_xfer.raw";
    TW_SETUPFILEXFER setup{};
    std::snprintf(setup.FileName, sizeof setup.FileName, "%s", path.c_str());
    setup.Format = tiff ? TWFF_TIFF : TWFF_BMP;
    source.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
    // The raw write moves the bytes the file holds (TIFF rows carry no padding).
    const std::size_t fileBytes = tiff ? static_cast<std::size_t>(s.width) * 3 * s.height
                                       : ImageBytes(s.width, s.height) + 54;
    std::vector<std::uint8_t> bytes(fileBytes, 7);
    Measure(
        state,
        [&] {
            source.Announce();
            if (s.cold) FlushCaches();
        },
        [&] {
            if (source.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr) != TWRC_XFERDONE)
                state.SkipWithError("file transfer failed");
            source.End();
        },
        [&] {
            if (s.cold) FlushCaches();
        },
        [&] {
            const auto t0 = Clock::now();
            RawWrite(raw, bytes.data(), bytes.size());
            return Seconds(t0, Clock::now());
        });
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

std::string Name(const std::string& mechanism, const Shape& s) {
    return mechanism + "/" + EncodingName(s) + "/" + std::to_string(s.width) + "x" + std::to_string(s.height) +
           (s.zoom > 1.0f ? "/zoom2" : "/zoom1") + (s.cold ? "/cold" : "");
}

// Names read as what they measure, e.g. memory/mjpeg/3840x2160/zoom2 or
// file/tiff/yuy2/1920x1080/zoom1/cold; filter with --benchmark_filter.
void RegisterAll() {
    for (bool cold : {false, true})
        for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}, std::pair{3840, 2160}})
            for (bool mjpeg : {false, true})
                for (float zoom : {1.0f, 2.0f}) {
                    const Shape s{w, h, mjpeg, zoom, cold};
                    auto setUp = [](benchmark::internal::Benchmark* b) {
                        b->UseManualTime()->Unit(benchmark::kMillisecond);
                    };
                    setUp(benchmark::RegisterBenchmark(Name("native", s).c_str(), NativeTransfer, s));
                    setUp(benchmark::RegisterBenchmark(Name("memory", s).c_str(), MemoryTransfer, s));
                    setUp(benchmark::RegisterBenchmark(Name("file/bmp", s).c_str(), FileTransfer, s, false));
                    setUp(benchmark::RegisterBenchmark(Name("file/tiff", s).c_str(), FileTransfer, s, true));
                }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
