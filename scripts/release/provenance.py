#!/usr/bin/env python3
"""What a release says about where its programs come from, read from the build itself: which
files each link took (its map), the Debian packages they and every other file the build read
belong to, the notices those packages' copyright files ask binaries to carry, an SPDX 2.3 SBOM
and BUILDINFO.txt.

  provenance.py check MAP...
  provenance.py notices VERSION OUT PROGRAM=MAP...
  provenance.py buildinfo BUILD_DIR VERSION COMMIT EPOCH OUT
  provenance.py sbom BUILD_DIR VERSION COMMIT EPOCH EXE OUT [SCRIPT...]
"""
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import textwrap
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
AUTHORS = "the KorvaneUninstall authors"
COPYRIGHT = "Copyright (c) 2026 " + AUTHORS


class Refusal(Exception):
    pass


def linked_files(map_path):
    """The files the link took: archives that gave members, and objects loaded whole. The
    toolchain's are named by absolute paths, what the build made itself by relative ones."""
    found, in_archives = set(), False
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Archive member included"):
                in_archives = True
            elif line.startswith(("Discarded input sections", "Memory Configuration")):
                in_archives = False
            elif in_archives:
                m = re.match(r"([^\s(]+?\.a)\(", line)
                if m:
                    found.add(os.path.normpath(m.group(1)))
            m = re.match(r"LOAD (/\S+\.o)$", line.rstrip("\n"))
            if m:
                found.add(os.path.normpath(m.group(1)))
    if not any(os.path.isabs(f) for f in found):
        raise Refusal("%s names nothing from the toolchain: is it a linker map?" % map_path)
    return sorted(found)


def owning_packages(paths):
    """{path: Debian package} for every path, through dpkg -S."""
    def ask(candidates):
        answer = subprocess.run(["dpkg", "-S"] + sorted(set(candidates.values())), capture_output=True,
                                text=True).stdout
        owners = {}
        for line in answer.splitlines():
            package, _, path = line.partition(": ")
            owners[path] = package.split(",")[0].split(":")[0]
        return {path: owners[c] for path, c in candidates.items() if c in owners}

    owners = ask({p: p for p in paths})
    missing = {p: os.path.realpath(p) for p in paths if p not in owners}
    if missing:
        owners.update(ask(missing))
    unowned = sorted(set(paths) - set(owners))
    if unowned:
        raise Refusal("no Debian package owns %s" % ", ".join(unowned))
    return owners


def versions(packages):
    answer = subprocess.run(["dpkg-query", "-W", "-f", "${Package}\t${Version}\n"] + sorted(packages),
                            capture_output=True, text=True, check=True).stdout
    return dict(line.split("\t") for line in answer.splitlines())


def debian_architecture():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def toolchain_files(build_dir, map_path):
    """Every file of the toolchain the build of the program ran or read: compilers and binary
    utilities, the build tools, the system headers its sources included, what the link took."""
    def cmake_setting(path, name):
        m = re.search(r'^set\(%s "([^"]*)"\)' % name, open(path).read(), re.M)
        return m and m.group(1)

    tools = set()
    for language in ("C", "CXX", "RC"):
        for path in glob.glob(os.path.join(build_dir, "CMakeFiles", "*", "CMake%sCompiler.cmake" % language)):
            tools.add(cmake_setting(path, "CMAKE_%s_COMPILER" % language))
    cache = open(os.path.join(build_dir, "CMakeCache.txt")).read()
    for name in ("CMAKE_AR", "CMAKE_RANLIB", "CMAKE_LINKER", "CMAKE_MAKE_PROGRAM", "CMAKE_COMMAND"):
        m = re.search(r"^%s:\w+=(.+)$" % name, cache, re.M)
        if m:
            tools.add(m.group(1))
    tools = {t if os.path.isabs(t) else shutil.which(t) for t in tools if t}
    tools.discard(None)
    compiler = next(t for t in tools if t.endswith("g++") or "g++-" in t)
    for program in ("cc1plus", "as", "ld", "collect2"):
        tools.add(subprocess.run([compiler, "-print-prog-name=" + program], capture_output=True,
                                 text=True, check=True).stdout.strip())
    headers = set()
    for target in ("korvane_core", "KorvaneUninstall"):
        for depfile in glob.glob(os.path.join(build_dir, "src", "CMakeFiles", target + ".dir", "**", "*.d"),
                                 recursive=True):
            headers.update(re.findall(r"(?<![^\s])(/\S+)", open(depfile).read().replace("\\\n", " ")))
    headers = {h for h in headers if not h.startswith(os.path.abspath(os.path.join(build_dir, "..", "..")))
               and h.startswith("/usr/")}
    linked = {f for f in linked_files(map_path) if os.path.isabs(f)}
    return sorted({os.path.normpath(t) for t in tools} | headers | linked)


