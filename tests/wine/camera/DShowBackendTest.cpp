// The DirectShow backend under Wine, against the test camera: listing,
// stream capabilities and format changes, the RGB24 frames with their
// stride, the first-frame announcement, device loss, the two "in use" codes
// of Run, extension units, and every COM object released at the end.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/dshow/DirectShowWrapper.h"
#include "kivds/camera/dshow/HResultMap.h"
#include "kivds/camera/sim/SimConfig.h"
#include "support/ScopedEnv.h"
#include "support/SimPattern.h"
#include "wine/camera/TestCameraHost.h"

using kiv::EventPoll;
using kiv::GraphEvent;
using kiv::GraphEventCode;
using kiv::PlatformResult;
using kiv::VideoDevice;
using kiv::VideoFrame;
using kiv::dshow::CDirectShowWrapper;
using kivtest::kModelAPath;
using kivtest::kModelBPath;
using kivtest::TestCameraHost;

namespace {

const char kOtherPath[] =
    "\\\\?\\usb#vid_046d&pid_0825&mi_00#7&11111111&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

// Counts the first-frame announcements.
class CountingBridge final : public kiv::IWindowBridge {
public:
    bool GetClientSize(kiv::WindowHandle, int& w, int& h) override {
        w = 640;
        h = 480;
        return true;
    }
    void PostGraphNotify(kiv::WindowHandle) override { ++posted; }
    void SendFrameArrived(kiv::WindowHandle window) override {
        last = window;
        ++sent;
    }
    std::atomic<int> sent{0};
    std::atomic<int> posted{0};
    std::atomic<kiv::WindowHandle> last{nullptr};
};

// A wrapper taken up to a connected graph on the device at index.
struct Graph {
    explicit Graph(std::size_t index = 0) {
        ok = wrapper.InitializeThread() == PlatformResult::Ok && wrapper.CreateGraph() == PlatformResult::Ok &&
             wrapper.ListDevices(devices) == PlatformResult::Ok && wrapper.BindDevice(index) == PlatformResult::Ok;
    }
    ~Graph() {
        wrapper.DisconnectGraph();
        wrapper.ReleaseGraph();
        wrapper.UninitializeThread();
    }
    // Waits for a buffered frame.
    PlatformResult WaitFrame(VideoFrame& frame, int timeoutMs = 5000) {
        PlatformResult r = PlatformResult::Failed;
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if ((r = wrapper.GetLatestFrame(frame)) == PlatformResult::Ok) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return r;
    }
    CDirectShowWrapper wrapper;
    std::vector<VideoDevice> devices;
    bool ok = false;
};

std::string Device(const char* name, const char* path, const char* rest) {
    return std::string("name=") + name + ";path=" + path + ";" + rest;
}

}  // namespace

TEST(DShowResults, RunInUseCodesAndAnUnconnectablePreviewAreBusy) {
    using kiv::dshow::GraphStep;
    using kiv::dshow::MapHResult;
    EXPECT_EQ(PlatformResult::Busy, MapHResult(GraphStep::Run, 0x800705AAu));
    EXPECT_EQ(PlatformResult::Busy, MapHResult(GraphStep::Run, 0xC00D3704u));
    EXPECT_EQ(PlatformResult::Failed, MapHResult(GraphStep::Run, 0x80004005u));
    EXPECT_EQ(PlatformResult::Ok, MapHResult(GraphStep::Run, 1u));  // S_FALSE: still starting
    EXPECT_EQ(PlatformResult::Busy, MapHResult(GraphStep::RenderPreview, 0x80040217u));
    EXPECT_EQ(PlatformResult::Failed, MapHResult(GraphStep::Other, 0x800705AAu));
}

