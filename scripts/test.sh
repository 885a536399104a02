#!/usr/bin/env bash
# Every test: the unit tests on the simulated machine, plainly and under ASan/UBSan; a short
# run of the libFuzzer targets; what the two Windows builds are made of; the real program
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

jobs=$(nproc)
for preset in native native-sanitize fuzz win32 win64; do
    echo "== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
done

status=0
for preset in native native-sanitize fuzz win32 win64; do
    echo "== test $preset"
    ctest --preset "$preset" -j"$jobs" || status=1
done
exit $status
