// The zoom buttons: the model dispatch, the extension-unit requests of models
// A and B, the auto-repeat with its zoom clamps, the registration service
// asked once per Run, and the same on the virtual camera down to the pixels
// of a still.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/image/ImageReference.h"
#include "support/SimPattern.h"
#include "unit/camera/FakeVideoPlatform.h"

namespace kiv {
namespace {

const std::wstring kPath = L"\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{guid}\\global";

// A platform whose extension units answer from a script and record every request.
class XuPlatform : public test::FakeVideoPlatform {
public:
    bool hasA = false;
    bool hasB = false;
    PlatformResult missingResult = PlatformResult::NotFound;  // FindExtensionUnit of an absent unit
    std::vector<std::uint8_t> answers;                        // GET answers, the last repeating
    void Answer(std::vector<std::uint8_t> bytes) {
        answers = std::move(bytes);
        next = 0;
    }
    std::map<std::pair<bool, std::uint32_t>, PlatformResult> failing;  // (is GET, selector)

    struct Request {
        Guid unit;
        std::uint32_t selector;
        bool get;
        std::vector<std::uint8_t> data;  // SET: the bytes written; GET: the buffer as handed in
    };
    std::vector<Request> requests;

    PlatformResult FindExtensionUnit(const Guid& unit) override {
        const PlatformResult r = FakeVideoPlatform::FindExtensionUnit(unit);
        if (r != PlatformResult::Ok) return r;
        const bool present = (unit == kExtensionUnitModelA && hasA) || (unit == kExtensionUnitModelB && hasB);
        return present ? PlatformResult::Ok : missingResult;
    }
    PlatformResult ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                    std::size_t length) override {
        FakeVideoPlatform::ExtensionUnitGet(unit, selector, data, length);
        requests.push_back({unit, selector, true, std::vector<std::uint8_t>(data, data + length)});
        const auto it = failing.find({true, selector});
        if (it != failing.end()) return it->second;
        if (!answers.empty()) {
            data[0] = answers[std::min(next, answers.size() - 1)];
            ++next;
        }
        for (std::size_t i = 1; i < length; ++i) data[i] = 0x5A;  // only the low byte is the status
        return PlatformResult::Ok;
    }
    PlatformResult ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                    std::size_t length) override {
        FakeVideoPlatform::ExtensionUnitSet(unit, selector, data, length);
        requests.push_back({unit, selector, false, std::vector<std::uint8_t>(data, data + length)});
        const auto it = failing.find({false, selector});
        return it == failing.end() ? PlatformResult::Ok : it->second;
    }

private:
    std::size_t next = 0;
};

// The registration service as a counting fake.
struct ServiceLog {
    int clients = 0;
    int deletes = 0;
    bool instance = true;
};

class CountingClient : public IKIVSVCClient {
public:
    explicit CountingClient(ServiceLog& log) : m_log(log) { ++m_log.clients; }
    bool HasInstance() const override { return m_log.instance; }
    void RegistryDeleteNodeInterfacesKey() override { ++m_log.deletes; }
    void CreateNodeInterfacesKeyForKIVVIEW() override { ADD_FAILURE() << "the camera never re-creates the key"; }

private:
    ServiceLog& m_log;
};

class ScopedService {
public:
    explicit ScopedService(ServiceLog& log) {
        SetServiceClientFactory([&log] { return std::make_unique<CountingClient>(log); });
    }
    ~ScopedService() { SetServiceClientFactory({}); }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;
};