// The same description lists the test camera through DirectShow and the
// virtual camera through "sim"; an unknown name gives no camera at all.
TEST(DShowChoice, EachChoiceListsItsOwnDevices) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:160x120"));
    ASSERT_TRUE(host.Ready());
    const struct {
        const char* camera;
        PlatformResult listing;
    } cases[] = {{"dshow", PlatformResult::Ok},      {"DShow", PlatformResult::Ok},
                 {"", PlatformResult::Ok},           {"sim", PlatformResult::Ok},
                 {"v4l2", PlatformResult::NotFound}, {"bogus", PlatformResult::NotFound}};
    for (const auto& c : cases) {
        kivtest::ScopedEnv camera("KIVDS_CAMERA", c.camera);
        auto platform = kiv::CreateVideoPlatform();
        ASSERT_NE(nullptr, platform);
        ASSERT_EQ(PlatformResult::Ok, platform->InitializeThread()) << c.camera;
        std::vector<VideoDevice> devices;
        EXPECT_EQ(c.listing, platform->ListDevices(devices)) << c.camera;
        if (c.listing == PlatformResult::Ok) {
            ASSERT_EQ(1u, devices.size()) << c.camera;
            EXPECT_EQ(L"KIVCAMA", devices[0].friendlyName);
        }
        const bool isDirectShow = dynamic_cast<CDirectShowWrapper*>(platform.get()) != nullptr;
        const std::string name = c.camera;
        EXPECT_EQ(name == "dshow" || name == "DShow" || name.empty(), isDirectShow) << c.camera;
        platform->UninitializeThread();
    }
    EXPECT_EQ(0, host.LiveObjects());
}

TEST(DShowService, UnregisteredServiceLeavesTheClientSilent) {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CoUninitialize();
    {
        auto client = kiv::MakeServiceClient();
        ASSERT_NE(nullptr, client);
        EXPECT_FALSE(client->HasInstance());
        client->RegistryDeleteNodeInterfacesKey();
        client->CreateNodeInterfacesKeyForKIVVIEW();
    }
    // The client's apartment was balanced: the thread can still take another one.
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CoUninitialize();
}

TEST(DShowBackend, EmptyCategoryIsNotFound) {
    Graph graph;
    EXPECT_FALSE(graph.ok);
    std::vector<VideoDevice> devices;
    EXPECT_EQ(PlatformResult::NotFound, graph.wrapper.ListDevices(devices));
    EXPECT_TRUE(devices.empty());
}

TEST(DShowBackend, ListsDevicesInOrderAndBindsByIndex) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:320x240") + "|" +
                        Device("ORVAN KIVCAMB", kModelBPath, "caps=yuy2:160x120") + "|" +
                        Device("Other Cam", kOtherPath, "caps=yuy2:160x120"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph(1);
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(3u, graph.devices.size());
        EXPECT_EQ(L"KIVCAMA", graph.devices[0].friendlyName);
        EXPECT_EQ(L"ORVAN KIVCAMB", graph.devices[1].friendlyName);
        EXPECT_EQ(L"Other Cam", graph.devices[2].friendlyName);
        EXPECT_EQ(kiv::sim::WidenUtf8(kModelBPath), graph.devices[1].path);
        for (const VideoDevice& d : graph.devices) EXPECT_TRUE(d.readable);
        // The bound filter is the second device's: its only size is YUY2 160 x 120.
        kiv::StreamCaps caps;
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ReadStreamCaps(caps));
        ASSERT_EQ(1u, caps.entries.size());
        EXPECT_EQ(kiv::MediaSubtypeYUY2, caps.entries[0].subtype);
        EXPECT_EQ(PlatformResult::NotFound, graph.wrapper.BindDevice(3));
    }
    EXPECT_EQ(0, host.LiveObjects());
}

TEST(DShowBackend, ReadsCapabilitiesAndSetsTheMatchingFormat) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:640x480,yuy2:320x240,nv12:160x120;current=640x480"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        kiv::StreamCaps caps;
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ReadStreamCaps(caps));
        EXPECT_TRUE(caps.hasCurrent);
        EXPECT_EQ(640, caps.currentWidth);
        EXPECT_EQ(480, caps.currentHeight);
        ASSERT_EQ(3u, caps.entries.size());
        EXPECT_EQ(kiv::MediaSubtypeMJPG, caps.entries[0].subtype);
        EXPECT_EQ(kiv::MediaSubtypeYUY2, caps.entries[1].subtype);
        EXPECT_EQ(kiv::MediaSubtypeNV12, caps.entries[2].subtype);
        EXPECT_EQ(320, caps.entries[1].width);
        EXPECT_EQ(240, caps.entries[1].height);
        EXPECT_TRUE(caps.entries[1].videoInfo);

        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 320, 240));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ReadStreamCaps(caps));
        EXPECT_EQ(320, caps.currentWidth);
        // No capability of that subtype and size: nothing changes, no failure.
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeMJPG, 320, 240));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ReadStreamCaps(caps));
        EXPECT_EQ(320, caps.currentWidth);
        EXPECT_EQ(240, caps.currentHeight);
    }
    EXPECT_EQ(0, host.LiveObjects());
}

