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
    # The 32-bit cases run the program of the tree the release test releases, which then relies on
    # their passes: each case runs once on the bytes that ship.
    options=()
    [ "$preset" != win32 ] || options=(-DKORVANE_RELEASE_TREE=ON)
    cmake --preset "$preset" ${options[@]+"${options[@]}"} >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
done

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

status=0
for preset in native native-sanitize fuzz; do
    test_preset "$preset" || status=1
done
# The release test at the end of the 32-bit tests mostly waits on one process at a time: the
# 64-bit tests run beside them one at a time, so that they fill the core it leaves idle rather
# than slow the 32-bit cases it waits for; what they said follows.
test_preset win64 1 >build/win64/test.out 2>&1 &
win64=$!
test_preset win32 || status=1
wait "$win64" || status=1
cat build/win64/test.out
exit $status
