// Steady-state cost of the image operations next to a plain copy (or a plain
// file write) of the same bytes, measured alternately in the same run so that
// both see the same machine state. Pixel buffers come from the pool, as they
// do for successive stills.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/BenchRatio.h"
#include "kivds/image/ImageReference.h"

namespace {

using namespace kivbench;

std::int32_t Stride(std::int32_t width) { return (width * 3 + 3) / 4 * 4; }

kiv::CImageReference MakeStill(std::int32_t width, std::int32_t height) {
    kiv::CImageReference image(width, height, Stride(width));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Stride(width)) * height);
    std::uint32_t v = 1;
    for (auto& b : bytes) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 16);
    image.SetData(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return image;
}

void BM_FlipToTopDownRgb(benchmark::State& state) {
    auto image = MakeStill(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
    CopyBaseline base(image.Size());
    image.FlipToTopDownRgb();  // fills the pool
    Measure(
        state, [&] { image.FlipToTopDownRgb(); }, [&] { return base.Run(); });
}

void BM_CopyAll(benchmark::State& state) {
    auto image = MakeStill(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
    CopyBaseline base(image.Size());
    std::vector<std::uint8_t> out(image.Size(), 3);
    Measure(
        state,
        [&] {
            image.CopyAll(image.Size(), out.data());
            benchmark::ClobberMemory();
        },
        [&] { return base.Run(); });
}

// A buffered memory transfer: the whole image in 64 KiB strips into the
// application's one strip buffer.
void BM_CopyRangeStrips(benchmark::State& state) {
    auto image = MakeStill(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
    CopyBaseline base(image.Size());
    constexpr std::uint32_t kStrip = 64 * 1024;
    std::vector<std::uint8_t> strip(kStrip, 3);
    Measure(
        state,
        [&] {
            for (std::uint32_t o = 0; o < image.Size(); o += kStrip) {
                image.CopyRange(o, std::min(kStrip, image.Size() - o), strip.data());
                benchmark::ClobberMemory();
            }
        },
        [&] { return base.Run(); });
}

// range(2): zoom in hundredths; the rectangle is centred. The zoom is a map
// applied by the copy that reads the pixels: measured as zoom + CopyAll of a
// still that shares its frame, against one memcpy of the image.
void BM_ZoomThenCopyAll(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    const double zoom = static_cast<double>(state.range(2)) / 100.0;
    auto still = MakeStill(width, height);
    auto frame = std::make_shared<const std::vector<std::uint8_t>>(still.Data(), still.Data() + still.Size());
    CopyBaseline base(still.Size());
    std::vector<std::uint8_t> out(still.Size(), 3);
    const auto w = static_cast<std::int32_t>(width / zoom), h = static_cast<std::int32_t>(height / zoom);
    const std::int32_t x = (width - w) / 2, y = (height - h) / 2;
    Measure(
        state,
        [&] {
            kiv::CImageReference image;
            image.SetFrame(frame, width, height, Stride(width));
            image.CropAndStretch(x, y, w, h);
            image.CopyAll(image.Size(), out.data());
            benchmark::ClobberMemory();
        },
        [&] { return base.Run(); });
}

void BM_WriteBmp(benchmark::State& state) {
    auto image = MakeStill(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
    const std::string path = BenchDir() + "/kiv_bench_image.bmp";
    const std::string raw = BenchDir() + "/kiv_bench_image.raw";
    Measure(
        state, [&] { image.WriteBmp(path); },
        [&] {
            const auto t0 = Clock::now();
            RawWrite(raw, image.Data(), image.Size());
            return Seconds(t0, Clock::now());
        });
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

// WriteTiff converts rows a few at a time on their way to the file. The
// baseline writes the strip's bytes raw.
void BM_WriteTiff(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    auto image = MakeStill(width, height);
    const std::string path = BenchDir() + "/kiv_bench_image.tif";
    const std::string raw = BenchDir() + "/kiv_bench_image.raw";
    const std::size_t stripBytes = static_cast<std::size_t>(width) * 3 * height;
    Measure(
        state, [&] { image.WriteTiff(path); },
        [&] {
            const auto t0 = Clock::now();
            RawWrite(raw, image.Data(), stripBytes);
            return Seconds(t0, Clock::now());
        });
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}, std::pair{3840, 2160}}) b->Args({w, h});
    b->UseManualTime()->Unit(benchmark::kMillisecond);
}

void Zooms(benchmark::internal::Benchmark* b) {
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}, std::pair{3840, 2160}})
        for (int zoom : {125, 800}) b->Args({w, h, zoom});
    b->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_FlipToTopDownRgb)->Apply(Sizes);
BENCHMARK(BM_CopyAll)->Apply(Sizes);
BENCHMARK(BM_CopyRangeStrips)->Apply(Sizes);
BENCHMARK(BM_ZoomThenCopyAll)->Apply(Zooms);
BENCHMARK(BM_WriteBmp)->Apply(Sizes);
BENCHMARK(BM_WriteTiff)->Apply(Sizes);

BENCHMARK_MAIN();
