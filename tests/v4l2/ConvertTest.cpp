// Frame conversion (YUYV and MJPEG to bottom-up BGR24), the extension-unit
// search in USB descriptors, and the device paths built from sysfs pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include <linux/videodev2.h>

#include <turbojpeg.h>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/SoftwarePreview.h"
#include "kivds/camera/convert/FrameConvert.h"
#include "kivds/camera/v4l2/DeviceList.h"
#include "kivds/camera/v4l2/PreviewPayload.h"
#include "kivds/camera/v4l2/UvcDescriptors.h"
#include "support/SimPattern.h"

using namespace kiv;

namespace {

int Bt601(double v) { return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, v)))); }

// BT.601 limited range. libyuv's fixed-point matrix differs from it by at most
// 2 (measured over every Y, U, V: 5% of values off by 2, mean error 0.46).
void Reference(int y, int u, int v, int& r, int& g, int& b) {
    const double c = 1.164383 * (y - 16), d = u - 128, e = v - 128;
    r = Bt601(c + 1.596027 * e);
    g = Bt601(c - 0.391762 * d - 0.812968 * e);
    b = Bt601(c + 2.017232 * d);
}

std::vector<std::uint8_t> PatternJpeg(int w, int h, int subsamp = TJSAMP_422) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            std::uint8_t* o = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            o[0] = p.r, o[1] = p.g, o[2] = p.b;
        }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, subsamp, 92, 0), 0);
    std::vector<std::uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

}  // namespace

TEST(YuyvConvert, StaysWithinTwoOfBt601BottomUpWithZeroPadding) {
    const int w = 34, h = 7, srcStride = w * 2 + 6;  // padded source rows
    std::mt19937 random(7);
    std::vector<std::uint8_t> src(static_cast<std::size_t>(srcStride) * h);
    for (auto& b : src) b = static_cast<std::uint8_t>(random());
    const int stride = Bgr24Stride(w);
    ASSERT_EQ(stride % 4, 0);
    ASSERT_EQ(stride, 104);
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(stride) * h, 0xEE);
    ASSERT_TRUE(convert::YuyvToBgr24BottomUp(src.data(), src.size(), srcStride, w, h, dst.data(), stride));
    int worst = 0;
    double total = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = &src[static_cast<std::size_t>(y) * srcStride];
        const std::uint8_t* out = &dst[static_cast<std::size_t>(h - 1 - y) * stride];  // bottom-up
        for (int x = 0; x < w; ++x) {
            const int yy = in[x * 2], u = in[(x & ~1) * 2 + 1], v = in[(x & ~1) * 2 + 3];
            int r, g, b;
            Reference(yy, u, v, r, g, b);
            const int e = std::max(
                {std::abs(out[x * 3] - b), std::abs(out[x * 3 + 1] - g), std::abs(out[x * 3 + 2] - r)});
            worst = std::max(worst, e);
            total += e;
        }
        for (int p = w * 3; p < stride; ++p) EXPECT_EQ(out[p], 0) << "padding of row " << y;
    }
    EXPECT_LE(worst, 2);
    EXPECT_LT(total / (w * h), 0.75);  // a full-range or swapped matrix is far off
}

TEST(YuyvConvert, RefusesWhatDoesNotFit) {
    std::vector<std::uint8_t> src(64 * 2 * 4), dst(64 * 3 * 4);
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(src.data(), src.size(), 128, 63, 4, dst.data(), 192));      // odd width
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(src.data(), src.size() - 1, 128, 64, 4, dst.data(), 192));  // short
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(src.data(), src.size(), 100, 64, 4, dst.data(), 192));      // stride
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(src.data(), src.size(), 128, 64, 4, dst.data(), 190));
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(src.data(), src.size(), 128, 64, 0, dst.data(), 192));
    EXPECT_FALSE(convert::YuyvToBgr24BottomUp(nullptr, src.size(), 128, 64, 4, dst.data(), 192));
}