bool SameRect(const SourceRect& a, const SourceRect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

class ButtonsTest : public ::testing::Test {
protected:
    // A camera of that model streaming YUY2 1920x1080 (no trim), opened and running.
    void Start(const std::wstring& model) {
        auto platform = std::make_unique<XuPlatform>();
        fake = platform.get();
        fake->devices = {{kPath, model, true}};
        fake->caps.hasCurrent = true;
        fake->caps.currentWidth = 1920;
        fake->caps.currentHeight = 1080;
        StreamCapability yuy2;
        yuy2.subtype = MediaSubtypeYUY2;
        yuy2.width = 1920;
        yuy2.height = 1080;
        fake->caps.entries = {yuy2};
        camera = std::make_unique<CCameraLogic>(std::move(platform));
        ASSERT_EQ(camera->Open(), 1);
        ASSERT_EQ(camera->Run(), 1);
        fake->requests.clear();
        fake->calls.clear();
        fake->sourceSets.clear();
    }

    CameraButtonState Poll(int expectedResult = 1) {
        CameraButtonState state;
        EXPECT_EQ(camera->PollButtons(&state), expectedResult);
        return state;
    }

    ServiceLog service;
    ScopedService scopedService{service};
    XuPlatform* fake = nullptr;  // owned by camera
    std::unique_ptr<CCameraLogic> camera;
};

// -- model B and the auto-repeat -------------------------------------------------------------

TEST_F(ButtonsTest, HeldZoomInStepsAtTheFirstFourthAndFifthPoll) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->Answer({0x02});
    const std::size_t stepsAfterPoll[] = {1, 1, 1, 2, 3};
    const float zoomAfterPoll[] = {1.25f, 1.25f, 1.25f, 1.5f, 1.75f};
    for (int poll = 0; poll < 5; ++poll) {
        const CameraButtonState state = Poll();
        EXPECT_EQ(state.status, 0x02);
        EXPECT_EQ(state.zoomIn, 1);
        EXPECT_EQ(state.zoomOut, 0);
        EXPECT_EQ(fake->sourceSets.size(), stepsAfterPoll[poll]) << "poll " << poll + 1;
        EXPECT_FLOAT_EQ(camera->ZoomFactor(), zoomAfterPoll[poll]) << "poll " << poll + 1;
    }
    ASSERT_EQ(fake->sourceSets.size(), 3u);
    EXPECT_TRUE(SameRect(fake->sourceSets[0], SourceRect{192, 108, 1536, 864}));
    EXPECT_TRUE(SameRect(fake->sourceSets[1], SourceRect{320, 180, 1280, 720}));
    EXPECT_TRUE(SameRect(fake->sourceSets[2], SourceRect{411, 231, 1097, 617}));

    // Every poll sent the one GET of selector 10 into a cleared 2-byte buffer.
    ASSERT_EQ(fake->requests.size(), 5u);
    for (const auto& r : fake->requests) {
        EXPECT_TRUE(r.get);
        EXPECT_EQ(r.unit, kExtensionUnitModelB);
        EXPECT_EQ(r.selector, 10u);
        EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0, 0}));
    }
}

TEST_F(ButtonsTest, ReleasingAndPressingAgainStepsAtOnceAndRunResetsTheZoom) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->Answer({0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00});
    Poll();  // 1.25
    Poll();  // released: nothing
    Poll();  // pressed again: a step at once
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.5f);
    for (int i = 0; i < 4; ++i) Poll();  // resting buttons never act
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.5f);
    EXPECT_EQ(fake->sourceSets.size(), 2u);

    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Run(), 1);
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.0f);
}

TEST_F(ButtonsTest, ZoomStopsAtOneAndEightWithoutApplyingAnything) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->Answer({0x04});  // zoom-out at 1.0
    for (int i = 0; i < 6; ++i) Poll();
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.0f);
    EXPECT_TRUE(fake->sourceSets.empty());

    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Run(), 1);
    fake->Answer({0x02});
    for (int i = 0; i < 40 && camera->ZoomFactor() < 8.0f; ++i) Poll();
    ASSERT_FLOAT_EQ(camera->ZoomFactor(), 8.0f);
    ASSERT_FALSE(fake->sourceSets.empty());
    EXPECT_TRUE(SameRect(fake->sourceSets.back(), SourceRect{840, 472, 240, 135}));
    const std::size_t sets = fake->sourceSets.size();
    for (int i = 0; i < 5; ++i) Poll();
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 8.0f);
    EXPECT_EQ(fake->sourceSets.size(), sets);
}

TEST_F(ButtonsTest, BothZoomButtonsZoomOut) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->Answer({0x06});  // at 1.0: zoom-in must not act instead
    for (int i = 0; i < 5; ++i) Poll();
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.0f);
    EXPECT_TRUE(fake->sourceSets.empty());

    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Run(), 1);
    fake->Answer({0x02, 0x02, 0x02, 0x02, 0x0E});  // to 1.5, then both (and the third button)
    for (int i = 0; i < 4; ++i) Poll();
    ASSERT_FLOAT_EQ(camera->ZoomFactor(), 1.5f);
    const CameraButtonState state = Poll();
    EXPECT_EQ(state.zoomIn, 1);
    EXPECT_EQ(state.zoomOut, 1);
    EXPECT_EQ(state.thirdButton, 1);
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.25f);
}

