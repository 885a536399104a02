#!/usr/bin/env bash
# Makes TREE the source tree as it stands, committed in a repository of its own, as a release is
# made of a commit: the same files give the same commit, and so the same program. With --build,
# builds that program where release.sh builds it, for the end-to-end cases to run before its
# release: a release of the same bytes then relies on their passes instead of running them again.
# Arguments: the source tree, TREE, and --build to build the program.
set -euo pipefail
source=$1 tree=$2
mkdir -p "$tree"
# Its build folder stays: the notes of the cases that passed are there, and the build goes faster.
find "$tree" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
tar -C "$source" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree" -xf -
# Changes gathered under [Unreleased] wait for a version of their own; what is released here is
# the version the tree names, so that the suite passes between releases too.
awk '/^## / { waiting = $0 == "## [Unreleased]"; print; if (waiting) print ""; next } !waiting' \
    "$source/CHANGELOG.md" >"$tree/CHANGELOG.md"
git() { command git -C "$tree" -c user.name=Release -c user.email=release@korvane.invalid "$@"; }
git init -q
git add -A
GIT_AUTHOR_DATE=@1796700000 GIT_COMMITTER_DATE=@1796700000 git commit -q -m "the tree under test"
if [ "${3:-}" = --build ]; then
    log="$tree/build/tree.log"
    mkdir -p "$tree/build"
    (cd "$tree" && cmake --preset win32 -B build/release && cmake --build build/release --target KorvaneUninstall -j"$(nproc)") \
        >"$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }
fi