# Debian copyright files ------------------------------------------------------------------------

def paragraphs(text):
    """The paragraphs of a machine-readable copyright file as lists of (field, [lines])."""
    result = []
    for block in re.split(r"\n[ \t]*\n", text):
        fields = []
        for line in block.splitlines():
            if line.startswith((" ", "\t")) and fields:
                fields[-1][1].append("" if line.strip() == "." else line[1:])
            elif ":" in line:
                name, _, value = line.partition(":")
                fields.append((name, [value.strip()]))
        if fields:
            result.append(dict(fields))
    return result


def licence_names(expression):
    return re.split(r"\s+(?:and|or)\s+", expression.strip())


def dep5_notice(text, sources, licences):
    """Copyright lines and licence text of each named licence, from the paragraphs whose files
    lie under one of the source prefixes ("*" for the file's default paragraph)."""
    parts, copyrights, texts = [], {name: [] for name in licences}, {}
    for paragraph in paragraphs(text):
        if "License" not in paragraph:
            continue
        names = licence_names(paragraph["License"][0])
        body = paragraph["License"][1:]
        if len(names) == 1 and any(line.strip() for line in body):
            texts.setdefault(names[0], body)
        files = (" ".join(paragraph.get("Files", [""]))).split()
        if any(f == "*" and "*" in sources or any(f.startswith(s) for s in sources if s != "*") for f in files):
            for name in names:
                if name in copyrights:
                    for line in (line.strip() for line in paragraph.get("Copyright", [])):
                        if line and line not in copyrights[name]:
                            copyrights[name].append(line)
    for name in licences:
        if name not in texts:
            raise Refusal("the copyright file has no text for the licence %s" % name)
        parts.append("Copyright: %s\nLicense: %s\n\n%s" % ("\n           ".join(copyrights[name]) or "none given",
                                                      name, "\n".join(texts[name]).strip("\n")))
    return parts, texts


def excerpt(text, start, end):
    lines = text.splitlines()
    try:
        first = lines.index(start)
        last = next(i for i in range(first, len(lines)) if lines[i] == end)
    except (ValueError, StopIteration):
        raise Refusal("the copyright file no longer holds the text from %r to %r" % (start, end))
    return "\n".join(lines[first:last + 1])


def components_linked(map_paths):
    """[(component, [linked files], {package: version}, [notice texts], {licence ref: text})], in
    the table's order, for the components the links took something from."""
    catalogue = json.load(open(os.path.join(HERE, "components.json")))
    table = catalogue["components"]
    linked = sorted({f for m in map_paths for f in linked_files(m)})
    toolchain = [p for p in linked if os.path.isabs(p)]
    owners = owning_packages(toolchain)
    by_name = {}
    for path in linked:
        component = next((c for c in table if os.path.basename(path) in c["files"]), None)
        if path in owners:
            if component is None or "built_from" in component:
                raise Refusal("the link took %s (Debian package %s), which no component in "
                              "scripts/release/components.json covers: add it there with its notices"
                              % (path, owners[path]))
        elif component is not None and "built_from" in component:
            # Built here from a package's sources: the notices are that package's.
            owners[path] = owning_packages([component["built_from"]])[component["built_from"]]
        elif os.path.basename(path) in catalogue["own"]:
            continue
        else:
            raise Refusal("the link took %s, which the build made but which is neither this project's "
                          "own nor built from a component in scripts/release/components.json: add it "
                          "there with its notices" % path)
        by_name.setdefault(component["name"], []).append(path)
    result = []
    for component in table:
        paths = by_name.get(component["name"])
        if not paths:
            continue
        packages = sorted({owners[p] for p in paths})
        notices, refs = [], {}
        for package in packages:
            text = open("/usr/share/doc/%s/copyright" % package, encoding="utf-8").read()
            if "licences" in component:
                parts, texts = dep5_notice(text, component["sources"], component["licences"])
                refs.update({ref: "\n".join(texts[name]).strip("\n") for ref, name in component["refs"].items()})
            else:
                parts = [excerpt(text, e["from"], e["to"]) for e in component["excerpts"]]
            notices += [p for p in parts if p not in notices]
        result.append((component, paths, versions(packages), notices, refs))
    return result


