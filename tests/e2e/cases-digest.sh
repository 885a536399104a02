#!/usr/bin/env bash
# Prints the SHA-256 of the end-to-end cases as they stand: every file under tests/e2e, by
# name and content. A note that a case passed holds it, so that a changed case, a changed
# fixture or changed helpers make every earlier pass count for nothing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
find . -type f ! -path '*/__pycache__/*' -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1
