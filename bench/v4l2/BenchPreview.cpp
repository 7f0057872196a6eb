// What the live preview and a capture cost on the V4L2 backend over the
// emulated camera, each as a ratio to its baseline in the same run:
//   preview/<format>/<size>: CPU seconds of the whole process (getrusage,
//     user + system: the emulated device, the streaming thread, the preview's
//     thread) per second of a 30 fps stream shown at 405 x 226, against the
//     same stream with every frame decoded (or converted) at full size, both
//     less the stream's own CPU (measured alongside; gross= keeps it in);
//   capture/mjpeg/<size>: capture press (GrabStill) to the end of a native
//     transfer (the DIB's rows written) while the preview runs, against one
//     full decode of the same payload plus the same rows written.
// --quick runs the 1080p cases for a shorter time.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <linux/videodev2.h>

#include "common/EmulatedCamera.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/convert/FrameConvert.h"
#include "kivds/camera/v4l2/V4l2VideoPlatform.h"
#include "kivds/image/ImageReference.h"

using namespace kiv;
using kiv::v4l2::V4l2VideoPlatform;

namespace {

using Clock = std::chrono::steady_clock;
const WindowHandle kWindow = reinterpret_cast<WindowHandle>(0x4242);

double ProcessCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const char* FormatName(std::uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_MJPEG ? "mjpeg" : "yuyv"; }

// CPU seconds per second while the preview is shown, and while instead every
// payload is converted at full size (what the preview cost before it
// decoded at its own scale), and with the stream only, in alternating thirds.
double PreviewRatio(kivbench::Emulator& emul, std::uint32_t fourcc, std::uint32_t w, std::uint32_t h, double seconds,
                    double& gross) {
    gross = -1;
    emul.reset();
    const UvcEmulCamera camera = kivbench::StreamingCamera(fourcc, w, h, 30);
    emul.add(&camera);
    V4l2VideoPlatform p;
    std::vector<VideoDevice> devices;
    StreamCaps caps;
    const Guid& subtype = fourcc == V4L2_PIX_FMT_MJPEG ? MediaSubtypeMJPG : MediaSubtypeYUY2;
    if (!Ok(p.InitializeThread()) || !Ok(p.CreateGraph()) || !Ok(p.ListDevices(devices)) || !Ok(p.BindDevice(0)) ||
        !Ok(p.ReadStreamCaps(caps)) ||
        !Ok(p.SetStreamFormat(subtype, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h))) ||
        !Ok(p.ConnectGraph()) || !Ok(p.AttachPreview(kWindow)) || !Ok(p.SetPreviewPosition(0, 0, 405, 226)) ||
        !Ok(p.Run()))
        return -1;
    // The same poller runs in both phases; it converts only in the full one.
    auto phase = [&](bool preview, double length, bool convert = true) {
        p.ShowPreview(preview);
        std::uint64_t seen = p.PayloadsReceived();
        const double c0 = ProcessCpu();
        const auto t0 = Clock::now();
        while (Since(t0) < length) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::uint64_t now = p.PayloadsReceived();
            if (now == seen) continue;
            seen = now;
            VideoFrame frame;
            if (!preview && convert) p.GetLatestFrame(frame);
        }
        return (ProcessCpu() - c0) / Since(t0);
    };
    phase(true, 0.5);  // the stream and the preview's thread warm up
    double shown = 0, full = 0, stream = 0;
    for (int third = 0; third < 2; ++third) {
        shown += phase(true, seconds / 6);
        full += phase(false, seconds / 6);
        stream += phase(false, seconds / 6, false);
    }
    gross = full > 0 ? shown / full : -1;
    if (std::getenv("KIV_BENCH_VERBOSE"))
        std::fprintf(stderr, "  cpu/s shown %.3f full %.3f stream only %.3f\n", shown / 2, full / 2, stream / 2);
    p.Stop();
    p.DisconnectGraph();
    p.ReleaseGraph();
    p.UninitializeThread();
    // The emulated device polls in 200 us steps where a driver sleeps in the
    // kernel: its floor, measured alongside, is taken off both.
    return full > stream ? std::max(0.0, shown - stream) / (full - stream) : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Capture press to the end of a native transfer, against a full decode of