TEST(MjpegConvert, DecodesBottomUpWithinJpegErrorAndWithoutHuffmanTables) {
    const int w = 330, h = 260;  // 330 * 3 is no multiple of 4
    const std::vector<std::uint8_t> jpeg = PatternJpeg(w, h);
    convert::MjpegDecoder decoder;
    std::vector<std::uint8_t> out;
    std::int32_t width = 0, height = 0, stride = 0;
    ASSERT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), out, width, height, stride), convert::DecodeResult::Ok);
    ASSERT_EQ(width, w);
    ASSERT_EQ(height, h);
    ASSERT_EQ(stride, 992);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(stride) * h);
    double total = 0;
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = &out[static_cast<std::size_t>(h - 1 - y) * stride];
        for (int x = 0; x < w; ++x) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            const int e = std::max(
                {std::abs(row[x * 3] - p.b), std::abs(row[x * 3 + 1] - p.g), std::abs(row[x * 3 + 2] - p.r)});
            worst = std::max(worst, e);
            total += e;
        }
        EXPECT_EQ(row[w * 3], 0);
        EXPECT_EQ(row[w * 3 + 1], 0);
    }
    EXPECT_LT(total / (w * h), 3.0);
    EXPECT_LE(worst, 64);  // ringing at the pattern's 255-to-0 steps

    // The same stream without its DHT segments decodes identically.
    std::vector<std::uint8_t> bare(jpeg.begin(), jpeg.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA) {
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (jpeg[at + 1] != 0xC4) bare.insert(bare.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    bare.insert(bare.end(), jpeg.begin() + at, jpeg.end());
    ASSERT_LT(bare.size(), jpeg.size());
    std::vector<std::uint8_t> again;
    ASSERT_EQ(decoder.Decode(bare.data(), bare.size(), again, width, height, stride), convert::DecodeResult::Ok);
    EXPECT_EQ(again, out);
}

TEST(MjpegConvert, TruncatedStreamsAreUsableGarbageIsNot) {
    const std::vector<std::uint8_t> jpeg = PatternJpeg(320, 240);
    convert::MjpegDecoder decoder;
    std::vector<std::uint8_t> out;
    std::int32_t w = 0, h = 0, stride = 0;
    const std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() * 6 / 10));
    EXPECT_EQ(decoder.Decode(cut.data(), cut.size(), out, w, h, stride), convert::DecodeResult::Partial);
    EXPECT_EQ(out.size(), static_cast<std::size_t>(stride) * 240);

    std::vector<std::uint8_t> garbage(jpeg.size());
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    EXPECT_EQ(decoder.Decode(garbage.data(), garbage.size(), out, w, h, stride), convert::DecodeResult::Failed);
    EXPECT_EQ(decoder.Decode(jpeg.data(), 10, out, w, h, stride), convert::DecodeResult::Failed);
    EXPECT_EQ(decoder.Decode(nullptr, 0, out, w, h, stride), convert::DecodeResult::Failed);
}

// -- the preview at its own scale --------------------------------------------------

namespace {

// Keeps the newest picture the preview delivers.
class PictureCatcher : public IWindowBridge {
public:
    bool GetClientSize(WindowHandle, int&, int&) override { return false; }
    void PostGraphNotify(WindowHandle) override {}
    void SendFrameArrived(WindowHandle) override {}
    void PresentPreview(WindowHandle, std::shared_ptr<const PreviewPicture> picture) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = std::move(picture);
        ++m_count;
        m_changed.notify_all();
    }
    // The picture made from what `offer` hands the preview.
    template <typename Offer>
    std::vector<std::uint8_t> Next(Offer offer) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::size_t before = m_count;
        lock.unlock();
        offer();
        lock.lock();
        if (!m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_count > before; })) return {};
        return m_last->pixels;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_count = 0;
    std::shared_ptr<const PreviewPicture> m_last;
};

// The preview's picture of `source` at 405 x 226 drawn from the full-size
// frame and from the payload reduced at the preview's scale.
void BothPictures(const std::vector<std::uint8_t>& payload, const v4l2::PayloadFormat& format, const VideoFrame& full,
                  const SourceRect& source, std::vector<std::uint8_t>& fromFull, std::vector<std::uint8_t>& reduced) {
    PictureCatcher catcher;
    SetWindowBridge(&catcher);
    {
        CSoftwarePreview preview;
        preview.Reset(format.width, format.height);
        preview.SetOwner(reinterpret_cast<WindowHandle>(0x77));
        preview.SetPlacement(0, 0, 405, 226);
        preview.SetVisible(true);
        ASSERT_TRUE(preview.SetSourceRect(source));
        fromFull = catcher.Next([&] { preview.OnFrame(full); });
        auto shared = std::make_shared<const std::vector<std::uint8_t>>(payload);
        auto reducer = std::make_shared<v4l2::PreviewReducer>();
        reduced = catcher.Next(
            [&] { preview.OnPayload(std::make_shared<v4l2::PreviewPayload>(shared, format, reducer)); });
    }
    SetWindowBridge(nullptr);
    ASSERT_FALSE(fromFull.empty());
    ASSERT_EQ(reduced.size(), fromFull.size());
}

}  // namespace