TEST(DShowBackend, StreamsThePatternBottomUpAndAnnouncesTheFirstFrameOnce) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=yuy2:322x260"));
    ASSERT_TRUE(host.Ready());
    CountingBridge bridge;
    kiv::SetWindowBridge(&bridge);
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 322, 260));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        // The YUY2 stream reached the RGB24 grabber through the decoder.
        EXPECT_EQ(1, host.LiveDecoders());
        VideoFrame frame;
        EXPECT_NE(PlatformResult::Ok, graph.wrapper.GetLatestFrame(frame));  // nothing buffered yet
        kiv::WindowHandle dialog = reinterpret_cast<kiv::WindowHandle>(static_cast<std::uintptr_t>(0x1234));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetFrameNotify(dialog));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        ASSERT_EQ(PlatformResult::Ok, graph.WaitFrame(frame));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // several more frames
        EXPECT_EQ(1, bridge.sent.load());
        EXPECT_EQ(dialog, bridge.last.load());

        ASSERT_TRUE(kiv::IsWellFormed(frame));
        EXPECT_EQ(322, frame.width);
        EXPECT_EQ(260, frame.height);
        EXPECT_EQ(968, frame.stride);  // 966 rounded up to a DWORD
        const std::uint8_t* bytes = frame.bytes->data();
        for (int y : {0, 1, 255, 256, 259}) {
            for (int x : {0, 255, 256, 321}) {
                const kivtest::Rgb want = kivtest::SimPixel(x, y);
                const std::uint8_t* px = bytes + (259 - y) * 968 + x * 3;
                EXPECT_EQ(+want.b, px[0]) << x << "," << y;
                EXPECT_EQ(+want.g, px[1]) << x << "," << y;
                EXPECT_EQ(+want.r, px[2]) << x << "," << y;
            }
        }
        kiv::SourceRect rect;
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.GetSourceRect(rect));
        EXPECT_EQ(0, rect.left);
        EXPECT_EQ(0, rect.top);
        EXPECT_EQ(322, rect.width);
        EXPECT_EQ(260, rect.height);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetSourceRect({0, 1, 322, 258}));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.GetSourceRect(rect));
        EXPECT_EQ(1, rect.top);
        EXPECT_EQ(258, rect.height);
        EXPECT_EQ(PlatformResult::Ok, graph.wrapper.Stop());
    }
    kiv::SetWindowBridge(nullptr);
    EXPECT_EQ(0, host.LiveObjects());
}

// A format change rebuilds the graph on the same device: everything the
// builder inserted goes with the partial teardown, and the new connection
// streams the new size with the full frame as source rectangle.
TEST(DShowBackend, PartialTeardownAndRebuildStreamTheNewFormat) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:320x240,yuy2:160x120"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeMJPG, 320, 240));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        VideoFrame frame;
        ASSERT_EQ(PlatformResult::Ok, graph.WaitFrame(frame));
        EXPECT_EQ(320, frame.width);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetSourceRect({0, 1, 320, 238}));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Stop());

        graph.wrapper.DisconnectGraph();
        EXPECT_NE(PlatformResult::Ok, graph.wrapper.GetLatestFrame(frame));
        // The decoder the builder inserted left the graph with the rest.
        EXPECT_EQ(0, host.LiveDecoders());
        std::vector<VideoDevice> devices;
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ListDevices(devices));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.BindDevice(0));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 160, 120));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        ASSERT_EQ(PlatformResult::Ok, graph.WaitFrame(frame));
        EXPECT_EQ(160, frame.width);
        EXPECT_EQ(120, frame.height);
        EXPECT_EQ(480, frame.stride);
        EXPECT_EQ(1, host.LiveDecoders());
        const kivtest::Rgb want = kivtest::SimPixel(159, 0);
        EXPECT_EQ(+want.r, (*frame.bytes)[119 * 480 + 159 * 3 + 2]);
        kiv::SourceRect rect;
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.GetSourceRect(rect));
        EXPECT_EQ(0, rect.top);
        EXPECT_EQ(120, rect.height);
        graph.wrapper.Stop();
    }
    EXPECT_EQ(0, host.LiveObjects());
}

