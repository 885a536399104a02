#!/usr/bin/env bash
# A deployment tool ends the program (TerminateProcess, as taskkill /f does) while the INF
# section it waits for hangs: the log it wrote to a file so far is all there and ends with the
# line that names that INF file. Run again with an INF engine that ends, the program leaves the
# machine exactly as one run that was never cut off.
. "$(dirname "$0")/../lib.sh"
readonly HANGING_INF='C:\windows\Downloaded Program Files\vlwarden.inf'

new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
expect_exit_zero /log
full_removal_log | expect_stdout
uninterrupted=$(machine_state)

new_machine
install_toolkit "$E2E_FIXTURES"
install_unrelated "$E2E_FIXTURES"
engine="$WINDIR/$PROCESS_SYSTEM32/rundll32.exe"
cp "$engine" "$CASE_DIR/rundll32.exe"
cp "$E2E_FIXTURES/BlockingRundll32.exe" "$engine"
(cd "$DRIVE_C/work" && WINEDLLOVERRIDES="$WINDOWS_SEARCH_ORDER" exec "$WINE" "$PROGRAM" /log) \
    </dev/null >"$CASE_DIR/stdout" 2>"$CASE_DIR/stderr" &
program=$!
wait_until 60 test -f "$DRIVE_C/blocking-rundll32.log" \
    || fail "the program did not come to wait for the INF engine"
[ "$(tr -d '\r' <"$DRIVE_C/blocking-rundll32.log")" = \
  "rundll32.exe advpack.dll,LaunchINFSection $HANGING_INF,DefaultUninstall,1" ] \
    || fail "the program did not come to wait for the INF engine"
# The 64-bit taskkill, as a deployment agent's: a 32-bit one cannot read a 64-bit process's name.
(cd "$DRIVE_C/work" && /usr/lib/wine/wine64 taskkill /f /im KorvaneUninstall.exe) >"$CASE_DIR/taskkill" 2>&1 \
    || fail "taskkill could not end the program: $(cat "$CASE_DIR/taskkill")"
wait "$program" || true
touch "$DRIVE_C/blocking-rundll32.go"
full_removal_log | sed -n "1,/^	INF file: \[${HANGING_INF//\\/\\\\}\]\$/p" | expect_stdout

# Again, with the system's own INF engine, once the hanging one has ended.
wait_until 60 test ! -f "$DRIVE_C/blocking-rundll32.go" || fail "the hanging INF engine did not end"
cp "$CASE_DIR/rundll32.exe" "$engine"
rm "$DRIVE_C/blocking-rundll32.log"
expect_exit_zero /log
full_removal_log | expect_stdout
expect_machine_state "$uninterrupted" "the machine differs from one run that was never cut off"
