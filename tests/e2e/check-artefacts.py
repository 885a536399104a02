#!/usr/bin/env python3
"""Reads back what the build put into KorvaneUninstall.exe: machine type, subsystem and its
version, the flags Windows reads (terminal-server aware, NX, ASLR), no link time, every
imported function (through objdump -p, as a reviewer would) against those the oldest Windows
the program is for has, and the resources: exactly one manifest holding only the trust
information, the version strings, and an icon. With --kit, the same of an executable of the
conformance kit, which has no version resource or icon."""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x0400, 0x8000

# Every function the shipped program may import. Each exists on Windows XP SP3: Microsoft
# documents Windows 2000 Professional as its minimum supported client, or Windows XP where
# marked; msvcrt.dll is the C runtime Windows XP ships.
XP_IMPORTS = {
    "KERNEL32.DLL": {
        "CloseHandle", "CreateProcessA", "CreateSemaphoreW", "DeleteCriticalSection",
        "DeleteFileA", "EnterCriticalSection", "FreeLibrary", "GetCurrentThreadId",
        "GetExitCodeProcess", "GetFileAttributesA", "GetLastError", "GetModuleHandleA",
        "GetModuleHandleW", "GetProcAddress", "GetStartupInfoA", "GetSystemDirectoryA",
        "GetWindowsDirectoryA", "InitializeCriticalSection", "IsDBCSLeadByteEx",
        "LeaveCriticalSection", "LoadLibraryA", "LoadLibraryExA", "MultiByteToWideChar",
        "RaiseException", "ReleaseSemaphore", "SetLastError", "SetUnhandledExceptionFilter",
        "Sleep", "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue", "VirtualProtect",
        "VirtualQuery", "WaitForSingleObject", "WideCharToMultiByte", "lstrcatA", "lstrcmpiA",
        "lstrcpyA", "lstrlenA",
        "RtlUnwind",  # Windows XP
    },
    "ADVAPI32.DLL": {
        "RegCloseKey", "RegDeleteKeyA", "RegEnumKeyExA", "RegOpenKeyExA", "RegQueryValueExA",
    },
    "USER32.DLL": {
        "DispatchMessageA", "MsgWaitForMultipleObjects", "PeekMessageA", "TranslateMessage",
        "wsprintfA",
    },
    "MSVCRT.DLL": {
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode",
        "__p__fmode", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_errno",
        "_initterm", "_iob", "_onexit", "_setjmp3", "abort", "atoi", "calloc", "exit", "fflush",
        "fprintf", "fputc", "fputs", "free", "fwrite", "getchar", "localeconv", "longjmp",
        "malloc", "memcpy", "memmove", "memset", "realloc", "setlocale", "signal", "strchr",
        "strcmp", "strerror", "strlen", "strncmp", "vfprintf", "wcslen",
    },
}
# The 64-bit test build is for Windows XP Professional x64 Edition and later; its exception
# dispatch and C runtime need these as well.
X64_IMPORTS = {
    "KERNEL32.DLL": {"RtlCaptureContext", "RtlLookupFunctionEntry", "RtlUnwindEx",
                     "RtlVirtualUnwind", "__C_specific_handler"},
    "MSVCRT.DLL": {"___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "_acmdln",
                   "_commode", "_fmode"},
}


