#!/usr/bin/env bash
# Every test: every file's licence is machine-readable; the shell scripts pass shellcheck; the
# unit tests on the simulated machine, plainly and under ASan/UBSan; a short run of the libFuzzer
# targets; what the two Windows builds are made of; the real program under Wine, each build as
# the process it is on 64-bit Windows; the release script. KORVANE_REQUIRE_WIN32=1 makes a
# machine that cannot run the shipped 32-bit build fail rather than skip its cases.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

echo "== licences"
reuse lint --quiet || { reuse lint | tail -n 20; exit 1; }

echo "== shell scripts"
# The release, the set-up and the cases are shell: what shellcheck warns of there (an unquoted
# substitution, a variable never set, rm -rf of what may be empty) signs or deletes the wrong thing.
mapfile -t scripts < <(find .ci scripts tests -type f \( -name '*.sh' -o -path .ci/run \) | sort)
shellcheck --external-sources --source-path=SCRIPTDIR --severity=warning "${scripts[@]}"

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
    # CTest shows a skipped case without the reason its script gave.
    if [ -f "build/$preset/e2e-work/skip-reason" ]; then
        echo "== every e2e.$preset case skipped: $(cat "build/$preset/e2e-work/skip-reason")"
    fi
done
exit $status
