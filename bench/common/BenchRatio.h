// Shared by the benchmarks: an operation and its baseline (a memcpy of the
// same bytes, or a raw write of them) measured alternately in one run, and
// reported as ratios.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kivbench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// CPU time of this thread (user + kernel, so file writes count): unlike the
// wall clock it does not grow when other processes take the cores.
inline double ThreadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline std::string BenchDir() {
    if (const char* d = std::getenv("KIV_BENCH_DIR")) return d;
    if (const char* d = std::getenv("TMPDIR")) return d;
    return "/tmp";
}

// Warm, page-faulted copy buffers for the baseline.
struct CopyBaseline {
    explicit CopyBaseline(std::size_t n) : from(n, 1), to(n, 2) {}
    double Run() {
        const auto t0 = Clock::now();
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
        return Seconds(t0, Clock::now());
    }
    std::vector<std::uint8_t> from, to;
};

inline bool RawWrite(const std::string& path, const std::uint8_t* data, std::size_t n) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);
    const bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

// Runs prepare (untimed), op, prepareBase (untimed) and baseline alternately.
// Reports the op's wall time per iteration, the baseline's (base_ms), their
// ratio, and the ratio of thread CPU times (cpu_ratio), which a loaded
// machine disturbs less.
template <typename Prepare, typename Op, typename PrepareBase, typename Base>
void Measure(benchmark::State& state, Prepare prepare, Op op, PrepareBase prepareBase, Base base) {
    double opTotal = 0, baseTotal = 0, opCpu = 0, baseCpu = 0;
    for (auto _ : state) {
        prepare();
        const double c0 = ThreadCpu();
        const auto t0 = Clock::now();
        op();
        const double t = Seconds(t0, Clock::now());
        const double c1 = ThreadCpu();
        state.SetIterationTime(t);
        opTotal += t;
        opCpu += c1 - c0;
        prepareBase();
        const double c2 = ThreadCpu();
        baseTotal += base();
        baseCpu += ThreadCpu() - c2;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["base_ms"] = baseTotal / n * 1e3;
    state.counters["ratio"] = baseTotal > 0 ? opTotal / baseTotal : 0;
    state.counters["cpu_ratio"] = baseCpu > 0 ? opCpu / baseCpu : 0;
}

template <typename Prepare, typename Op, typename Base>
void Measure(benchmark::State& state, Prepare prepare, Op op, Base base) {
    Measure(
        state, prepare, op, [] {}, base);
}

template <typename Op, typename Base>
void Measure(benchmark::State& state, Op op, Base base) {
    Measure(
        state, [] {}, op, [] {}, base);
}

}  // namespace kivbench