# What the conformance kit's executables take beside, for GoogleTest and the C runtime's
# streams. Each is documented for Windows 2000 or XP; the msvcrt.dll functions are in the C
# runtime Windows NT 4.0 shipped, _fstat64, _stat64 and _localtime64 in Windows 2000's.
KIT_IMPORTS = {
    "KERNEL32.DLL": {
        "CreateDirectoryA", "CreateEventA", "CreateFileA", "CreatePipe", "CreateThread",
        "DebugBreak", "DuplicateHandle", "FormatMessageA", "GetCommandLineA", "GetCurrentProcess",
        "GetCurrentProcessId", "GetCurrentThread", "GetModuleFileNameA", "GetStdHandle",
        "GetSystemTimeAsFileTime", "GetTempFileNameA", "GetTempPathA", "GetThreadPriority",
        "GetTimeZoneInformation", "LoadLibraryW", "LocalFree", "OpenProcess", "OpenThread",
        "OutputDebugStringA", "RemoveDirectoryA", "ResumeThread", "SetErrorMode", "SetEvent",
        "SetThreadPriority", "WaitForMultipleObjects", "WriteFile",
    },
    "ADVAPI32.DLL": {"RegCreateKeyExA", "RegSetValueExA"},
    "MSVCRT.DLL": {
        "_close", "_creat", "_dup", "_dup2", "_exit", "_fdopen", "_filelengthi64", "_fileno",
        "_fstat64", "_getcwd", "_isatty", "_localtime64", "_lock", "_lseeki64", "_mkdir",
        "_nextafter", "_open_osfhandle", "_read", "_set_error_mode", "_stat", "_stat64",
        "_strdup", "_stricmp", "_unlock", "_wcsicmp", "_wfopen", "_write", "fclose", "fgetpos",
        "fopen", "fread", "fseek", "fsetpos", "ftell", "getc", "getenv", "getwc", "isalnum",
        "iscntrl", "islower", "isspace", "isupper", "iswctype", "isxdigit", "localtime",
        "memchr", "memcmp", "putc", "putwc", "remove", "setvbuf", "strcoll", "strftime",
        "strrchr", "strstr", "strtol", "strxfrm", "toupper", "towlower", "towupper", "ungetc",
        "ungetwc", "wcscmp", "wcscoll", "wcsftime", "wcsstr", "wcsxfrm",
    },
}


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            fail("no PE signature")
        self.machine, nsections, self.timestamp, _, _, optsize, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        ddir = opt + (96 if self.magic == 0x10B else 112)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, ddir + 2 * 8)
        self.load_config_rva, self.load_config_size = struct.unpack_from("<II", data, ddir + 10 * 8)
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
        found = {}
        if self.rsrc_size == 0:
            return found
        base = self.offset(self.rsrc_rva)

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


def imported_functions(dump):
    """(DLL, function) pairs of objdump -p's import tables."""
    pairs, dll = set(), None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r"\t[0-9a-f]+\s+\d+\s+(\S+)$", line)
        if dll and m:
            pairs.add((dll, m.group(1)))
        elif not line.strip():
            dll = None
    return pairs


def version_strings(block):
    """Key/value pairs of the StringFileInfo of a VS_VERSIONINFO block."""
    text = block.decode("utf-16-le", errors="replace")
    pairs = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductName",
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


def check_image(path, expected_machine, extra_imports):
    """The headers and imports; returns the image and what it imports."""
    data = open(path, "rb").read()
    pe = PeImage(data)
    if pe.machine != expected_machine:
        fail("%s: machine %#x, expected %#x" % (path, pe.machine, expected_machine))
    if pe.subsystem != 3:
        fail("%s: subsystem %d is not the console" % (path, pe.subsystem))

    if pe.subsystem_version > (5, 1 if expected_machine == 0x14C else 2):
        fail("%s: subsystem version %d.%02d is newer than Windows XP's" % ((path,) + pe.subsystem_version))
    flags = DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE
    if pe.dll_characteristics & flags != flags:
        fail("%s: DllCharacteristics %#06x lack ASLR, NX or terminal-server awareness"
             % (path, pe.dll_characteristics))
    if expected_machine == 0x14C:
        # The guard around foreign calls puts a handler of this image on the exception chain:
        # Windows refuses it in an image marked NO_SEH or one whose SafeSEH table lacks it.
        if pe.dll_characteristics & NO_SEH:
            fail("%s: marked NO_SEH, so the guard's exception handler would be refused" % path)
        if pe.load_config_size >= 0x48 and struct.unpack_from(
                "<I", data, pe.offset(pe.load_config_rva) + 0x44)[0] != 0:
            fail("%s: a SafeSEH table, which does not list the guard's exception handler" % path)
    if pe.timestamp != 0:
        fail("%s: a link time (%#x) makes two builds differ" % (path, pe.timestamp))

    dump = subprocess.run(["objdump", "-p", path], capture_output=True, text=True, check=True).stdout
    imports = imported_functions(dump)
    allowed = {dll: set(names) for dll, names in XP_IMPORTS.items()}
    for extra in [extra_imports] + ([X64_IMPORTS] if expected_machine == 0x8664 else []):
        for dll, names in extra.items():
            allowed[dll] |= names
    unknown = sorted("%s!%s" % (dll, name) for dll, name in imports if name not in allowed.get(dll, ()))
    if not imports or unknown:
        fail("%s imports what Windows XP may lack: %s" % (path, ", ".join(unknown) or "nothing at all"))
    return pe, imports


