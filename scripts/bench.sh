#!/usr/bin/env bash
# Benchmarks, not part of the tests: how the costs grow on the simulated machine (Google
# Benchmark, optimised build), and the whole removal under Wine against its floor, a minimal
# program of the same build making only the external calls the removal cannot avoid: the
# shipped 32-bit build in WoW64, then the 64-bit one. Each is timed on a fresh
# copy of the demo's sample machine with a persistent wineserver, started before and ended
# after, so that its start-up and linger are not counted. BENCH_RUNS sets the runs per side.
# BENCH_BASELINE=<git revision> times that revision's program too, in the same runs, so that
# what a change costs reads as its ratio against the floor before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

out="$PWD/build/bench"
mkdir -p "$out"

echo "== Growth on the simulated machine"
cmake --preset native-bench >/dev/null
cmake --build --preset native-bench -j"$(nproc)" --target korvane_benchmarks >/dev/null
./build/native-bench/tests/bench/korvane_benchmarks --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_out="$out/native.json" \
    --benchmark_out_format=json >/dev/null
python3 scripts/bench-report.py native "$out/native.json"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
. tests/e2e/wine.sh
. tests/e2e/toolkit.sh
builds="win32 win64"
if ! choose_wine "$out"; then
    echo "== $WHY_NOT_32BIT: the 32-bit build is not timed"
    builds=win64
elif emulated_32bit; then
    # Its ratio to the floor, also emulated, still holds; its times are the emulator's.
    echo "== 32-bit programs run in QEMU's emulator here: the win32 times are the emulator's"
fi
make_base_prefix "$out/base-prefix"

time_once() {
    local which=$1 program=$2 start end
    shift 2
    export WINEPREFIX="$out/run"
    rm -rf "$WINEPREFIX"
    cp -a "$out/sample" "$WINEPREFIX"
    # The copy's write-back would otherwise land in the middle of the timed run.
    sync
    wineserver -p
    "$WINE" cmd /c exit >/dev/null 2>&1
    start=$(date +%s%N)
    # Into a file, as the deploy scripts keep the log.
    "$WINE" "$program" "$@" >"$out/run.log" 2>/dev/null </dev/null
    end=$(date +%s%N)
    wineserver -k
    wineserver -w
    echo "$which $((end - start))" >>"$out/wine-times.txt"
}

baseline=${BENCH_BASELINE:-}
if [ -n "$baseline" ]; then
    rm -rf "$out/baseline"
    mkdir -p "$out/baseline"
    git archive "$baseline" | tar -x -C "$out/baseline"
fi

for build in $builds; do
    echo "== The whole removal under Wine, against its floor: $build build${baseline:+, and revision $baseline}"
    use_build "$build"
    cmake --preset "$build" >/dev/null
    cmake --build --preset "$build" -j"$(nproc)" >/dev/null
    fixtures="$PWD/build/$build/tests/e2e/fixtures"
    if [ -n "$baseline" ]; then
        (cd "$out/baseline" && cmake --preset "$build" >/dev/null &&
            cmake --build --preset "$build" --target KorvaneUninstall -j"$(nproc)" >/dev/null)
    fi

    # The demo's sample machine, once per build; each run gets a copy of it.
    export WINEPREFIX="$out/sample"
    WINDIR="$WINEPREFIX/drive_c/windows"
    rm -rf "$WINEPREFIX"
    cp -a "$out/base-prefix" "$WINEPREFIX"
    mkdir -p "$WINEPREFIX/drive_c/Downloads"
    cp "build/$build/KorvaneUninstall.exe" "$fixtures/RemovalFloor.exe" "$WINEPREFIX/drive_c/Downloads/"
    [ -z "$baseline" ] || cp "$out/baseline/build/$build/KorvaneUninstall.exe" "$WINEPREFIX/drive_c/Downloads/Baseline.exe"
    install_toolkit "$fixtures"
    install_unrelated "$fixtures"
    wineserver -w

    rm -f "$out/wine-times.txt"
    for _ in $(seq "${BENCH_RUNS:-5}"); do
        time_once program 'C:\Downloads\KorvaneUninstall.exe' /log
        [ -z "$baseline" ] || time_once baseline 'C:\Downloads\Baseline.exe' /log
        time_once floor 'C:\Downloads\RemovalFloor.exe'
    done
    python3 scripts/bench-report.py wine "$out/wine-times.txt"
done
rm -rf "$out/run" "$out/sample"
