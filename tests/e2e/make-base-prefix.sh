#!/usr/bin/env bash
# Makes the Wine prefix every end-to-end case of one build copies, in <work>/base-prefix, and
# notes in <work> how Wine is started on this machine (wine-command) and, for the 32-bit build,
# why its cases cannot run here, if they cannot. The prefix is made again whenever the
# installed Wine packages change: one made before wine32 was installed no longer starts
# programs.
set -euo pipefail
work=$1 build=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
rm -f "$work/skip-reason"
. "$here/wine.sh"
choose_wine "$work" || true
echo "$WINE" >"$work/wine-command"
if [ "$build" = win32 ] && [ -n "$WHY_NOT_32BIT" ]; then
    echo "$WHY_NOT_32BIT" >"$work/skip-reason"
fi
make_base_prefix "$work/base-prefix"
