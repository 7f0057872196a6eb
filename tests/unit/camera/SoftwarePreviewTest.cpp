// The software preview: pictures cut to the source rectangle and scaled into
// the letterboxed placement, delivered without holding up the stream, never
// after the preview was hidden, in reused buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/SoftwarePreview.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/SimPattern.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "support/SimPattern.h"
#include "unit/camera/FakeVideoPlatform.h"

namespace kiv {
namespace {

const WindowHandle kWindow = reinterpret_cast<WindowHandle>(0x2001);

// Records the pictures it is handed, keeping only the newest; can hold the
// delivering thread at a gate, as a view that is slow to draw would.
class RecordingBridge : public test::FakeWindowBridge {
public:
    void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_inside = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_gateClosed; });
        m_inside = false;
        ++m_count;
        m_last = std::move(picture);
        m_owners.insert(window);
        m_buffers.insert(reinterpret_cast<std::uintptr_t>(m_last->pixels.data()));
        m_changed.notify_all();
    }

    bool WaitForPictures(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_count >= count; });
    }
    bool WaitUntilInside() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_inside; });
    }
    void SetGate(bool closed) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateClosed = closed;
        m_changed.notify_all();
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    std::shared_ptr<const PreviewPicture> Last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }
    std::set<WindowHandle> Owners() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_owners;
    }
    std::size_t DistinctBuffers() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_buffers.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gateClosed = false;
    bool m_inside = false;
    std::size_t m_count = 0;
    std::shared_ptr<const PreviewPicture> m_last;
    std::set<WindowHandle> m_owners;
    std::set<std::uintptr_t> m_buffers;
};

VideoFrame PatternFrame(std::int32_t width, std::int32_t height) {
    VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = Bgr24Stride(width);
    frame.bytes = sim::MakePattern(width, height);
    return frame;
}