TEST(PreviewReduction, DctScaledMjpegLooksLikeTheFullDecodeAndSampledYuyvIsExact) {
    EXPECT_EQ(convert::PreviewScale(1920, 1080, 405, 226).denom, 4);  // 480 x 270
    EXPECT_EQ(convert::PreviewScale(3840, 2160, 405, 226).denom, 8);
    EXPECT_EQ(convert::PreviewScale(300, 200, 405, 226).denom, 1);  // never above full size

    const std::vector<std::uint8_t> jpeg = PatternJpeg(1920, 1080);
    convert::MjpegDecoder decoder;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    VideoFrame full;
    ASSERT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), *bytes, full.width, full.height, full.stride),
              convert::DecodeResult::Ok);
    full.bytes = bytes;
    // The whole frame, a 2x zoom, and an odd rectangle near a corner.
    for (const SourceRect source :
         {SourceRect{0, 1, 1920, 1078}, SourceRect{480, 270, 960, 540}, SourceRect{1213, 701, 707, 379}}) {
        SCOPED_TRACE(source.left);
        std::vector<std::uint8_t> a, b;
        BothPictures(jpeg, {V4L2_PIX_FMT_MJPEG, 1920, 1080, 0}, full, source, a, b);
        if (testing::Test::HasFatalFailure()) return;
        // The DCT scaling averages where nearest neighbour picks one pixel:
        // the pattern's 255-to-0 steps differ, the rest stays within a few.
        double total = 0;
        std::size_t far = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const int e = std::abs(a[i] - b[i]);
            total += e;
            if (e > 24) ++far;
        }
        EXPECT_LT(total / a.size(), 2.0);  // measured 1.0 to 1.2
        EXPECT_LT(far, a.size() / 50);     // measured at most 0.7%
    }

    // YUYV: the same bytes, zoomed or not.
    const int w = 640, h = 480, pitch = w * 2 + 16;
    std::mt19937 random(11);
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(pitch) * h);
    for (auto& v : yuyv) v = static_cast<std::uint8_t>(random());
    auto converted = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(Bgr24Stride(w)) * h);
    ASSERT_TRUE(convert::YuyvToBgr24BottomUp(yuyv.data(), yuyv.size(), pitch, w, h, converted->data(), Bgr24Stride(w)));
    const VideoFrame raw{w, h, Bgr24Stride(w), converted};
    for (const SourceRect source : {SourceRect{0, 0, w, h}, SourceRect{161, 121, 319, 239}}) {
        std::vector<std::uint8_t> a, b;
        BothPictures(yuyv, {V4L2_PIX_FMT_YUYV, w, h, pitch}, raw, source, a, b);
        EXPECT_TRUE(a == b) << source.left;
    }
}

// -- extension units in the descriptors --------------------------------------------

