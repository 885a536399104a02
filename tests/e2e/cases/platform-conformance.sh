#!/usr/bin/env bash
# The Win32 behaviour the simulated machine copies, checked against Wine with the same cases the
# unit tests run on the simulation: the executable of the conformance kit for real machines,
# alone in a folder. It leaves nothing behind, in the registry or on disk. KORVANE_CONFORMANCE_EXE
# names another copy of it to run, a signed one.
. "$(dirname "$0")/../lib.sh"
new_machine
cp "${KORVANE_CONFORMANCE_EXE:-$E2E_FIXTURES/korvane_conformance_tests.exe}" \
    "$DRIVE_C/work/korvane_conformance_tests.exe"
say_what_runs "$DRIVE_C/work/korvane_conformance_tests.exe"
before=$(machine_state)
wine_in_work 'C:\work\korvane_conformance_tests.exe' >"$CASE_DIR/stdout" 2>&1 || {
    tr -d '\r' <"$CASE_DIR/stdout" | grep -v '^\[       OK' >&2
    fail "the conformance cases fail on Wine"
}
tr -d '\r' <"$CASE_DIR/stdout" | tail -n 3
# A pass ends as the kit's README and docs/developing.md tell whoever runs it on Windows.
for readme in res/ConformanceKit.txt docs/developing.md; do
    promised=$(grep -o '\[  PASSED  \] [0-9]* tests\.' "$(dirname "$0")/../../../$readme") \
        || fail "$readme does not say what a pass looks like"
    tr -d '\r' <"$CASE_DIR/stdout" | grep -qxF "$promised" || fail "a pass does not end with $readme's $promised"
done
expect_machine_state "$before" "the conformance cases left something behind"
