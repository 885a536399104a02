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

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