namespace {

const std::uint8_t kGuidB[16] = {0x0A, 0x3E, 0x18, 0x74, 0x82, 0x54, 0x1A, 0x48,
                                 0xB4, 0x02, 0x48, 0xB8, 0xB8, 0xC4, 0x9C, 0xC8};

std::vector<std::uint8_t> Interface(std::uint8_t cls, std::uint8_t subclass) {
    return {9, 4, 0, 0, 1, cls, subclass, 0, 0};
}

std::vector<std::uint8_t> Unit(std::uint8_t id, const std::uint8_t guid[16]) {
    std::vector<std::uint8_t> d = {27, 0x24, 0x06, id};
    d.insert(d.end(), guid, guid + 16);
    const std::uint8_t tail[] = {16, 1, 2, 2, 0xFF, 0xFF, 0};  // controls, pins, source, size, bitmap, string
    d.insert(d.end(), tail, tail + 7);
    return d;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all = {18, 1, 0, 2, 0xEF, 2, 1, 64, 0x3c, 0x1a, 0x21, 0x0b, 0, 1, 1, 2, 3, 1};
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(ExtensionUnitSearch, GuidBytesAreInWindowsMemoryOrder) {
    EXPECT_TRUE(v4l2::GuidFromWireBytes(kGuidB) == kExtensionUnitModelB);
    const std::uint8_t yuy2[16] = {'Y', 'U', 'Y', '2', 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    EXPECT_TRUE(v4l2::GuidFromWireBytes(yuy2) == MediaSubtypeYUY2);
}

TEST(ExtensionUnitSearch, OnlyUnitsInsideVideoControlCount) {
    // Subtype 6 in an audio interface or a video streaming interface is something else.
    const auto bytes = Join({Interface(0x01, 0x01), Unit(3, kGuidB), Interface(0x0E, 0x02), Unit(5, kGuidB),
                             Interface(0x0E, 0x01), Unit(9, kGuidB)});
    const auto id = v4l2::FindExtensionUnitId(bytes.data(), bytes.size(), kExtensionUnitModelB);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(*id, 9);
    EXPECT_FALSE(v4l2::FindExtensionUnitId(bytes.data(), bytes.size(), kExtensionUnitModelA).has_value());
    const auto audioOnly = Join({Interface(0x01, 0x01), Unit(3, kGuidB)});
    EXPECT_FALSE(v4l2::FindExtensionUnitId(audioOnly.data(), audioOnly.size(), kExtensionUnitModelB).has_value());
}

TEST(ExtensionUnitSearch, HostileLengthsNeverReadPastTheEnd) {
    const auto good = Join({Interface(0x0E, 0x01), Unit(9, kGuidB)});
    // Every truncation: the unit is found only when it is whole. Each prefix is
    // copied to its own allocation so that a read past it is caught.
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<std::uint8_t> prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(v4l2::FindExtensionUnitId(prefix.data(), prefix.size(), kExtensionUnitModelB).has_value()) << n;
    }
    auto zero = good;
    zero[18] = 0;  // the interface descriptor's bLength
    EXPECT_FALSE(v4l2::FindExtensionUnitId(zero.data(), zero.size(), kExtensionUnitModelB).has_value());
    auto pins = good;
    pins[27 + 21] = 200;  // bNrInPins far beyond the unit
    EXPECT_FALSE(v4l2::FindExtensionUnitId(pins.data(), pins.size(), kExtensionUnitModelB).has_value());
    auto controls = good;
    controls[27 + 23] = 250;  // bControlSize beyond the unit
    EXPECT_FALSE(v4l2::FindExtensionUnitId(controls.data(), controls.size(), kExtensionUnitModelB).has_value());
    auto shortUnit = good;
    shortUnit[27] = 12;  // claims less than its fixed fields
    EXPECT_FALSE(v4l2::FindExtensionUnitId(shortUnit.data(), shortUnit.size(), kExtensionUnitModelB).has_value());
    EXPECT_FALSE(v4l2::FindExtensionUnitId(nullptr, 100, kExtensionUnitModelB).has_value());
}

// -- device paths ---------------------------------------------------------------------

TEST(DevicePath, WindowsStyleWithSerialOrPort) {
    EXPECT_EQ(v4l2::BuildDevicePath("1A3C", "0b21", "00", "AB#12 x/y", "1-2.3", "0"),
              "usb#vid_1a3c&pid_0b21&mi_00#sn_AB_12_x_y#0");
    EXPECT_EQ(v4l2::BuildDevicePath("1a3c", "0c01", "02", "", "3-1.4.2", "0"),
              "usb#vid_1a3c&pid_0c01&mi_02#port_3-1.4.2#0");
    EXPECT_EQ(v4l2::SanitiseSerial("a.b_c-D9#\xC3\xA9"), "a.b_c-D9___");
    EXPECT_EQ(v4l2::BuildDevicePath("1a3", "0b21", "00", "s", "1-2", "0"), "");
    EXPECT_EQ(v4l2::BuildDevicePath("1a3c", "0b21", "0", "s", "1-2", "0"), "");
    EXPECT_EQ(v4l2::BuildDevicePath("1a3c", "0b21", "00", "s", "1-2", "x"), "");
    EXPECT_EQ(v4l2::BuildDevicePath("1a3c", "0b21", "00", "", "", "0"), "");
}
