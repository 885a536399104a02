#!/usr/bin/env python3
"""Reads back what the build put into KorvaneUninstall.exe: machine type, subsystem, the
imported DLLs (through objdump -p, as a reviewer would), and the resources: exactly one
manifest holding only the trust information, the version strings, and an icon."""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ALLOWED_IMPORTS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            fail("no PE signature")
        self.machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        ddir = opt + (96 if self.magic == 0x10B else 112)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, ddir + 2 * 8)
        self.sections = []
        sec = opt + optsize
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        fail("RVA %#x outside every section" % rva)

    def resources(self):
        """{(type, id): [(language, bytes)]} for numeric types and ids."""
        base = self.offset(self.rsrc_rva)
        found = {}

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                yield name, target

        for rtype, t in entries(0):
            for rid, r in entries(t & 0x7FFFFFFF):
                for lang, l in entries(r & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + l)
                    off = self.offset(rva)
                    found.setdefault((rtype, rid), []).append((lang, self.data[off:off + size]))
        return found


def version_strings(block):
    """Key/value pairs of the StringFileInfo of a VS_VERSIONINFO block."""
    text = block.decode("utf-16-le", errors="replace")
    pairs = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName",
                "ProductVersion", "OriginalFilename"):
        m = re.search(key + r"\x00+([^\x00]+)\x00", text)
        if m:
            pairs[key] = m.group(1)
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        fail("no VS_FIXEDFILEINFO in the version resource")
    ms, ls = struct.unpack_from("<II", block, fixed + 8)
    pairs["fixed"] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return pairs


def check(path, expected_machine):
    data = open(path, "rb").read()
    pe = PeImage(data)
    if pe.machine != expected_machine:
        fail("%s: machine %#x, expected %#x" % (path, pe.machine, expected_machine))
    if pe.subsystem != 3:
        fail("%s: subsystem %d is not the console" % (path, pe.subsystem))

    dump = subprocess.run(["objdump", "-p", path], capture_output=True, text=True, check=True).stdout
    imports = {m.upper() for m in re.findall(r"DLL Name: (\S+)", dump)}
    if not imports or not imports <= ALLOWED_IMPORTS:
        fail("%s imports %s" % (path, sorted(imports)))

    res = pe.resources()
    manifests = [(k, v) for k, v in res.items() if k[0] == RT_MANIFEST]
    if len(manifests) != 1 or manifests[0][0][1] != 1 or len(manifests[0][1]) != 1:
        fail("%s: expected exactly one RT_MANIFEST with id 1, found %s" % (path, [m[0] for m in manifests]))
    root = ET.fromstring(manifests[0][1][0][1])
    children = [c.tag.split("}")[1] for c in root]
    if children != ["trustInfo"]:
        fail("%s: the manifest holds %s besides the trust information" % (path, children))
    levels = root.findall(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
    if len(levels) != 1 or levels[0].get("level") != "requireAdministrator" or levels[0].get("uiAccess") != "false":
        fail("%s: execution level is %s" % (path, [l.attrib for l in levels]))

    versions = [v for k, v in res.items() if k[0] == RT_VERSION]
    if len(versions) != 1:
        fail("%s: %d version resources" % (path, len(versions)))
    strings = version_strings(versions[0][0][1])
    expected = {"CompanyName": "Velmor", "ProductName": "Korvane",
                "FileDescription": "Velmor Korvane Uninstall utility",
                "OriginalFilename": "KorvaneUninstall.exe"}
    for key, value in expected.items():
        if strings.get(key) != value:
            fail("%s: %s is %r, expected %r" % (path, key, strings.get(key), value))
    if strings.get("FileVersion") != strings["fixed"]:
        fail("%s: FileVersion %r differs from the fixed version %s" % (path, strings.get("FileVersion"), strings["fixed"]))

    groups = [k for k in res if k[0] == RT_GROUP_ICON]
    icons = [k for k in res if k[0] == RT_ICON]
    if len(groups) != 1 or len(icons) < 2:
        fail("%s: %d icon groups and %d icon images" % (path, len(groups), len(icons)))
    print("%s: %s, imports %s, version %s, %d icon images" % (
        path, "PE32+" if pe.magic == 0x20B else "PE32", ", ".join(sorted(imports)),
        strings["fixed"], len(icons)))


if __name__ == "__main__":
    machines = {"i386": 0x14C, "x86-64": 0x8664}
    check(sys.argv[1], machines[sys.argv[2]])