def describe(path, pe, imports):
    return "%s: %s, subsystem %d.%02d, DllCharacteristics %#06x, %d imports from %s" % (
        path, "PE32+" if pe.magic == 0x20B else "PE32", pe.subsystem_version[0], pe.subsystem_version[1],
        pe.dll_characteristics, len(imports), ", ".join(sorted({dll for dll, _ in imports})))


def check_manifest(path, res):
    """Elevation asked for, and nothing else: without a manifest, Windows would virtualise the
    writes of a 32-bit process that is not elevated instead of refusing them."""
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


def check(path, expected_machine, expected_revision=None):
    pe, imports = check_image(path, expected_machine, {})
    res = pe.resources()
    check_manifest(path, res)
    versions = [v for k, v in res.items() if k[0] == RT_VERSION]
    if len(versions) != 1:
        fail("%s: %d version resources" % (path, len(versions)))
    strings = version_strings(versions[0][0][1])
    expected = {"CompanyName": "Velmor", "ProductName": "Korvane",
                "FileDescription": "Velmor Korvane Uninstall utility",
                "OriginalFilename": "KorvaneUninstall.exe",
                # The holder LICENSE names, as it names it.
                "LegalCopyright": next(l.strip() for l in open(os.path.join(os.path.dirname(__file__), "..", "..", "LICENSE"))
                                       if l.startswith("Copyright"))}
    for key, value in expected.items():
        if strings.get(key) != value:
            fail("%s: %s is %r, expected %r" % (path, key, strings.get(key), value))
    if strings.get("FileVersion") != strings["fixed"]:
        fail("%s: FileVersion %r differs from the fixed version %s" % (path, strings.get("FileVersion"), strings["fixed"]))
    # The commit shows in the file's Properties, as "Product version".
    revision = re.fullmatch(re.escape(strings["fixed"]) + r" \((commit [0-9a-f]{40}(, modified)?|built without git)\)",
                            strings.get("ProductVersion", ""))
    if not revision or expected_revision not in (None, revision.group(1)):
        fail("%s: ProductVersion is %r, expected the version and %s" % (
            path, strings.get("ProductVersion"), expected_revision or "the commit"))

    groups = [k for k in res if k[0] == RT_GROUP_ICON]
    icons = [k for k in res if k[0] == RT_ICON]
    if len(groups) != 1 or len(icons) < 2:
        fail("%s: %d icon groups and %d icon images" % (path, len(groups), len(icons)))
    print("%s, version %s, %d icon images" % (describe(path, pe, imports), strings["ProductVersion"], len(icons)))


def check_kit(path, expected_machine):
    pe, imports = check_image(path, expected_machine, KIT_IMPORTS)
    check_manifest(path, pe.resources())
    print(describe(path, pe, imports))


if __name__ == "__main__":
    machines = {"i386": 0x14C, "x86-64": 0x8664}
    if sys.argv[1] == "--kit":
        check_kit(sys.argv[2], machines[sys.argv[3]])
    else:
        # An optional third argument names the revision the program must say it was built
        # from: "commit <id>" or "built without git".
        check(sys.argv[1], machines[sys.argv[2]], sys.argv[3] if len(sys.argv) > 3 else None)
