#!/usr/bin/env bash
# The Win32 behaviour the simulated machine copies, checked against Wine with the same cases
# the unit tests run on the simulation.
. "$(dirname "$0")/../lib.sh"
new_machine
cp "$E2E_FIXTURES/korvane_conformance_tests.exe" "$DRIVE_C/work/"
wine_in_work 'C:\work\korvane_conformance_tests.exe' >"$CASE_DIR/stdout" 2>&1 || {
    tr -d '\r' <"$CASE_DIR/stdout" | grep -v '^\[       OK' >&2
    fail "the conformance cases fail on Wine"
}
tr -d '\r' <"$CASE_DIR/stdout" | tail -n 3