TEST_F(ButtonsTest, AFailedStatusReadStillCountsAsReadButReportsNothing) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->failing[{true, 10}] = PlatformResult::Failed;
    const CameraButtonState state = Poll(1);
    EXPECT_EQ(state.status, 0xFF);
    EXPECT_EQ(state.zoomIn + state.zoomOut + state.thirdButton + state.unitMissing, 0);
    EXPECT_TRUE(fake->sourceSets.empty());

    fake->hasB = false;  // no unit: nothing read
    Poll(0);
}

TEST_F(ButtonsTest, AZoomStepLeavesTheLastCameraErrorAlone) {
    Start(L"ORVAN KIVCAMB");
    fake->hasB = true;
    fake->Answer({0x02});
    LastCameraError = CAMERA_ERR_BUSY;
    Poll();
    EXPECT_EQ(fake->sourceSets.size(), 1u);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_BUSY);
}

// -- model A ---------------------------------------------------------------------------------

TEST_F(ButtonsTest, ModelAWritesModeAndAddressThenReadsItsActiveLowStatus) {
    Start(L"KIVCAMA");
    fake->hasA = true;
    fake->Answer({0x42, 0x40, 0x02, 0x01, 0x00});
    struct Expected {
        int zoomIn, zoomOut, third;
    } expected[] = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 1}, {1, 1, 0}};
    for (int i = 0; i < 5; ++i) {
        fake->requests.clear();
        const CameraButtonState state = Poll();
        EXPECT_EQ(state.status, fake->answers[static_cast<std::size_t>(i)]);
        EXPECT_EQ(state.zoomIn, expected[i].zoomIn) << i;
        EXPECT_EQ(state.zoomOut, expected[i].zoomOut) << i;
        EXPECT_EQ(state.thirdButton, expected[i].third) << i;
        EXPECT_EQ(state.unitMissing, 0);
        ASSERT_EQ(fake->requests.size(), 3u);
        EXPECT_FALSE(fake->requests[0].get);
        EXPECT_EQ(fake->requests[0].selector, 1u);
        EXPECT_EQ(fake->requests[0].data, (std::vector<std::uint8_t>{0x02}));
        EXPECT_FALSE(fake->requests[1].get);
        EXPECT_EQ(fake->requests[1].selector, 2u);
        EXPECT_EQ(fake->requests[1].data, (std::vector<std::uint8_t>{0x84, 0x01}));
        EXPECT_TRUE(fake->requests[2].get);
        EXPECT_EQ(fake->requests[2].selector, 2u);
        EXPECT_EQ(fake->requests[2].data, (std::vector<std::uint8_t>{0x00}));
        for (const auto& r : fake->requests) EXPECT_EQ(r.unit, kExtensionUnitModelA);
    }
    EXPECT_EQ(fake->CallCount("OpenDevicePath"), 5);
    // 0x40 (zoom-out) at 1.0 did nothing, 0x02 (zoom-in) stepped in, 0x01 (both
    // zoom bits clear) stepped back out, and 0x00 at 1.0 did nothing.
    EXPECT_FLOAT_EQ(camera->ZoomFactor(), 1.0f);
    EXPECT_EQ(fake->sourceSets.size(), 2u);
}

TEST_F(ButtonsTest, ModelARequestsStopAtTheFirstFailure) {
    Start(L"KIVCAMA");
    fake->hasA = true;
    fake->Answer({0x02});
    for (const auto& failure : {std::make_pair(false, 1u), std::make_pair(false, 2u), std::make_pair(true, 2u)}) {
        fake->failing = {{failure, PlatformResult::Failed}};
        fake->requests.clear();
        const CameraButtonState state = Poll(1);
        EXPECT_EQ(state.status, 0xFF);
        EXPECT_EQ(state.zoomIn, 0);
        const std::size_t sent = failure.first ? 3u : failure.second;
        EXPECT_EQ(fake->requests.size(), sent);
    }
    EXPECT_TRUE(fake->sourceSets.empty());
}

TEST_F(ButtonsTest, UnpluggedModelAReadsNothingAndLeavesTheTopologyAlone) {
    Start(L"KIVCAMA");
    fake->hasA = true;
    fake->results["OpenDevicePath"] = PlatformResult::NotFound;
    const CameraButtonState state = Poll(0);
    EXPECT_EQ(state.status, 0xFF);
    EXPECT_EQ(state.unitMissing, 0);
    EXPECT_EQ(fake->CallCount("FindExtensionUnit"), 0);
    EXPECT_TRUE(fake->requests.empty());
    EXPECT_EQ(service.clients, 0);
}

