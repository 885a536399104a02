#!/usr/bin/python3
"""What a release says about where its programs come from, read from the build itself: which
archive members each link took (its map), the Debian packages they and every other file the
build ran or read belong to, each member's licence as its package's copyright file gives it, the
notices those licences ask binaries to carry, an SPDX 2.3 SBOM and BUILDINFO.txt. Needs Debian's
python3, with python3-debian and python3-license-expression."""
import argparse
import fnmatch
import glob
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import textwrap
import time

from debian.copyright import Copyright, NotMachineReadableError
from license_expression import get_spdx_licensing

HERE = os.path.dirname(os.path.abspath(__file__))
# The one copyright holder, as LICENSE says it.
COPYRIGHT = next(line.strip() for line in open(os.path.join(HERE, "..", "..", "LICENSE")) if line.startswith("Copyright"))
AUTHORS = re.sub(r"^Copyright \(c\) [0-9, -]+ ", "", COPYRIGHT)
LIST = "scripts/release/components.json"
CATALOGUE = json.load(open(os.path.join(HERE, "components.json")))
AND_OR = r"\s+(and|or)\s+"
OWNED = {}  # dpkg's answers so far: an SBOM asks for every linked file


class Refusal(Exception):
    pass


def output(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def sha(algorithm, path):
    return hashlib.new(algorithm, open(path, "rb").read()).hexdigest()


# What the links took, and under which licences ---------------------------------------------------

def linked(map_path):
    """{file: {members}}: the archives that gave members and the objects loaded whole, each its own
    member, by absolute path. The map names what the build made from the folder the link ran in:
    the one that holds the linked target's CMakeFiles/<target>.dir."""
    taken, in_archives = {}, False
    for line in open(map_path, encoding="utf-8", errors="replace"):
        if line.startswith("Archive member included"):
            in_archives = True
        elif line.startswith(("Discarded input sections", "Memory Configuration")):
            in_archives = False
        elif in_archives and (m := re.match(r"([^\s(]+?\.a)\(([^)]+)\)", line)):
            taken.setdefault(m.group(1), set()).add(m.group(2))
        if m := re.match(r"LOAD (\S+\.o)$", line.rstrip("\n")):
            taken.setdefault(m.group(1), set()).add(os.path.basename(m.group(1)))
    if not any(os.path.isabs(f) for f in taken):
        raise Refusal("%s names nothing from the toolchain: is it a linker map?" % map_path)
    build = os.path.dirname(os.path.abspath(map_path))
    where = [os.path.dirname(os.path.dirname(d)) for p in taken if (m := re.match(r"CMakeFiles/[^/]+\.dir", p))
             for d in open(os.path.join(build, "CMakeFiles", "TargetDirectories.txt")).read().split() if d.endswith("/" + m.group(0))] + [build]
    return {os.path.normpath(os.path.join(where[0], p)): members for p, members in taken.items()}


def made(path, map_paths):
    """Whether a build of the maps made the file: it lies in that build's folder."""
    return any(path.startswith(os.path.dirname(os.path.abspath(m)) + os.sep) for m in map_paths)


def owners(paths):
    """{path: Debian package} through dpkg -S, following a symbolic link where dpkg knows only its
    target; a package keeps its architecture where several are installed."""
    def ask(candidates):
        if not candidates:
            return {}
        answer = subprocess.run(["dpkg", "-S"] + sorted(set(candidates.values())), capture_output=True, text=True)
        found = dict(reversed(line.split(": ", 1)) for line in answer.stdout.splitlines() if ": " in line)
        return {path: found[c].split(",")[0] for path, c in candidates.items() if c in found}

    OWNED.update(ask({p: p for p in paths if p not in OWNED}))
    OWNED.update(ask({p: os.path.realpath(p) for p in paths if p not in OWNED}))
    if unowned := sorted(set(paths) - set(OWNED)):
        raise Refusal("no Debian package owns %s" % ", ".join(unowned))
    return {p: OWNED[p] for p in paths}


def packages(names):
    """{package: (name, version, architecture)} as dpkg knows them."""
    answer = output("dpkg-query", "-W", "-f", "${binary:Package}\t${Package}\t${Version}\t${Architecture}\n", *names)
    facts = {line.split("\t")[0]: tuple(line.split("\t")[1:]) for line in answer.splitlines()}
    return {n: facts.get(n) or next(f for key, f in facts.items() if key.split(":")[0] == n) for n in names}


def dwarf_sources(path, members):
    """{member: the source file its DWARF names}, for the members built with DWARF."""
    with tempfile.TemporaryDirectory() as scratch:
        if path.endswith(".a"):
            subprocess.run(["ar", "x", path] + sorted(members), cwd=scratch, check=True)
        dump = output("objdump", "--dwarf=info", *([os.path.join(scratch, m) for m in members] if path.endswith(".a") else [path]))
    sources, current = {}, None
    for line in dump.splitlines():
        if m := re.match(r"(\S+):\s+file format ", line):
            current = os.path.basename(m.group(1))
        elif current not in sources and (m := re.search(r"DW_AT_name\s*:(?: \(.*?\):)? (\S+)$", line)):
            sources[current] = os.path.normpath(m.group(1))
    return sources


def member_licences(component, path, members, package, document):
    """{member: (SPDX expression, where it comes from)}: the copyright file's paragraph of the
    member's source, from its DWARF or a rule of the catalogue, or the rule that gives its licence."""
    sources, result = dwarf_sources(path, members), {}
    for member in sorted(members):
        rule = next((r for r in component["members"] if any(fnmatch.fnmatchcase(member, p) for p in r["match"])), {})
        source = sources.get(member) or rule.get("source")
        if document and source:
            paragraph = document.find_files_paragraph(source)
            names = re.split(AND_OR, paragraph.license.synopsis)
            if unknown := [n for n in names[::2] if n not in component["spdx"]]:
                raise Refusal("the copyright file of %s gives %s, which the link took as %s(%s), the licence %s, which %s maps "
                              "to no SPDX identifier: add it there" % (package, source, os.path.basename(path), member, " and ".join(unknown), LIST))
            result[member] = (" ".join(component["spdx"].get(n, n.upper()) for n in names), paragraph)
        elif "licence" in rule:
            result[member] = (rule["licence"], rule)
        else:
            raise Refusal("the link took %s(%s), whose licence %s cannot tell: add a rule for it there, with its "
                          "notices" % (os.path.basename(path), member, LIST))
    return result


def notices_of(component, document, text, used):
    """(notices, {LicenseRef: text}) of the licences the members have: from a machine-readable
    copyright file, each licence's copyright lines and text; from a free-form one, the excerpts
    the members' rules name."""
    if document is None:
        lines, parts = text.splitlines(), []
        for name in dict.fromkeys(n for _, rule in used for n in rule["excerpts"]):
            start, end = CATALOGUE["excerpts"][name]["from"], CATALOGUE["excerpts"][name]["to"]
            if start not in lines or end not in lines[lines.index(start):]:
                raise Refusal("the copyright file no longer holds the text from %r to %r" % (start, end))
            parts.append("\n".join(lines[lines.index(start):lines.index(end, lines.index(start)) + 1]))
        return parts, {}
    texts, holders = {p.license.synopsis: p.license.text for p in document.all_license_paragraphs()}, {}
    for _, paragraph in used:
        names = re.split(AND_OR, paragraph.license.synopsis)[::2]
        if len(names) == 1 and paragraph.license.text:
            texts.setdefault(names[0], paragraph.license.text)
        for name in names:
            lines = holders.setdefault(name, [])
            lines += [line.strip() for line in paragraph.copyright.splitlines() if line.strip() not in lines]
    parts, refs = [], {}
    for name, lines in holders.items():
        if not texts.get(name, "").strip():
            raise Refusal("the copyright file has no text for the licence %s" % name)
        if component["spdx"][name].startswith("LicenseRef-"):
            refs[component["spdx"][name]] = texts[name].strip("\n")
        parts.append("Copyright: %s\nLicense: %s\n\n%s" % ("\n           ".join(lines), name, texts[name].strip("\n")))
    return parts, refs


def expression(licences):
    """The licence of what a component gave: that of each member, once, parsed as SPDX."""
    return " AND ".join(sorted({e if " OR " not in e else "(%s)" % e for m in licences.values() for e, _ in m.values()}))


def components(map_paths):
    """[(component, {file: {member: (SPDX expression, where from)}}, {package: facts}, [notices],
    {LicenseRef: text})] in the catalogue's order, for what the links took."""
    taken = {}
    for map_path in map_paths:
        for path, members in linked(map_path).items():
            taken.setdefault(path, set()).update(members)
    toolchain = owners([p for p in taken if not made(p, map_paths)])
    found = {}
    for path in sorted(taken):
        component = next((c for c in CATALOGUE["components"] if os.path.basename(path) in c["files"]), None)
        if path in toolchain and (component is None or "built_from" in component):
            raise Refusal("the link took %s (Debian package %s), which no component in %s covers: add it there with "
                          "its notices" % (path, toolchain[path], LIST))
        if path not in toolchain and os.path.basename(path) in CATALOGUE["own"]:
            continue
        if path not in toolchain and (component is None or "built_from" not in component):
            raise Refusal("the link took %s, which the build made but which is neither this project's own nor built from "
                          "a component in %s: add it there with its notices" % (os.path.basename(path), LIST))
        package = toolchain.get(path) or owners([component["built_from"]])[component["built_from"]]
        found.setdefault(component["name"], {})[path] = package
    result = []
    for component in (c for c in CATALOGUE["components"] if c["name"] in found):
        files, licences, notices, refs = found[component["name"]], {}, [], {}
        for package in sorted(set(files.values())):
            name = package.split(":")[0]
            text = open("/usr/share/doc/%s/copyright" % name, encoding="utf-8").read()
            try:
                document = Copyright(text.splitlines(keepends=True))
            except NotMachineReadableError:
                document = None
            for path in (p for p in sorted(files) if files[p] == package):
                licences[path] = member_licences(component, path, taken[path], package, document)
            parts, package_refs = notices_of(component, document, text, [l for p in licences if files[p] == package
                                                                          for l in licences[p].values()])
            notices += [p for p in parts if p not in notices]
            refs.update(package_refs)
        # Known SPDX identifiers only, and LicenseRef-s whose texts the notices carry.
        info = get_spdx_licensing().validate(expression(licences))
        if info.errors and (not info.invalid_symbols or set(info.invalid_symbols) - set(refs)):
            raise Refusal("%r is no SPDX licence expression with known identifiers: %s" % (expression(licences), "; ".join(info.errors)))
        result.append((component, licences, packages(sorted(set(files.values()))), notices, refs))
    return result


# The tools that made the release -----------------------------------------------------------------

def toolchain_files(build_dir, map_paths):
    """Every file of the toolchain the build ran or read: compilers and binary utilities, the build
    tools, the system headers the linked targets included, what the links took."""
    cache = open(os.path.join(build_dir, "CMakeCache.txt")).read()
    tools = set(re.findall(r"^(?:CMAKE_AR|CMAKE_RANLIB|CMAKE_LINKER|CMAKE_MAKE_PROGRAM|CMAKE_COMMAND):\w+=(.+)$", cache, re.M))
    for path in glob.glob(os.path.join(build_dir, "CMakeFiles", "*", "CMake*Compiler.cmake")):
        tools.update(re.findall(r'^set\(CMAKE_(?:C|CXX|RC)_COMPILER "([^"]+)"\)', open(path).read(), re.M))
    tools = {t if os.path.isabs(t) else output("sh", "-c", 'command -v "$0"', t).strip() for t in tools}
    compiler = next(t for t in tools if t.endswith("g++") or "g++-" in t)
    tools |= {output(compiler, "-print-prog-name=" + p).strip() for p in ("cc1plus", "as", "ld", "collect2")}
    taken = [p for m in map_paths for p in linked(m)]
    built = {m.group(1) or m.group(2) for p in taken if made(p, map_paths)
             for m in [re.search(r"CMakeFiles/(.+?)\.dir/|lib([^/]+)\.a$", p)] if m}
    targets = open(os.path.join(build_dir, "CMakeFiles", "TargetDirectories.txt")).read().split()
    for target in (t for t in targets if os.path.basename(t)[:-len(".dir")] in built):
        for depfile in glob.glob(os.path.join(target, "**", "*.d"), recursive=True):
            tools.update(re.findall(r"(?<![^\s])(/usr/\S+)", open(depfile).read().replace("\\\n", " ")))
    return {os.path.normpath(p) for p in tools} | {p for p in taken if not made(p, map_paths)}


def release_tools(signed_with):
    """What made the zip: python3 and the zlib it deflates with, and, in a signed release, each
    signing tool, osslsigncode with the OpenSSL it loads."""
    def loads(program, library):
        return re.findall(r"=> (\S*%s\S*) \(" % library, output("ldd", program))

    paths = [os.path.realpath(sys.executable)] + loads(sys.executable, "libz")
    for tool in signed_with:
        paths += [tool] + (loads(tool, "libcrypto") if os.path.basename(tool) == "osslsigncode" else [])
    return owners(paths)


# What goes into the zips -------------------------------------------------------------------------

def notices(args):
    """THIRD-PARTY-NOTICES.txt for the programs, each given as NAME=MAP."""
    names, maps = zip(*(p.split("=", 1) for p in args.programs))
    are, them, maps_word = ("is", "it", "map") if len(names) == 1 else ("are", "them", "maps")
    rule = "=" * 78
    text = ["Third-party notices for %s %s" % (" and ".join(names), args.version), rule, ""]
    text += textwrap.wrap(
        "%s %s licensed under the MIT licence (LICENSE.txt). The build linked the components below into "
        "%s. The list is read from the link %s of this very build; each entry names the component, the "
        "Debian package and version it came from, its licence as an SPDX expression, made of those of the "
        "files it gave, and the notices they ask binaries to carry, as that package's copyright file gives "
        "them." % (" and ".join(names), are, them, maps_word), 90) + [""]
    given = {}
    for number, (component, licences, found, parts, _) in enumerate(components(maps), 1):
        text += [rule, "%d. %s" % (number, component["name"]), rule,
                 "Debian package: %s" % ", ".join("%s %s" % facts[:2] for facts in found.values()),
                 "Licence (SPDX): %s" % expression(licences),
                 "Linked from:    %s" % ", ".join(sorted({os.path.basename(p) for p in licences})), ""]
        if tuple(parts) in given:
            text += ["The notices are those of %d above." % given[tuple(parts)], ""]
            continue
        given[tuple(parts)] = number
        for part in parts:
            text += [part, "", "-" * 78, ""]
    open(args.out, "w", encoding="utf-8", newline="\r\n").write("\n".join(text).rstrip("\n-") + "\n")


def buildinfo(args):
    """BUILDINFO.txt: the exact Debian packages that built, packed and signed the release."""
    files = toolchain_files(args.build, [os.path.join(args.build, "KorvaneUninstall.map")])
    found = packages(sorted(set(owners(sorted(files)).values()) | set(release_tools(args.signed_with).values())))
    osrelease = dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', open("/etc/os-release").read(), re.M))
    lines = ["KorvaneUninstall %s" % args.version, "",
             "Commit:            %s" % args.commit,
             "SOURCE_DATE_EPOCH: %d (%s)" % (args.epoch, time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(args.epoch))),
             "Built on:          %s, %s" % (osrelease.get("PRETTY_NAME", "unknown"), output("dpkg", "--print-architecture").strip()),
             "Built with:        scripts/release.sh (CMake preset win32)", "",
             "Debian packages the build ran or read (compiler, binary utilities, mingw-w64 headers and",
             "runtime, build tools), and those that packed%s the zip, at these exact versions:"
             % (" and signed" if args.signed_with else ""), ""]
    open(args.out, "w", encoding="utf-8", newline="\r\n").write("\n".join(lines + ["  %-36s %s" % f[:2] for f in sorted(found.values())]) + "\n")