// the same payload plus writing the same rows.
double CaptureRatio(kivbench::Emulator& emul, kivbench::TakingBridge& bridge, std::uint32_t w, std::uint32_t h,
                    int captures) {
    emul.reset();
    UvcEmulCamera spec = kivbench::StreamingCamera(V4L2_PIX_FMT_MJPEG, w, h, 30);
    spec.unit = 2;
    emul.add(&spec);
    bridge.clientWidth = 405;
    bridge.clientHeight = 226;
    CCameraLogic camera(std::make_unique<V4l2VideoPlatform>());
    if (camera.Open() != 1 || camera.SetPreviewWindow(kWindow) != 1 || camera.Run() != 1) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<std::uint8_t> jpeg(std::size_t{16} << 20);
    convert::MjpegDecoder decoder;
    std::vector<std::uint8_t> decoded, dib;
    std::vector<double> capture, baseline;
    for (int i = 0; i < captures; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(45));  // a new payload arrives
        std::unique_ptr<CImageReference> still;
        const auto t0 = Clock::now();
        if (camera.GrabStill(still) != 1) return -1;
        dib.resize(still->Size());
        still->CopyAll(still->Size(), dib.data());
        capture.push_back(Since(t0));

        const std::size_t n = emul.jpeg(0, jpeg.data(), jpeg.size());
        std::int32_t dw = 0, dh = 0, stride = 0;
        const auto t1 = Clock::now();
        decoder.Decode(jpeg.data(), n, decoded, dw, dh, stride);
        const double decode = Since(t1);
        const auto t2 = Clock::now();
        still->CopyAll(still->Size(), dib.data());
        baseline.push_back(decode + Since(t2));
    }
    camera.Stop();
    camera.Close();
    const double base = Median(baseline);
    return base > 0 ? Median(capture) / base : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!kivbench::PreloadEmulator(argv)) {
        std::fprintf(stderr, "the emulated camera (libuvcemul.so) cannot be preloaded\n");
        return 1;
    }
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    setenv("KIVDS_CAMERA", "v4l2", 1);
    kivbench::Emulator emul;
    if (!emul.Load()) return 1;
    kivbench::TakingBridge bridge;
    SetWindowBridge(&bridge);
    struct Case {
        std::uint32_t fourcc, w, h;
        double target;
    };
    std::vector<Case> cases = {{V4L2_PIX_FMT_MJPEG, 1920, 1080, 0.35}, {V4L2_PIX_FMT_YUYV, 1920, 1080, 0.35}};
    cases.push_back({V4L2_PIX_FMT_MJPEG, 3840, 2160, 0.25});
    const double seconds = quick ? 6.0 : 12.0;
    int failures = 0;
    for (const Case& c : cases) {
        double gross = 0;
        const double ratio = PreviewRatio(emul, c.fourcc, c.w, c.h, seconds, gross);
        std::printf("preview/%s/%ux%u cpu_ratio=%.3f gross=%.3f target=%.2f\n", FormatName(c.fourcc), c.w, c.h, ratio,
                    gross, c.target);
        if (ratio < 0) ++failures;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {{1920, 1080}};
    if (!quick) sizes.push_back({3840, 2160});
    for (auto [w, h] : sizes) {
        const double ratio = CaptureRatio(emul, bridge, w, h, quick ? 9 : 21);
        std::printf("capture/mjpeg/%ux%u ratio=%.3f target=1.20\n", w, h, ratio);
        if (ratio < 0) ++failures;
    }
    SetWindowBridge(nullptr);
    emul.reset();
    return failures ? 1 : 0;
}