TEST_F(ButtonsTest, MissingUnitAsksTheServiceOncePerRun) {
    Start(L"KIVCAMA");  // no unit
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Poll(0).unitMissing, 1);
    EXPECT_EQ(service.clients, 1);
    EXPECT_EQ(service.deletes, 1);
    EXPECT_TRUE(fake->requests.empty());

    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Run(), 1);
    Poll(0);
    Poll(0);
    EXPECT_EQ(service.deletes, 2);

    // An unregistered service: asked all the same, nothing called, nothing reported.
    service.instance = false;
    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Run(), 1);
    Poll(0);
    Poll(0);
    EXPECT_EQ(service.clients, 3);
    EXPECT_EQ(service.deletes, 2);
    EXPECT_EQ(LastCameraError, 0);
}

TEST_F(ButtonsTest, ATopologyThatCannotBeAskedIsNoMissingUnit) {
    Start(L"KIVCAMA");
    fake->missingResult = PlatformResult::Failed;
    EXPECT_EQ(Poll(0).unitMissing, 0);
    EXPECT_EQ(service.clients, 0);
}

// -- the model dispatch ----------------------------------------------------------------------

TEST_F(ButtonsTest, EitherModelTriesBFirstAndAOnlyWithoutBsUnit) {
    Start(L"USB Video Device");  // normalised to "KIVCAMAorB"
    fake->hasA = true;
    fake->hasB = true;
    fake->Answer({0x00});
    for (int i = 0; i < 3; ++i) Poll();
    for (const auto& r : fake->requests) EXPECT_EQ(r.unit, kExtensionUnitModelB);
    EXPECT_EQ(fake->requests.size(), 3u);
    EXPECT_EQ(fake->CallCount("OpenDevicePath"), 0);

    fake->hasB = false;
    fake->requests.clear();
    fake->Answer({0x40});  // model A's zoom-out
    const CameraButtonState state = Poll();
    EXPECT_EQ(state.zoomOut, 1);
    ASSERT_EQ(fake->requests.size(), 3u);
    EXPECT_EQ(fake->requests.back().unit, kExtensionUnitModelA);
}

TEST_F(ButtonsTest, ModelsWithoutButtonsReadNothing) {
    for (const wchar_t* model : {L"ORVAN KIVCAMC", L"Some Camera"}) {
        // Model C outside the normalised family keeps its name.
        auto platform = std::make_unique<XuPlatform>();
        XuPlatform& xu = *platform;
        xu.devices = {{L"\\\\?\\usb#vid_1a3c&pid_0c00&mi_00#x", model, true}};
        xu.hasA = xu.hasB = true;
        CCameraLogic other(std::move(platform));
        ASSERT_EQ(other.Open(), 1);
        CameraButtonState state;
        state.status = 0x12;
        state.zoomIn = 1;
        EXPECT_EQ(other.PollButtons(&state), 0);
        EXPECT_EQ(state.status, 0xFF);
        EXPECT_EQ(state.zoomIn + state.zoomOut + state.thirdButton + state.unitMissing, 0);
        EXPECT_EQ(xu.CallCount("FindExtensionUnit"), 0);
        EXPECT_EQ(xu.CallCount("OpenDevicePath"), 0);
    }
}

TEST_F(ButtonsTest, ModelNamesMatchIgnoringCaseAndANullRecordFails) {
    Start(L"orvan kivcamb");
    fake->hasB = true;
    fake->Answer({0x08});
    EXPECT_EQ(Poll().thirdButton, 1);
    EXPECT_EQ(camera->PollButtons(nullptr), 0);

    CCameraLogic unopened(std::make_unique<XuPlatform>());
    CameraButtonState state;
    EXPECT_EQ(unopened.PollButtons(&state), 0);
}

// -- on the virtual camera -------------------------------------------------------------------

class SimButtonsTest : public ::testing::Test {
protected:
    CCameraLogic& Make(const std::string& spec) {
        sim::SimConfig config;
        std::string error;
        EXPECT_TRUE(sim::ParseSimConfig(spec, config, error)) << error;
        auto platform = std::make_unique<sim::SimVideoPlatform>(config);
        sim_ = platform.get();
        camera_ = std::make_unique<CCameraLogic>(std::move(platform));
        LastCameraError = 0;
        return *camera_;
    }

