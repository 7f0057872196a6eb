#!/usr/bin/env bash
# Builds the release tree with the benchmarks (linux-release) and runs them;
# prints one table of ratios, each beside its target where it has one.
#   scripts/bench.sh           every case (takes a while)
#   scripts/bench.sh --quick   a representative set, under 5 minutes on 2 cores
# KIV_JOBS: build jobs (default 1). The benchmarks are not part of ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; fi
jobs=${KIV_JOBS:-1}
build=build/linux-release

cmake --preset linux-release -DKIVDS_BUILD_BENCH=ON >/dev/null
targets="bench_image bench_transfer bench_convert bench_preview"
cmake --build "$build" -j"$jobs" --target $targets >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ $quick = 1 ]; then
    min=0.1
    end='(/manual_time)?$'
    transfer="^(native|memory)/(yuy2|mjpeg)/(640x480|1920x1080)/zoom[12]$end|^(native|memory)/mjpeg/3840x2160/zoom2$end|^file/(bmp|tiff)/yuy2/1920x1080/zoom1$end"
    image='/1920/1080'
    preview=--quick
else
    min=0.5
    transfer='.'
    image='.'
    preview=
fi

gbench() {  # name binary filter
    "$build/$2" --benchmark_min_time="$min" --benchmark_filter="$3" \
        --benchmark_out="$out/$1.json" --benchmark_out_format=json >/dev/null
}
echo "running the benchmarks (quick=$quick, load average $(cut -d' ' -f1-3 /proc/loadavg))" >&2
gbench image bench/image/bench_image "$image"
gbench transfer bench/twain/bench_transfer "$transfer"
gbench convert bench/v4l2/bench_convert .
"$build/bench/v4l2/bench_preview" $preview >"$out/preview.txt"

python3 - "$out" <<'PY'
import json, os, sys
out = sys.argv[1]
rows = []
def target(name):
    if name.startswith("memory/"): return 1.6
    if name.startswith("native/") and "/zoom2" in name: return 1.8
    return None
for part in ("image", "transfer", "convert"):
    with open(os.path.join(out, part + ".json")) as f:
        for b in json.load(f)["benchmarks"]:
            if "ratio" not in b: continue
            name = b["name"].replace("/manual_time", "")
            rows.append((name, b["ratio"], b.get("cpu_ratio"), target(name)))
with open(os.path.join(out, "preview.txt")) as f:
    for line in f:
        fields = dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)
        if "target" not in fields: continue
        ratio = float(fields["ratio"]) if "ratio" in fields else None
        cpu = float(fields["cpu_ratio"]) if "cpu_ratio" in fields else None
        rows.append((line.split()[0], ratio, cpu, float(fields["target"])))
print("| case | ratio | cpu_ratio | target | met |")
print("|---|---|---|---|---|")
for name, ratio, cpu, goal in rows:
    fmt = lambda v: "-" if v is None else "%.2f" % v
    measured = ratio if ratio is not None else cpu
    met = "-" if goal is None else ("yes" if measured <= goal else "no")
    print("| %s | %s | %s | %s | %s |" % (name, fmt(ratio), fmt(cpu), "-" if goal is None else "<= %.2f" % goal, met))
PY
