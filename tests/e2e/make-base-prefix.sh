#!/usr/bin/env bash
# Makes the Wine prefix every end-to-end case of one build copies, <work>/base-prefix, and
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
# One prefix, in this user's cache, serves every build of every checkout: making one takes half a
# minute here, and the release test would make two more for the builds of its release.
store="${XDG_CACHE_HOME:-${HOME:?}/.cache}/korvane"
mkdir -p "$store"
exec 9>"$store/wine-prefix.lock"
flock 9
make_base_prefix "$store/wine-prefix"
[ -L "$work/base-prefix" ] || rm -rf "$work/base-prefix"
ln -sfn "$store/wine-prefix" "$work/base-prefix"
