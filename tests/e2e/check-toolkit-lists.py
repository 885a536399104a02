#!/usr/bin/env python3
"""check-toolkit-lists.py SOURCE_TREE: every list of the toolkit, held to the program's tables in
src/removal/KorvaneTables.cpp: the deployment scripts' and tests/e2e/toolkit.sh's lists must be
those tables in their order, and each document must name every entry, and nothing that looks
like one of the toolkit's (a CLSID, an INF or OSD file, a vl* binary) but is not. Prints what
differs and exits 1."""
import re
import sys

LOOKALIKE = re.compile(r"\{[0-9A-F]{8}-(?:[0-9A-F]{4}-){3}[0-9A-F]{12}\}|\b\w+\.(?:inf|osd)\b|"
                       r"\bvl\w*\.(?:dll|exe)\b", re.I)
POWERSHELL = {"units": r"^\$units = (.*)", "inf": r"^\$infFiles = (.*)",
              "system": r"^\$systemFiles = ((?:.*,\n)*.*)", "downloads": r"^\$downloadFiles = (.*)"}
LISTS = {"deploy/korvane-deploy.cmd": {"units": r'^set "unit_list=(.*)"', "inf": r'^set "inf_list=(.*)"',
                                       "system": r'^set "system_list=(.*)"', "downloads": r'^set "download_list=(.*)"'},
         "deploy/korvane-deploy.ps1": POWERSHELL, "deploy/korvane-detect.ps1": POWERSHELL,
         # The tests' toolkit names its binaries without their extensions.
         "tests/e2e/toolkit.sh": {"inf": r'^readonly TOOLKIT_INF_FILES="(.*)"',
                                  "system": r'^readonly TOOLKIT_LIBRARIES="(.*)"\n(?:.*\n)*?readonly TOOLKIT_PROGRAMS="(.*)"'}}


def main(source):
    read = lambda path: open("%s/%s" % (source, path)).read().replace("\r\n", "\n")
    strings = lambda name: re.findall(r'"([^"]*)"', re.search(r"\b%s\[\d+\] = \{(.*?)\};" % name,
                                                               read("src/removal/KorvaneTables.cpp"), re.S).group(1))
    # A unit's row is its library and its CLSID; an INF file's its name and its component.
    tables = {"units": strings("g_DistributionUnits")[1::2], "inf": strings("g_InfFiles")[::2],
              "system": strings("g_SystemFiles"), "downloads": strings("g_DownloadFiles")}
    faults = []
    for path, patterns in LISTS.items():
        for table, pattern in patterns.items():
            given = re.search(pattern, read(path), re.M)
            names = given and re.findall(r"[^\s',]+", " ".join(given.groups()))
            if path.startswith("tests/") and names and table == "system":
                names = [name + (".dll" if i < len(given.group(1).split()) else ".exe") for i, name in enumerate(names)]
            if names != tables[table]:
                faults.append("%s: %s is %s, the program's table %s" % (path, table, names, tables[table]))
    known = {name.lower() for names in tables.values() for name in names}
    for path in ("README.md", "docs/deploying.md", "res/README.txt"):
        named = {name.lower() for name in LOOKALIKE.findall(read(path))}
        faults += ["%s names %s, which the program does not remove" % (path, name) for name in sorted(named - known)]
        faults += ["%s does not name %s, which the program removes" % (path, name) for name in sorted(known - named)]
    print("\n".join(faults), end="\n" if faults else "")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else __doc__)