TEST(DShowBackend, UnplugRaisesDeviceLostForTheBoundFilter) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:160x120;lose=5"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        GraphEvent lost;
        bool seen = false;
        for (int i = 0; i < 50 && !seen; ++i) {
            GraphEvent event;
            if (graph.wrapper.GetGraphEvent(event, 100) == EventPoll::Event &&
                event.code == GraphEventCode::DeviceLost) {
                lost = event;
                seen = true;
            }
        }
        ASSERT_TRUE(seen);
        EXPECT_TRUE(lost.removed);
        EXPECT_TRUE(lost.ofBoundDevice);
        GraphEvent none;
        EXPECT_EQ(EventPoll::Empty, graph.wrapper.GetGraphEvent(none, 10));
        graph.wrapper.Stop();
    }
    EXPECT_EQ(0, host.LiveObjects());
}

// A device held by another program lets no stream connect. (Its failure to
// start, the other "in use" signal, is lost by Wine 8's graph; the mapping of
// those two codes is checked in DShowResults.)
TEST(DShowBackend, UnconnectablePreviewIsBusy) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:160x120;fail=connect:busy"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        EXPECT_EQ(PlatformResult::Busy, graph.wrapper.ConnectGraph());
        VideoFrame frame;
        EXPECT_NE(PlatformResult::Ok, graph.wrapper.GetLatestFrame(frame));
    }
    EXPECT_EQ(0, host.LiveObjects());
}

TEST(DShowBackend, ExtensionUnitsAnswerThroughTheirTopologyNode) {
    {
        TestCameraHost host(Device("ORVAN KIVCAMB", kModelBPath, "caps=mjpeg:160x120;xu=b;buttons=02,04"));
        ASSERT_TRUE(host.Ready());
        {
            Graph graph;
            ASSERT_TRUE(graph.ok);
            EXPECT_EQ(PlatformResult::Ok, graph.wrapper.FindExtensionUnit(kiv::kExtensionUnitModelB));
            EXPECT_EQ(PlatformResult::NotFound, graph.wrapper.FindExtensionUnit(kiv::kExtensionUnitModelA));
            std::uint8_t status[2] = {0xEE, 0xEE};
            ASSERT_EQ(PlatformResult::Ok,
                      graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelB, kiv::kModelBStatusSelector, status, 2));
            EXPECT_EQ(0x02, status[0]);
            ASSERT_EQ(PlatformResult::Ok,
                      graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelB, kiv::kModelBStatusSelector, status, 2));
            EXPECT_EQ(0x04, status[0]);
            // A wrong length is refused by the unit.
            EXPECT_EQ(PlatformResult::Failed,
                      graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelB, kiv::kModelBStatusSelector, status, 1));
            // The unit's node was probed for once; a missing unit at each request.
            EXPECT_EQ(2, host.UnitProbes());
            EXPECT_EQ(PlatformResult::NotFound, graph.wrapper.FindExtensionUnit(kiv::kExtensionUnitModelA));
            EXPECT_EQ(3, host.UnitProbes());
            // A filter bound anew is probed anew.
            graph.wrapper.DisconnectGraph();
            ASSERT_EQ(PlatformResult::Ok, graph.wrapper.BindDevice(0));
            ASSERT_EQ(PlatformResult::Ok,
                      graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelB, kiv::kModelBStatusSelector, status, 2));
            EXPECT_EQ(4, host.UnitProbes());
        }
        EXPECT_EQ(0, host.LiveObjects());
    }
    {
        TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:160x120;xu=a;buttons=42"));
        ASSERT_TRUE(host.Ready());
        Graph graph;
        ASSERT_TRUE(graph.ok);
        const std::uint8_t mode[1] = {0x02};
        const std::uint8_t address[2] = {0x84, 0x01};
        std::uint8_t status = 0;
        // The unit keeps model A's order: no read before both writes, no address before the mode.
        EXPECT_EQ(PlatformResult::Failed, graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelA, 2, &status, 1));
        EXPECT_EQ(PlatformResult::Failed, graph.wrapper.ExtensionUnitSet(kiv::kExtensionUnitModelA, 2, address, 2));
        EXPECT_EQ(PlatformResult::Ok, graph.wrapper.ExtensionUnitSet(kiv::kExtensionUnitModelA, 1, mode, 1));
        EXPECT_EQ(PlatformResult::Ok, graph.wrapper.ExtensionUnitSet(kiv::kExtensionUnitModelA, 2, address, 2));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelA, 2, &status, 1));
        EXPECT_EQ(0x42, status);
        // The read used up the selection.
        EXPECT_EQ(PlatformResult::Failed, graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelA, 2, &status, 1));
        EXPECT_EQ(1, host.ButtonReads(0));
    }
    {
        // The description's faults reach the DirectShow unit as well.
        TestCameraHost host(Device("ORVAN KIVCAMB", kModelBPath, "caps=mjpeg:160x120;xu=b;fail=xuget:failed"));
        ASSERT_TRUE(host.Ready());
        Graph graph;
        ASSERT_TRUE(graph.ok);
        std::uint8_t status[2] = {};
        EXPECT_EQ(PlatformResult::Ok, graph.wrapper.FindExtensionUnit(kiv::kExtensionUnitModelB));
        EXPECT_EQ(PlatformResult::Failed,
                  graph.wrapper.ExtensionUnitGet(kiv::kExtensionUnitModelB, kiv::kModelBStatusSelector, status, 2));
        EXPECT_EQ(0, host.ButtonReads(0));
    }
    {
        TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=mjpeg:160x120;xu=none"));
        ASSERT_TRUE(host.Ready());
        Graph graph;
        ASSERT_TRUE(graph.ok);
        EXPECT_EQ(PlatformResult::NotFound, graph.wrapper.FindExtensionUnit(kiv::kExtensionUnitModelA));
    }
}

