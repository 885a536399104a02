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
build_preset() {
    local preset=$1 options=()
    echo "== build $preset"
    # The 32-bit cases run the program of the tree the release test releases, which then relies on
    # their passes: each case runs once on the bytes that ship.
    [ "$preset" != win32 ] || options=(-DKORVANE_RELEASE_TREE=ON)
    cmake --preset "$preset" ${options[@]+"${options[@]}"} >/dev/null && cmake --build --preset "$preset" -j"$jobs"
}

# Under load, Wine now and then fails to start a process (CreateProcess says 1359) or ends reg
# with 1, for no fault of the program: there a case that fails runs once more. Its first output
# stays in the log, the cases that needed the second run are named, and one that fails twice fails.
second_runs() {
    local tried failed
    tried=$(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) \.*\*\*\*\(Failed\|Exception\|Timeout\).*/\1/p' "$1" | sort -u)
    failed=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$1" | sort -u)
    comm -23 <(printf '%s\n' "$tried") <(printf '%s\n' "$failed") | paste -sd' ' | sed 's/^ *//'
}

test_preset() {
    local preset=$1 parallel=${2:-$jobs} repeat=() again status=0
    echo "== test $preset"
    case $preset in win32|win64) repeat=(--repeat until-pass:2) ;; esac
    ctest --preset "$preset" -j"$parallel" "${repeat[@]}" --output-log "build/$preset/ctest.log" || status=1
    again=$(second_runs "build/$preset/ctest.log")
    [ -z "$again" ] || echo "== passed only on a second run: $again"
    # CTest shows a skipped case without the reason its script gave.
    if [ -f "build/$preset/e2e-work/skip-reason" ]; then
        echo "== every e2e.$preset case skipped: $(cat "build/$preset/e2e-work/skip-reason")"
    fi
    return $status
}

# The 32-bit tests take longest, and their release test at the end mostly waits on one process
# at a time: they start first, and the 64-bit tests run beside them one at a time, so that they
# fill the core it leaves idle rather than slow the cases it waits for. The rest is built and
# tested meanwhile at the lowest priority, in what the Windows tests leave of the machine; the
# fuzz targets, which run for a fixed time, at full priority. What the Windows tests said follows.
status=0 running=()
if build_preset win32; then
    test_preset win32 >build/win32/test.out 2>&1 &
    running+=("win32=$!")
else
    status=1
fi
if build_preset win64; then
    test_preset win64 1 >build/win64/test.out 2>&1 &
    running+=("win64=$!")
else
    status=1
fi
# A subshell of its own, made the lowest priority, with all it runs.
(
    renice -n 19 -p "$BASHPID" >/dev/null
    status=0
    for preset in native native-sanitize fuzz; do
        build_preset "$preset" || { status=1; continue; }
        [ "$preset" = fuzz ] || test_preset "$preset" || status=1
    done
    exit $status
) || status=1
test_preset fuzz || status=1
for job in ${running[@]+"${running[@]}"}; do
    wait "${job#*=}" || status=1
    cat "build/${job%=*}/test.out"
done
exit $status