# What goes into the zip --------------------------------------------------------------------------

def write_text(path, text):
    """Text for Windows: CRLF line ends."""
    with open(path, "w", encoding="utf-8", newline="\r\n") as out:
        out.write(text)


def notices(version, out, *programs):
    """THIRD-PARTY-NOTICES.txt for the programs, each given as NAME=MAP."""
    names, maps = zip(*(p.split("=", 1) for p in programs))
    are, them, maps_word = ("is", "it", "map") if len(names) == 1 else ("are", "them", "maps")
    rule = "=" * 78
    text = ["Third-party notices for %s %s" % (" and ".join(names), version), rule, ""]
    text += textwrap.wrap(
        "%s %s licensed under the MIT licence (LICENSE.txt). The build linked the components below "
        "into %s. The list is read from the link %s of this very build; each entry names the "
        "component, the Debian package and version it came from, its licence as an SPDX expression, "
        "and the notices its licence asks binaries to carry, as that package's copyright file gives "
        "them." % (" and ".join(names), are, them, maps_word), 90) + [""]
    given = {}
    for number, (component, paths, packages, parts, _) in enumerate(components_linked(maps), 1):
        text += [rule, "%d. %s" % (number, component["name"]), rule,
                 "Debian package: %s" % ", ".join("%s %s" % p for p in sorted(packages.items())),
                 "Licence (SPDX): %s" % component["licence"],
                 "Linked from:    %s" % ", ".join(sorted({os.path.basename(p) for p in paths})), ""]
        if tuple(parts) in given:
            text += ["The notices are those of %d above." % given[tuple(parts)], ""]
            continue
        given[tuple(parts)] = number
        for part in parts:
            text += [part, "", "-" * 78, ""]
    write_text(out, "\n".join(text).rstrip("\n-") + "\n")


def buildinfo(build_dir, version, commit, epoch, out):
    packages = versions(owning_packages(toolchain_files(build_dir, os.path.join(build_dir, "KorvaneUninstall.map"))).values())
    osrelease = dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', open("/etc/os-release").read(), re.M))
    arch = debian_architecture()
    lines = ["KorvaneUninstall %s" % version, "",
             "Commit:            %s" % commit,
             "SOURCE_DATE_EPOCH: %d (%s)" % (epoch, time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch))),
             "Built on:          %s, %s" % (osrelease.get("PRETTY_NAME", "unknown"), arch),
             "Built with:        scripts/release.sh (CMake preset win32)", "",
             "Debian packages the build ran or read (compiler, binary utilities, mingw-w64",
             "headers and runtime, build tools), at these exact versions:", ""]
    lines += ["  %-36s %s" % item for item in sorted(packages.items())]
    write_text(out, "\n".join(lines) + "\n")


def spdx_id(text):
    return "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", text).strip("-")


def purl(package, version, arch):
    return {"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
            "referenceLocator": "pkg:deb/debian/%s@%s?arch=%s" % (package, version.replace("+", "%2B"), arch)}