// The preview is attached and placed from another thread (the dialog's)
// while the thread that built the graph waits without pumping messages, as
// an application inside DS_Entry does: the renderer's window belongs to a
// thread of the backend, which answers.
TEST(DShowBackend, PreviewAnswersAnotherThreadWhileTheGraphsThreadWaits) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=yuy2:160x120"));
    ASSERT_TRUE(host.Ready());
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 160, 120));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        std::atomic<int> attached{-1}, placed{-1}, shown{-1};
        std::atomic<DWORD> previewThread{0};
        const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, done);
        std::thread dialog([&] {
            const HWND owner = CreateWindowExW(0, L"STATIC", L"preview owner", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                                               nullptr, nullptr, nullptr, nullptr);
            const kiv::WindowHandle handle = reinterpret_cast<kiv::WindowHandle>(owner);
            attached = graph.wrapper.AttachPreview(handle) == PlatformResult::Ok;
            placed = graph.wrapper.SetPreviewPosition(0, 30, 320, 180) == PlatformResult::Ok;
            shown = graph.wrapper.ShowPreview(true) == PlatformResult::Ok;
            if (const HWND child = GetWindow(owner, GW_CHILD)) previewThread = GetWindowThreadProcessId(child, nullptr);
            graph.wrapper.AttachPreview(nullptr);
            SetEvent(done);
            DestroyWindow(owner);
        });
        // No message is pumped here while the other thread works.
        const DWORD waited = WaitForSingleObject(done, 60000);
        if (waited != WAIT_OBJECT_0) {
            // Stuck on this thread: serve what it sent here so it can end.
            while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            }
        }
        dialog.join();
        CloseHandle(done);
        ASSERT_EQ(WAIT_OBJECT_0, waited);
        EXPECT_EQ(1, attached.load());
        EXPECT_EQ(1, placed.load());
        EXPECT_EQ(1, shown.load());
        // The renderer's window became the owner's child and is not this thread's.
        EXPECT_NE(0u, previewThread.load());
        EXPECT_NE(GetCurrentThreadId(), previewThread.load());
    }
    EXPECT_EQ(0, host.LiveObjects());
}

// A sample whose size is not the DWORD-aligned RGB24 rows times the height
// would be read sheared: GetLatestFrame refuses it, whether a byte or a
// whole row is missing.
TEST(DShowBackend, SampleOfAnotherRowLayoutIsRefused) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=yuy2:322x260"));
    ASSERT_TRUE(host.Ready());
    CountingBridge bridge;
    kiv::SetWindowBridge(&bridge);
    for (const char* shortBy : {"1", "968"}) {
        SCOPED_TRACE(shortBy);
        kivtest::ScopedEnv shortSamples("KIVTESTCAM_SHORT_SAMPLES", shortBy);
        const int before = bridge.sent.load();
        Graph graph;
        ASSERT_TRUE(graph.ok);
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 322, 260));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
        kiv::WindowHandle dialog = reinterpret_cast<kiv::WindowHandle>(static_cast<std::uintptr_t>(0x1234));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetFrameNotify(dialog));
        ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
        // Frames do arrive; none of them is handed out.
        for (int waited = 0; waited < 10000 && bridge.sent.load() == before; waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_GT(bridge.sent.load(), before);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        VideoFrame frame;
        EXPECT_EQ(PlatformResult::Failed, graph.wrapper.GetLatestFrame(frame));
        EXPECT_EQ(nullptr, frame.bytes);
    }
    kiv::SetWindowBridge(nullptr);
    EXPECT_EQ(0, host.LiveObjects());
}