// Every pixel of the picture is the pattern pixel its nearest-neighbour map
// names, and the row padding is zero.
void ExpectPictureOf(const PreviewPicture& picture, const SourceRect& src) {
    ASSERT_EQ(picture.stride % 4, 0);
    ASSERT_EQ(picture.pixels.size(), static_cast<std::size_t>(picture.stride) * picture.height);
    int wrong = 0;
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.pixels.data() +
                                  static_cast<std::size_t>(picture.height - 1 - y) * picture.stride;
        for (int x = 0; x < picture.width; ++x) {
            const kivtest::Rgb want = kivtest::SimPixel(src.left + x * src.width / picture.width,
                                                        src.top + y * src.height / picture.height);
            const std::uint8_t* p = row + x * 3;
            if (p[0] != want.b || p[1] != want.g || p[2] != want.r) {
                if (++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
            }
        }
        for (int i = picture.width * 3; i < picture.stride; ++i) EXPECT_EQ(row[i], 0) << "padding of row " << y;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(SoftwarePreviewTest, PictureIsTheSourceRectangleScaledIntoThePlacement) {
    RecordingBridge bridge;
    test::ScopedBridge scoped(bridge);
    CSoftwarePreview preview;
    preview.Reset(50, 40);  // rows of 150 bytes padded to 152
    EXPECT_EQ(preview.Current().source.width, 50);
    EXPECT_EQ(preview.Current().source.height, 40);
    preview.SetOwner(kWindow);
    preview.SetPlacement(5, 7, 41, 30);  // upscaled across, downscaled down; rows padded
    preview.SetVisible(true);
    const SourceRect src{10, 5, 30, 33};
    ASSERT_TRUE(preview.SetSourceRect(src));
    preview.OnFrame(PatternFrame(50, 40));
    ASSERT_TRUE(bridge.WaitForPictures(1));
    const auto picture = bridge.Last();
    EXPECT_EQ(picture->left, 5);
    EXPECT_EQ(picture->top, 7);
    EXPECT_EQ(picture->width, 41);
    EXPECT_EQ(picture->height, 30);
    EXPECT_EQ(picture->stride, 124);
    ExpectPictureOf(*picture, src);
    EXPECT_EQ(bridge.Owners(), std::set<WindowHandle>{kWindow});
}

// A payload that counts how often it is reduced (to a pattern frame).
class CountingPayload : public IPreviewPayload {
public:
    explicit CountingPayload(std::atomic<int>& count) : m_count(count) {}
    bool Reduce(const SourceRect& source, std::int32_t, std::int32_t, VideoFrame& reduced, SourceRect& part) override {
        ++m_count;
        reduced = PatternFrame(50, 40);
        part = source;
        return true;
    }

private:
    std::atomic<int>& m_count;
};

TEST(SoftwarePreviewTest, PayloadsAreNotDrawnWhileTheViewHasNotTakenTheLastPicture) {
    struct BehindView : RecordingBridge {
        std::atomic<bool> taken{true};
        bool PreviewTaken(WindowHandle) override { return taken; }
    } bridge;
    test::ScopedBridge scoped(bridge);
    CSoftwarePreview preview;
    preview.Reset(50, 40);
    preview.SetOwner(kWindow);
    preview.SetPlacement(0, 0, 20, 16);
    preview.SetVisible(true);
    std::atomic<int> reduced{0};
    preview.OnPayload(std::make_shared<CountingPayload>(reduced));
    ASSERT_TRUE(bridge.WaitForPictures(1));
    bridge.taken = false;
    for (int i = 0; i < 20; ++i) {
        preview.OnPayload(std::make_shared<CountingPayload>(reduced));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(reduced, 1) << "payloads were decoded for a view that is behind";
    bridge.taken = true;  // the newest one only is drawn then
    ASSERT_TRUE(bridge.WaitForPictures(2));
    EXPECT_EQ(reduced, 2);
    ExpectPictureOf(*bridge.Last(), SourceRect{0, 0, 50, 40});
}

TEST(SoftwarePreviewTest, RectanglesOutsideTheFrameAndForeignFramesAreRefused) {
    RecordingBridge bridge;
    test::ScopedBridge scoped(bridge);
    CSoftwarePreview preview;
    preview.Reset(64, 48);
    for (const SourceRect& bad : {SourceRect{0, 0, 65, 48}, SourceRect{1, 0, 64, 48}, SourceRect{0, -1, 10, 10},
                                  SourceRect{0, 0, 0, 10}, SourceRect{60, 40, 5, 9}}) {
        EXPECT_FALSE(preview.SetSourceRect(bad));
    }
    EXPECT_EQ(preview.Current().source.width, 64);
    preview.SetOwner(kWindow);
    preview.SetPlacement(0, 0, 32, 24);
    preview.SetVisible(true);
    VideoFrame sheared = PatternFrame(64, 48);
    sheared.stride = 64 * 3 + 4;  // does not match the bytes
    preview.OnFrame(sheared);
    preview.OnFrame(PatternFrame(32, 24));  // another size than connected
    preview.OnFrame(PatternFrame(64, 48));
    ASSERT_TRUE(bridge.WaitForPictures(1));
    EXPECT_EQ(bridge.Last()->width, 32);
    ExpectPictureOf(*bridge.Last(), SourceRect{0, 0, 64, 48});
}

TEST(SoftwarePreviewTest, PicturesReuseTwoBuffersWhileTheViewKeepsOnlyTheNewest) {
    RecordingBridge bridge;
    test::ScopedBridge scoped(bridge);
    CSoftwarePreview preview;
    preview.Reset(64, 48);
    preview.SetOwner(kWindow);
    preview.SetPlacement(0, 0, 48, 36);
    preview.SetVisible(true);
    const VideoFrame frame = PatternFrame(64, 48);
    for (std::size_t i = 1; i <= 10; ++i) {
        preview.OnFrame(frame);
        ASSERT_TRUE(bridge.WaitForPictures(i));
    }
    EXPECT_LE(bridge.DistinctBuffers(), 2u);
}

class SimPreviewTest : public ::testing::Test {
protected:
    CCameraLogic& Make(const std::string& spec) {
        sim::SimConfig config;
        std::string error;
        EXPECT_TRUE(sim::ParseSimConfig(spec, config, error)) << error;
        auto platform = std::make_unique<sim::SimVideoPlatform>(config);
        sim_ = platform.get();
        camera_ = std::make_unique<CCameraLogic>(std::move(platform));
        return *camera_;
    }
    void TearDown() override { bridge_.SetGate(false); }

    RecordingBridge bridge_;  // outlives the camera below
    test::ScopedBridge scoped_{bridge_};
    sim::SimVideoPlatform* sim_ = nullptr;
    std::unique_ptr<CCameraLogic> camera_;
};

TEST_F(SimPreviewTest, TheWindowShowsTheTrimmedThenTheZoomedFrameLetterboxed) {
    bridge_.clientWidth = 200;
    bridge_.clientHeight = 200;
    CCameraLogic& camera = Make("caps=mjpeg:320x240;fps=200");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(kWindow), 1);
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(bridge_.WaitForPictures(1));
    // 4:3 in a square: 200 x 150, 25 from the top; the MJPEG trim drops the first and last line.
    auto picture = bridge_.Last();
    EXPECT_EQ(picture->left, 0);
    EXPECT_EQ(picture->top, 25);
    EXPECT_EQ(picture->width, 200);
    EXPECT_EQ(picture->height, 150);
    ExpectPictureOf(*picture, SourceRect{0, 1, 320, 238});

    ASSERT_EQ(camera.SetZoom(2.0f), 1);
    // One picture may have been on its way with the old rectangle.
    ASSERT_TRUE(bridge_.WaitForPictures(bridge_.Count() + 2));
    picture = bridge_.Last();
    EXPECT_EQ(picture->height, 150);
    ExpectPictureOf(*picture, SourceRect{80, 60, 160, 120});
    EXPECT_EQ(bridge_.Owners(), std::set<WindowHandle>{kWindow});
}

TEST_F(SimPreviewTest, ASlowViewDropsPicturesAndDoesNotHoldUpTheStream) {
    CCameraLogic& camera = Make("caps=yuy2:64x48;fps=500");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(kWindow), 1);
    bridge_.SetGate(true);
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(bridge_.WaitUntilInside());  // the view is busy with the first picture
    const std::uint64_t frames = sim_->FramesProduced();
    ASSERT_TRUE(sim_->WaitForFrames(frames + 25, 10000));
    EXPECT_EQ(bridge_.Count(), 0u);
    bridge_.SetGate(false);
    ASSERT_TRUE(bridge_.WaitForPictures(2));  // and the view gets the newest frames again
}

TEST_F(SimPreviewTest, NothingReachesTheWindowOnceThePreviewIsHidden) {
    CCameraLogic& camera = Make("caps=yuy2:64x48;fps=500");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(kWindow), 1);
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(bridge_.WaitForPictures(2));
    ASSERT_EQ(sim_->ShowPreview(false), PlatformResult::Ok);
    const std::size_t shown = bridge_.Count();
    ASSERT_TRUE(sim_->WaitForFrames(sim_->FramesProduced() + 20, 10000));
    EXPECT_EQ(bridge_.Count(), shown);
    EXPECT_TRUE(sim_->IsStreaming());

    // Shown again, then the stream stopped: the camera detaches the window.
    ASSERT_EQ(sim_->ShowPreview(true), PlatformResult::Ok);
    ASSERT_TRUE(bridge_.WaitForPictures(shown + 1));
    ASSERT_EQ(camera.Stop(), 1);
    EXPECT_EQ(sim_->Preview().owner, nullptr);
    EXPECT_FALSE(sim_->Preview().visible);
}

TEST(PreviewPicture, OnlyDibRowsWithAllTheirBytesAreDrawable) {
    PreviewPicture picture;
    picture.width = 10;
    picture.height = 2;
    picture.stride = 32;  // 30 bytes of pixels padded to 4
    picture.pixels.assign(64, 0);
    EXPECT_TRUE(IsDrawable(picture));
    picture.pixels.pop_back();
    EXPECT_FALSE(IsDrawable(picture)) << "the last row is short";
    picture.stride = 36;
    picture.pixels.assign(72, 0);
    EXPECT_FALSE(IsDrawable(picture)) << "rows wider than a DIB's";
    picture.width = INT32_MAX;  // its row bytes do not fit an int
    picture.stride = 0;
    EXPECT_FALSE(IsDrawable(picture));
    picture.width = 0;
    EXPECT_FALSE(IsDrawable(picture));
}

}  // namespace
}  // namespace kiv