def sbom(build_dir, version, commit, epoch, exe, out, *kit):
    map_path = os.path.join(build_dir, "KorvaneUninstall.map")
    arch = debian_architecture()
    digest = hashlib.sha256(open(exe, "rb").read()).hexdigest()
    program = "SPDXRef-Package-KorvaneUninstall"
    created = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch))
    packages = [{
        "SPDXID": program, "name": "KorvaneUninstall", "versionInfo": version,
        "packageFileName": "KorvaneUninstall.exe", "supplier": "Organization: " + AUTHORS,
        "originator": "Organization: " + AUTHORS, "downloadLocation": "NOASSERTION",
        "sourceInfo": "built from git commit %s" % commit, "filesAnalyzed": False,
        "checksums": [{"algorithm": "SHA256", "checksumValue": digest}],
        "licenseConcluded": "MIT", "licenseDeclared": "MIT", "copyrightText": COPYRIGHT,
        "primaryPackagePurpose": "APPLICATION", "builtDate": created,
        "description": "Takes the Velmor Korvane toolkit off a Windows machine (32-bit Windows console program).",
    }]
    # The deployment kit's scripts ship beside the program, as its own files.
    for script in kit:
        name = os.path.basename(script)
        packages.append(dict(packages[0], SPDXID=spdx_id("Package-" + name), name=name, packageFileName=name,
                             sourceInfo="deploy/%s of git commit %s" % (name, commit),
                             checksums=[{"algorithm": "SHA256", "checksumValue":
                                         hashlib.sha256(open(script, "rb").read()).hexdigest()}],
                             description="The deployment kit's %s." % name))
    described = [p["SPDXID"] for p in packages]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": element} for element in described]
    extracted = {}
    for component, paths, found, _, refs in components_linked([map_path]):
        for package, package_version in sorted(found.items()):
            element = spdx_id("Package-linked-%s-%s" % (component["files"][0], package))
            packages.append({
                "SPDXID": element, "name": component["name"], "versionInfo": package_version,
                "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION",
                "sourceInfo": "Debian package %s %s: %s" % (package, package_version,
                                                            ", ".join(sorted({os.path.basename(p) for p in paths}))),
                "filesAnalyzed": False, "licenseConcluded": component["licence"],
                "licenseDeclared": component["licence"], "copyrightText": "NOASSERTION",
                "primaryPackagePurpose": "LIBRARY", "externalRefs": [purl(package, package_version, arch)]})
            relationships.append({"spdxElementId": program, "relationshipType": "STATIC_LINK",
                                  "relatedSpdxElement": element})
        extracted.update(refs)
    tools = versions(owning_packages(toolchain_files(build_dir, map_path)).values())
    for package, package_version in sorted(tools.items()):
        element = spdx_id("Package-tool-%s" % package)
        packages.append({
            "SPDXID": element, "name": package, "versionInfo": package_version,
            "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION",
            "primaryPackagePurpose": "APPLICATION", "externalRefs": [purl(package, package_version, arch)]})
        relationships.append({"spdxElementId": element, "relationshipType": "BUILD_TOOL_OF",
                              "relatedSpdxElement": program})
    name = "KorvaneUninstall-%s" % version
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT", "name": name,
        # Unique for each program it describes, and the same for the same program.
        "documentNamespace": "https://spdx.org/spdxdocs/%s-%s" % (
            name, uuid.uuid5(uuid.NAMESPACE_URL, "korvane-uninstall:%s:%s" % (commit, digest))),
        "creationInfo": {"created": created, "creators": ["Organization: " + AUTHORS,
                                                          "Tool: KorvaneUninstall scripts/release.sh"]},
        "documentDescribes": described,
        "packages": packages,
        "relationships": relationships,
    }
    if extracted:
        document["hasExtractedLicensingInfos"] = [
            {"licenseId": ref, "name": ref[len("LicenseRef-"):], "extractedText": text}
            for ref, text in sorted(extracted.items())]
    with open(out, "w", encoding="utf-8") as sink:
        json.dump(document, sink, indent=2, sort_keys=False)
        sink.write("\n")


def check(*map_paths):
    for component, paths, packages, parts, _ in components_linked(map_paths):
        print("%s (%s): %s; %d notices" % (component["name"].split(" (")[0],
                                           ", ".join("%s %s" % p for p in sorted(packages.items())),
                                           ", ".join(sorted({os.path.basename(p) for p in paths})), len(parts)))


def main(argv):
    commands = {
        # The least and the most arguments each takes (None: no limit).
        "check": (check, 1, None), "notices": (notices, 3, None),
        "buildinfo": (lambda b, v, c, e, o: buildinfo(b, v, c, int(e), o), 5, 5),
        "sbom": (lambda b, v, c, e, x, o, *k: sbom(b, v, c, int(e), x, o, *k), 6, None),
    }
    _, least, most = commands.get(argv[1] if len(argv) > 1 else None, (None, None, -1))
    given = len(argv) - 2
    if least is None or given < least or (most is not None and given > most):
        sys.exit(__doc__)
    try:
        commands[argv[1]][0](*argv[2:])
    except Refusal as refusal:
        print("provenance: %s" % refusal, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv)
