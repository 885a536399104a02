#!/usr/bin/env bash
# One of the toolkit's libraries held open by another process without delete sharing: it is
# asked to unregister, stays, its error is logged, and the sweep goes on.
. "$(dirname "$0")/../lib.sh"
new_machine
install_toolkit "$E2E_FIXTURES"
cp "$E2E_FIXTURES/HoldFile.exe" "$DRIVE_C/Downloads/HoldFile.exe"

wine_in_work 'C:\Downloads\HoldFile.exe' 'C:\windows\syswow64\vlplotra.dll' 'C:\held.ready' &
holder=$!
wait_until 30 test -e "$DRIVE_C/held.ready" || fail "the holder never held the library"

expect_exit_zero /log
kill "$holder" 2>/dev/null || true
sed -n '/^\[Info\] DeleteKorvaneFiles/,$p' "$CASE_DIR/stdout" >"$CASE_DIR/sweep"
mv "$CASE_DIR/sweep" "$CASE_DIR/stdout"
{
    cat <<'LOG'
[Info] DeleteKorvaneFiles...
Looking for: [C:\windows\syswow64\vlkorvan.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlwarden.dll] - exists.  asking it to unregister deleted ok
Looking for: [C:\windows\syswow64\vlplotra.dll] - exists.  asking it to unregister delete failed: 00000020
Looking for: [C:\windows\syswow64\vltemplo.dll] - exists.  asking it to unregister deleted ok
LOG
    removal_end
} | expect_stdout
expect_file_kept "$WINDIR/syswow64/vlplotra.dll"
expect_key_gone "HKLM\\Software\\Classes\\CLSID\\$(library_clsid vlplotra)"
expect_file_gone "$WINDIR/syswow64/vltemplo.dll"
