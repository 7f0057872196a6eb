// Cost of turning camera payloads into the camera logic's frame, each next to
// its baseline measured alternately in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include <turbojpeg.h>

#include "common/BenchRatio.h"
#include "kivds/camera/convert/FrameConvert.h"
#include "support/SimPattern.h"

namespace {

using namespace kivbench;

std::vector<std::uint8_t> PatternRgb(int w, int h) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            std::uint8_t* o = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            o[0] = p.r, o[1] = p.g, o[2] = p.b;
        }
    return rgb;
}

void BM_YuyvToBgr24BottomUp(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(w) * 2 * h);
    std::uint32_t v = 1;
    for (auto& b : yuyv) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 16);
    const int stride = kiv::Bgr24Stride(w);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(stride) * h, 3);
    CopyBaseline base(out.size());
    Measure(
        state,
        [&] {
            kiv::convert::YuyvToBgr24BottomUp(yuyv.data(), yuyv.size(), w * 2, w, h, out.data(), stride);
            benchmark::ClobberMemory();
        },
        [&] { return base.Run(); });
}

std::vector<std::uint8_t> PatternJpeg(int w, int h) {
    const std::vector<std::uint8_t> rgb = PatternRgb(w, h);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    tjCompress2(encoder, rgb.data(), w, 0, h, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_422, 85, 0);
    tjDestroy(encoder);
    std::vector<std::uint8_t> bytes(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    return bytes;
}

void BM_MjpegDecode(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const std::vector<std::uint8_t> stream = PatternJpeg(w, h);
    const unsigned char* jpeg = stream.data();
    const unsigned long jpegSize = static_cast<unsigned long>(stream.size());
    kiv::convert::MjpegDecoder decoder;
    std::vector<std::uint8_t> out;
    std::int32_t ow = 0, oh = 0, os = 0;
    tjhandle plain = tjInitDecompress();
    std::vector<std::uint8_t> plainOut(static_cast<std::size_t>(TJPAD(w * 3)) * h);
    Measure(
        state,
        [&] {
            decoder.Decode(jpeg, jpegSize, out, ow, oh, os);
            benchmark::ClobberMemory();
        },
        [&] {
            const auto t0 = Clock::now();
            tjDecompress2(plain, jpeg, jpegSize, plainOut.data(), w, TJPAD(w * 3), h, TJPF_BGR, TJFLAG_BOTTOMUP);
            benchmark::ClobberMemory();
            return Seconds(t0, Clock::now());
        });
    tjDestroy(plain);
}

// The preview's decode: at the DCT scale that covers 405 x 226, against the
// full-size decode of the same stream.
void BM_MjpegPreviewDecode(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const std::vector<std::uint8_t> jpeg = PatternJpeg(w, h);
    const kiv::convert::Scale scale = kiv::convert::PreviewScale(w, h, 405, 226);
    kiv::convert::MjpegDecoder decoder;
    std::vector<std::uint8_t> scaled, full;
    std::int32_t ow = 0, oh = 0, os = 0;
    Measure(
        state,
        [&] {
            decoder.Decode(jpeg.data(), jpeg.size(), scaled, ow, oh, os, scale);
            benchmark::ClobberMemory();
        },
        [&] {
            const auto t0 = Clock::now();
            decoder.Decode(jpeg.data(), jpeg.size(), full, ow, oh, os);
            benchmark::ClobberMemory();
            return Seconds(t0, Clock::now());
        });
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) b->Args({w, h});
    b->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_YuyvToBgr24BottomUp)->Apply(Sizes);
BENCHMARK(BM_MjpegDecode)->Apply(Sizes);
BENCHMARK(BM_MjpegPreviewDecode)->Apply(Sizes);

BENCHMARK_MAIN();