def spdx_id(text):
    return "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", text).strip("-")


def ours(name, path, version, purpose, **fields):
    element = {"SPDXID": spdx_id("Package-" + name), "name": name, "versionInfo": version,
               "supplier": "Organization: " + AUTHORS, "originator": "Organization: " + AUTHORS,
               "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "licenseConcluded": "MIT",
               "licenseDeclared": "MIT", "copyrightText": COPYRIGHT, "primaryPackagePurpose": purpose}
    if path:
        element.update(packageFileName=os.path.basename(path), checksums=[{"algorithm": "SHA256", "checksumValue": sha("sha256", path)}])
    return dict(element, **fields)


def sbom(args):
    """An SPDX 2.3 SBOM of the programs, each given as FILE BUILD_DIR MAP, and of the files shipped
    beside them: what each link took, from which Debian package, what built it, from which commit."""
    created = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(args.epoch))
    source = ours(args.name + "-source", None, args.commit, "SOURCE", sourceInfo="git commit %s" % args.commit)
    shipped = [ours(os.path.basename(f).rsplit(".", 1)[0], f, args.version, "APPLICATION", builtDate=created,
                    sourceInfo="built from git commit %s" % args.commit) for f, _, _ in args.program]
    shipped += [ours(os.path.basename(f), f, args.version, "INSTALL", sourceInfo="git commit %s" % args.commit)
                for f in args.file]
    relations = [(None, "DESCRIBES", s["SPDXID"]) for s in shipped] + [(s["SPDXID"], "GENERATED_FROM", source["SPDXID"]) for s in shipped]
    debian, purposes, files, refs = {}, {}, [], {}
    for (_, build, map_path), element in zip(args.program, shipped):
        for _, licences, found, _, component_refs in components([map_path]):
            refs.update(component_refs)
            debian.update(found)
            for path, members in sorted(licences.items()):
                files.append({"SPDXID": spdx_id("File-%s-%s" % (element["name"], path)), "fileName": path,
                              "licenseConcluded": expression({path: members}), "copyrightText": "NOASSERTION",
                              "checksums": [{"algorithm": a.upper(), "checksumValue": sha(a, path)} for a in ("sha1", "sha256")]})
                package = next(iter(found)) if made(path, [map_path]) else owners([path])[path]
                purposes[package] = "LIBRARY"
                relations += [(element["SPDXID"], "STATIC_LINK", files[-1]["SPDXID"]),
                              (spdx_id("Package-deb-" + package), "CONTAINS", files[-1]["SPDXID"])]
        for package, facts in packages(sorted(set(owners(sorted(toolchain_files(build, [map_path]))).values()))).items():
            debian.setdefault(package, facts)
            purposes.setdefault(package, "APPLICATION")
            relations.append((spdx_id("Package-deb-" + package), "BUILD_TOOL_OF", element["SPDXID"]))
    elements = [source] + shipped + [{
        "SPDXID": spdx_id("Package-deb-" + key), "name": name, "versionInfo": version, "supplier": "Organization: Debian",
        "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "licenseConcluded": "NOASSERTION",
        "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION", "primaryPackagePurpose": purposes[key],
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator":
                          "pkg:deb/debian/%s@%s?arch=%s" % (name, version.replace("+", "%2B").replace(":", "%3A"), arch)}]}
        for key, (name, version, arch) in sorted(debian.items())]
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": "%s-%s" % (args.name, args.version), "documentNamespace": "",
        "creationInfo": {"created": created, "creators": ["Organization: " + AUTHORS, "Tool: KorvaneUninstall-provenance-" + args.version]},
        "documentDescribes": [s["SPDXID"] for s in shipped], "packages": elements, "files": files,
        "relationships": [{"spdxElementId": a or "SPDXRef-DOCUMENT", "relationshipType": kind, "relatedSpdxElement": b}
                          for a, kind, b in dict.fromkeys(relations)],
        "hasExtractedLicensingInfos": [{"licenseId": ref, "name": ref[len("LicenseRef-"):], "extractedText": text}
                                       for ref, text in sorted(refs.items())]}
    # The same content gives the same namespace, and other content another.
    digest = hashlib.sha256(json.dumps(document, sort_keys=True).encode()).hexdigest()
    document["documentNamespace"] = "https://spdx.org/spdxdocs/%s-%s" % (document["name"], digest)
    open(args.out, "w", encoding="utf-8").write(json.dumps(document, indent=2) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    commands = parser.add_subparsers(required=True)
    # Each command, with its arguments: (name, options) as argparse takes them.
    facts = [("--version", {"required": True}), ("--commit", {"required": True}), ("--out", {"required": True}),
             ("--epoch", {"type": int, "required": True})]
    for run, arguments in ((notices, [("version", {}), ("out", {}), ("programs", {"nargs": "+", "metavar": "NAME=MAP"})]),
                           (buildinfo, facts + [("--build", {"required": True}), ("--signed-with", {"action": "append", "default": []})]),
                           (sbom, facts + [("--name", {"required": True}), ("--file", {"action": "append", "default": []}),
                                           ("--program", {"action": "append", "nargs": 3, "required": True,
                                                          "metavar": ("FILE", "BUILD", "MAP")})])):
        command = commands.add_parser(run.__name__, help=run.__doc__.split(":")[0])
        for name, options in arguments:
            command.add_argument(name, **options)
        command.set_defaults(run=run)
    args = parser.parse_args()
    try:
        args.run(args)
    except Refusal as refusal:
        sys.exit("provenance: %s" % refusal)


if __name__ == "__main__":
    main()
