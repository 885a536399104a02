#!/usr/bin/env python3
"""pack.py ZIP EPOCH [--unsigned NAME=SHA256]... FILE...: a zip of the files, in the order given,
under their base names, and last SHA256SUMS, the SHA-256 of each file in sha256sum's format and
a line for each --unsigned name; with the time EPOCH and no owner, mode or host details, so the
same files give the same bytes."""
import hashlib
import os
import sys
import time
import zipfile


def main(out, epoch, arguments):
    unsigned, paths = [], []
    while arguments:
        if arguments[0] != "--unsigned":
            paths.append(arguments.pop(0))
        elif len(arguments) > 1 and "=" in arguments[1]:
            unsigned.append(arguments[1].split("=", 1))
            del arguments[:2]
        else:
            sys.exit(__doc__)
    if not paths:
        sys.exit(__doc__)
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times begin in 1980
    entries = []
    for path in paths:
        with open(path, "rb") as data:
            entries.append((os.path.basename(path), data.read()))
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in entries)
    sums += "".join("%s  %s\n" % (digest, name) for name, digest in unsigned)
    entries.append(("SHA256SUMS", sums.encode()))
    with zipfile.ZipFile(out, "w") as archive:
        for name, data in entries:
            entry = zipfile.ZipInfo(name, stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0
            entry.external_attr = 0
            archive.writestr(entry, data, compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