// Stopping never waits for ever on a streaming thread held downstream. A
// paused renderer keeps the sample it was given until it runs or is flushed,
// and the graph pauses every filter before it stops them; a capture filter
// that joins its thread in Pause (KIVTESTCAM_JOIN_IN_PAUSE=1, and the test
// camera then joins only after one more frame went downstream) waits for the
// renderer unless the backend flushes it meanwhile. A hang here is ended,
// and named, by the test's watchdog.
TEST(DShowBackend, StopReturnsAlsoWhenTheCaptureFilterJoinsItsThreadInPause) {
    for (const char* joinInPause : {"0", "1"}) {
        kivtest::ScopedEnv join("KIVTESTCAM_JOIN_IN_PAUSE", joinInPause);
        for (const char* fps : {"1", "30", "1000"}) {
            SCOPED_TRACE(std::string("join in pause ") + joinInPause + ", fps " + fps);
            TestCameraHost host(Device("KIVCAMA", kModelAPath, (std::string("caps=yuy2:160x120;fps=") + fps).c_str()));
            ASSERT_TRUE(host.Ready());
            {
                Graph graph;
                ASSERT_TRUE(graph.ok);
                ASSERT_EQ(PlatformResult::Ok, graph.wrapper.SetStreamFormat(kiv::MediaSubtypeYUY2, 160, 120));
                ASSERT_EQ(PlatformResult::Ok, graph.wrapper.ConnectGraph());
                for (int round = 0; round < 3; ++round) {
                    ASSERT_EQ(PlatformResult::Ok, graph.wrapper.Run());
                    VideoFrame frame;
                    ASSERT_EQ(PlatformResult::Ok, graph.WaitFrame(frame, 10000));
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    EXPECT_EQ(PlatformResult::Ok, graph.wrapper.Stop());
                }
            }
            EXPECT_EQ(0, host.LiveObjects());
        }
    }
}

// The camera's property pages open in a modal frame that carries the
// caption; a second thread finds the frame by that caption and closes it,
// and the call then returns with everything of the frame released.
TEST(DShowBackend, PropertyFrameShowsTheCaptionAndTheCamerasPage) {
    TestCameraHost host(Device("KIVCAMA", kModelAPath, "caps=yuy2:160x120"));
    ASSERT_TRUE(host.Ready());
    const std::wstring caption = L"Orvan Document Camera";
    const long pagesBefore = host.PagesActivated();
    {
        Graph graph;
        ASSERT_TRUE(graph.ok);
        const HWND owner = CreateWindowExW(0, L"STATIC", L"dialog", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr,
                                           nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, owner);
        const DWORD frameThread = GetCurrentThreadId();
        std::atomic<bool> finished{false};
        std::wstring title;
        std::thread closer([&] {
            struct Search {
                DWORD thread;
                const std::wstring* caption;
                HWND found;
                std::wstring title;
                static BOOL CALLBACK Visit(HWND window, LPARAM data) {
                    auto& s = *reinterpret_cast<Search*>(data);
                    wchar_t text[256] = {};
                    // Reads the title without a message to the frame's thread.
                    InternalGetWindowText(window, text, 256);
                    if (GetWindowThreadProcessId(window, nullptr) != s.thread || !IsWindowVisible(window) ||
                        std::wstring(text).find(*s.caption) == std::wstring::npos)
                        return TRUE;
                    s.found = window;
                    s.title = text;
                    return FALSE;
                }
            } search{frameThread, &caption, nullptr, {}};
            for (int i = 0; i < 1500 && !finished; ++i) {
                EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&search));
                if (search.found) {
                    title = search.title;
                    PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
                    search.found = nullptr;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        const PlatformResult shown = graph.wrapper.ShowPropertyPages(reinterpret_cast<kiv::WindowHandle>(owner),
                                                                     caption);
        finished = true;
        closer.join();
        DestroyWindow(owner);
        EXPECT_EQ(PlatformResult::Ok, shown);
        EXPECT_NE(std::wstring::npos, title.find(caption));
        EXPECT_EQ(pagesBefore + 1, host.PagesActivated());
    }
    EXPECT_EQ(0, host.LiveObjects());
}
