#!/usr/bin/env python3
"""pack.py ZIP EPOCH FILE...: a zip of the files, in the order given, under their base names,
with the time EPOCH and no owner, mode or host details, so the same files give the same bytes."""
import os
import sys
import time
import zipfile


def main(out, epoch, paths):
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times begin in 1980
    with zipfile.ZipFile(out, "w") as archive:
        for path in paths:
            entry = zipfile.ZipInfo(os.path.basename(path), stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0
            entry.external_attr = 0
            with open(path, "rb") as data:
                archive.writestr(entry, data.read(), compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
