# shellcheck shell=bash disable=SC2154  # $sudo comes from the script that sources this
# Package index and installs for the bootstrap scripts, sourced; $sudo is set before use.
# A mirror can serve an index that does not match its Release file (mid-sync, or a proxy that
# kept a stale copy). apt then keeps the indexes it did fetch, so a failed update is retried,
# then reported, and the install decides.
# Arguments: apt options, to update one source only, say.
apt_update() {
    local attempt
    for attempt in 1 2 3; do
        $sudo apt-get update -qq -o Acquire::Retries=3 "$@" && return 0
        [ "$attempt" -eq 3 ] || sleep $((attempt * 10))
    done
    echo "warning: apt-get update failed three times; installing from the indexes it fetched" >&2
}

# Without one architecture's security index, i386 libraries cannot match the versions of their
# amd64 twins (both must be equal). The release's own suite holds both at one version: take the
# packages from there, upgrading the amd64 twins to its point release where they are older.
apt_install() {
    local options=(-y -qq --no-install-recommends -o Acquire::Retries=3)
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install "${options[@]}" "$@" >/dev/null && return 0
    case " $* " in *" -t "*) return 1 ;; esac
    local suite
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$suite" ] || return 1
    echo "warning: installing from $suite alone, where every architecture has the same versions" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install "${options[@]}" -t "$suite" "$@" >/dev/null
}

# Those of the packages given that are not installed, one per line, a name with an architecture
# (wine32:i386) in that architecture: one dpkg-query for all, each reads dpkg's whole database.
not_installed() {
    { dpkg-query -W -f='${Package} ${Architecture} ${Status}\n' "$@" 2>/dev/null || true; } \
        | awk 'BEGIN { for (i = 1; i < ARGC; i++) wanted[ARGV[i]]; ARGC = 1 }
               / install ok installed$/ { delete wanted[$1]; delete wanted[$1 ":" $2] }
               END { for (package in wanted) print package }' "$@" | sort
}

installed() {
    [ -z "$(not_installed "$1")" ]
}