    ServiceLog service;
    ScopedService scopedService{service};
    sim::SimVideoPlatform* sim_ = nullptr;
    std::unique_ptr<CCameraLogic> camera_;
};

TEST_F(SimButtonsTest, HeldZoomInShowsInTheStill) {
    CCameraLogic& camera = Make("name=ORVAN KIVCAMB;caps=yuy2:320x240;buttons=00,02;fps=200");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(camera.Run(), 1);
    CameraButtonState state;
    ASSERT_EQ(camera.PollButtons(&state), 1);
    EXPECT_EQ(state.status, 0x00);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(camera.PollButtons(&state), 1);
    ASSERT_FLOAT_EQ(camera.ZoomFactor(), 1.75f);
    const SourceRect zoom = sim_->Source();  // 320 / 1.75 = 182, 240 / 1.75 = 137, centred
    ASSERT_TRUE(SameRect(zoom, SourceRect{69, 51, 182, 137}));

    ASSERT_TRUE(sim_->WaitForFrames(1, 5000));
    std::unique_ptr<CImageReference> image;
    ASSERT_EQ(camera.GrabStill(image), 1);
    ASSERT_EQ(image->Width(), 320);
    ASSERT_EQ(image->Height(), 240);
    for (int y : {0, 1, 100, 239}) {
        const std::uint8_t* row = image->Data() + static_cast<std::size_t>(239 - y) * image->BytesPerLine();
        for (int x : {0, 7, 160, 319}) {
            const kivtest::Rgb want = kivtest::SimPixel(69 + x * 182 / 320, 51 + y * 137 / 240);
            EXPECT_EQ(row[x * 3 + 2], want.r) << x << "," << y;
            EXPECT_EQ(row[x * 3 + 1], want.g) << x << "," << y;
            EXPECT_EQ(row[x * 3 + 0], want.b) << x << "," << y;
        }
    }
}

TEST_F(SimButtonsTest, ModelAReadsItsScriptThroughTheRegisterProtocol) {
    CCameraLogic& camera = Make("name=KIVCAMA;caps=yuy2:64x48;buttons=42,40,02");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.Run(), 1);
    std::vector<std::uint8_t> seen;
    for (int i = 0; i < 4; ++i) {
        CameraButtonState state;
        ASSERT_EQ(camera.PollButtons(&state), 1);
        seen.push_back(state.status);
    }
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{0x42, 0x40, 0x02, 0x02}));
    EXPECT_FLOAT_EQ(camera.ZoomFactor(), 1.25f);
    EXPECT_EQ(service.clients, 0);
}

TEST_F(SimButtonsTest, ModelARefusesRequestsOutOfOrder) {
    Make("name=KIVCAMA;buttons=40");
    ASSERT_EQ(camera_->Open(), 1);
    sim::SimVideoPlatform& sim = *sim_;
    const std::uint8_t mode[] = {0x02}, address[] = {0x84, 0x01}, wrongMode[] = {0x03};
    std::uint8_t status = 0xEE;
    // A read without the two writes, and the address before the mode, are stalled.
    EXPECT_EQ(sim.ExtensionUnitGet(kExtensionUnitModelA, 2, &status, 1), PlatformResult::Failed);
    EXPECT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 2, address, 2), PlatformResult::Failed);
    EXPECT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 1, wrongMode, 1), PlatformResult::Failed);
    EXPECT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 2, address, 2), PlatformResult::Failed);
    // In order: one read.
    ASSERT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 1, mode, 1), PlatformResult::Ok);
    ASSERT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 2, address, 2), PlatformResult::Ok);
    std::uint8_t two[2] = {};
    EXPECT_EQ(sim.ExtensionUnitGet(kExtensionUnitModelA, 2, two, 2), PlatformResult::Failed);  // wrong length
    ASSERT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 1, mode, 1), PlatformResult::Ok);
    ASSERT_EQ(sim.ExtensionUnitSet(kExtensionUnitModelA, 2, address, 2), PlatformResult::Ok);
    ASSERT_EQ(sim.ExtensionUnitGet(kExtensionUnitModelA, 2, &status, 1), PlatformResult::Ok);
    EXPECT_EQ(status, 0x40);
    EXPECT_EQ(sim.ExtensionUnitGet(kExtensionUnitModelA, 2, &status, 1), PlatformResult::Failed);  // consumed
    // Model B's unit is not there; model B's status selector is not model A's.
    EXPECT_EQ(sim.ExtensionUnitGet(kExtensionUnitModelB, 10, two, 2), PlatformResult::NotFound);
}

