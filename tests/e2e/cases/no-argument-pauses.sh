#!/usr/bin/env bash
# Started without arguments: the log, then the prompt, shown before the program waits for a key.
. "$(dirname "$0")/../lib.sh"
new_machine

fifo="$CASE_DIR/keyboard"
mkfifo "$fifo"
(cd "$DRIVE_C/work" && exec "$WINE" "$PROGRAM") <"$fifo" >"$CASE_DIR/stdout" 2>"$CASE_DIR/stderr" &
pid=$!
exec 3>"$fifo"

prompt='Press any key to continue ...'
prompted() {
    [ "$(tail -c ${#prompt} "$CASE_DIR/stdout")" = "$prompt" ]
}
wait_until 60 prompted || fail "no prompt before the read"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended without waiting for a key"

printf 'k' >&3
exec 3>&-
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"
expect_stdout_bytes "$(printf 'Velmor Korvane Uninstall utility.\n'; clean_machine_log)
$prompt"
