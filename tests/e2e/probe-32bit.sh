#!/usr/bin/env bash
# Whether this machine can run the shipped 32-bit program under Wine: the kernel must execute
# 32-bit code and Wine's 32-bit loader must be installed. Silent with status 0 when it can;
# otherwise one line saying why, and status 1. The argument is a directory to probe in.
set -u
probe="${1:?a scratch directory}/probe-i386"
mkdir -p "$1"
# The smallest i386 Linux program: one ELF header, one program header, exit(0) via int 0x80.
printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00' \
    '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
if ! error=$("$probe" 2>&1); then
    echo "this kernel cannot run 32-bit programs (${error##*: })"
    exit 1
fi
if [ ! -x /usr/lib/wine/wine ]; then
    echo "Wine's 32-bit loader is not installed (package wine32:i386)"
    exit 1
fi