TEST_F(SimButtonsTest, ModelBAnswersOnlyItsStatusRead) {
    Make("name=ORVAN KIVCAMB;buttons=04");
    ASSERT_EQ(camera_->Open(), 1);
    const std::uint8_t byte[] = {0x02};
    std::uint8_t one = 0, two[2] = {};
    EXPECT_EQ(sim_->ExtensionUnitSet(kExtensionUnitModelB, 10, byte, 1), PlatformResult::Failed);
    EXPECT_EQ(sim_->ExtensionUnitGet(kExtensionUnitModelB, 10, &one, 1), PlatformResult::Failed);
    EXPECT_EQ(sim_->ExtensionUnitGet(kExtensionUnitModelB, 2, two, 2), PlatformResult::Failed);
    ASSERT_EQ(sim_->ExtensionUnitGet(kExtensionUnitModelB, 10, two, 2), PlatformResult::Ok);
    EXPECT_EQ(two[0], 0x04);  // the stalled reads did not use up the script
}

TEST_F(SimButtonsTest, InjectedUnitFailures) {
    // GETs failing: the status read counts, reports nothing.
    CCameraLogic& b = Make("name=ORVAN KIVCAMB;buttons=02;fail=xuget:failed");
    ASSERT_EQ(b.Open(), 1);
    CameraButtonState state;
    EXPECT_EQ(b.PollButtons(&state), 1);
    EXPECT_EQ(state.status, 0xFF);

    // SETs failing on model A: no read, no zoom.
    CCameraLogic& a = Make("name=KIVCAMA;buttons=02;fail=xuset:busy");
    ASSERT_EQ(a.Open(), 1);
    EXPECT_EQ(a.PollButtons(&state), 1);
    EXPECT_EQ(state.status, 0xFF);
    EXPECT_FLOAT_EQ(a.ZoomFactor(), 1.0f);

    // The unit hidden: model A asks the service, once.
    CCameraLogic& hidden = Make("name=KIVCAMA;fail=xu:notfound");
    ASSERT_EQ(hidden.Open(), 1);
    EXPECT_EQ(hidden.PollButtons(&state), 0);
    EXPECT_EQ(state.unitMissing, 1);
    EXPECT_EQ(hidden.PollButtons(&state), 0);
    EXPECT_EQ(service.deletes, 1);
}

TEST_F(SimButtonsTest, ALostModelAIsNotOpenedAnyMore) {
    CCameraLogic& camera = Make("name=KIVCAMA;lose=2;fps=500");
    ASSERT_EQ(camera.Open(), 1);
    CameraButtonState state;
    ASSERT_EQ(camera.PollButtons(&state), 1);
    ASSERT_EQ(camera.Run(), 1);
    sim_->WaitForFrames(3, 5000);  // ends with the loss
    std::uint8_t status = 0;
    EXPECT_EQ(sim_->OpenDevicePath(sim::kDefaultPath), PlatformResult::NotFound);
    EXPECT_EQ(sim_->ExtensionUnitGet(kExtensionUnitModelA, 2, &status, 1), PlatformResult::NotFound);
    EXPECT_EQ(camera.PollButtons(&state), 0);
    EXPECT_EQ(state.unitMissing, 0);
    EXPECT_EQ(service.clients, 0);
}

TEST(SimConfigXuTest, GetAndSetFailuresParseApart) {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseSimConfig("fail=XUGET:busy,xuset:notfound;xu=b", config, error)) << error;
    const sim::SimDevice& d = config.devices.at(0);
    EXPECT_EQ(d.Failure(sim::SimOp::XuGet), PlatformResult::Busy);
    EXPECT_EQ(d.Failure(sim::SimOp::XuSet), PlatformResult::NotFound);
    EXPECT_EQ(d.Failure(sim::SimOp::Xu), PlatformResult::Ok);
    EXPECT_FALSE(sim::ParseSimConfig("fail=xuread:busy", config, error));
}

}  // namespace
}  // namespace kiv
