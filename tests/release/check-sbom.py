#!/usr/bin/python3
"""check-sbom.py SCHEMA FILES COMMIT: the unpacked release in FILES holds an SBOM that the
published SPDX 2.3 JSON schema accepts and that means what it says: it describes the very
program and scripts beside it, gives each Debian package once with its own architecture, and the
linked archives with their SHA-256, names what built the program and the commit it was generated
from, holds only valid SPDX licence expressions, and its namespace is its content's digest.
Debian's python3 with python3-jsonschema and python3-license-expression.

SCHEMA is spdx-2.3-schema.json beside this file, the SPDX project's JSON schema of SPDX 2.3
documents; .reuse/dep5 gives its source and licence."""
import hashlib
import json
import subprocess
import sys
import time

import jsonschema
from license_expression import get_spdx_licensing


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def sha256(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


schema_path, files, commit = sys.argv[1:]
document = json.load(open(files + "/KorvaneUninstall.spdx.json"))
try:
    jsonschema.validate(document, json.load(open(schema_path)))
except jsonschema.ValidationError as error:
    fail("the SPDX 2.3 schema refuses the SBOM: %s at %s" % (error.message, list(error.absolute_path)))

elements = {e["SPDXID"]: e for e in document["packages"] + document["files"]}
related = {}
for r in document["relationships"]:
    related.setdefault(r["relationshipType"], []).append((elements.get(r["spdxElementId"]), elements[r["relatedSpdxElement"]]))
described = {elements[i].get("packageFileName"): elements[i] for i in document["documentDescribes"]}
version = open(files + "/README.txt").readline().split()[-1]
for name in ("KorvaneUninstall.exe", "korvane-deploy.ps1", "korvane-deploy.cmd", "korvane-detect.ps1"):
    if described.get(name, {}).get("checksums") != [{"algorithm": "SHA256", "checksumValue": sha256(files + "/" + name)}]:
        fail("the SBOM does not describe %s with its SHA-256" % name)
    if (described[name]["versionInfo"], described[name]["licenseConcluded"]) != (version, "MIT"):
        fail("%s is described as %s under %s" % (name, described[name]["versionInfo"], described[name]["licenseConcluded"]))
program = described["KorvaneUninstall.exe"]
holder = next(line.strip() for line in open(files + "/LICENSE.txt") if line.startswith("Copyright"))
if (program["name"], program["supplier"], program["copyrightText"]) != ("KorvaneUninstall", "Organization: the KorvaneUninstall authors", holder):
    fail("the program is %s from %s, %s" % (program["name"], program["supplier"], program["copyrightText"]))
if {(a["SPDXID"], b.get("versionInfo")) for a, b in related["GENERATED_FROM"]} != {(e["SPDXID"], commit) for e in described.values()}:
    fail("not every file shipped is generated from commit %s: %s" % (commit, related["GENERATED_FROM"]))
epoch = int(next(line.split()[1] for line in open(files + "/BUILDINFO.txt") if line.startswith("SOURCE_DATE_EPOCH:")))
if document["creationInfo"]["created"] != time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)):
    fail("created %s is not the commit's time" % document["creationInfo"]["created"])
if not any(c.startswith("Tool: ") and c.endswith("-" + version) for c in document["creationInfo"]["creators"]):
    fail("no creator tool with a version: %s" % document["creationInfo"]["creators"])
namespace = document.pop("documentNamespace")
if not namespace.endswith("-" + hashlib.sha256(json.dumps(dict(document, documentNamespace=""), sort_keys=True).encode()).hexdigest()):
    fail("the namespace %s is not the digest of the document" % namespace)

# Each Debian package once, with the architecture dpkg gives it.
debian = [e for e in document["packages"] if e["supplier"] == "Organization: Debian"]
purls = [e["externalRefs"][0]["referenceLocator"] for e in debian]
if len(set(purls)) != len(purls) or len({e["name"] for e in debian}) != len(debian):
    fail("a Debian package is there more than once: %s" % sorted(purls))
for element, purl in zip(debian, purls):
    arch = subprocess.run(["dpkg-query", "-W", "-f", "${Architecture}", element["name"]], capture_output=True, text=True).stdout
    if not purl.endswith("?arch=" + arch):
        fail("%s, but dpkg says %s" % (purl, arch))
# What the program linked: archives with their SHA-256, in the packages that contain them.
linked = {b["fileName"]: b for a, b in related["STATIC_LINK"] if a is program}
contained = {b["fileName"]: a["name"] for a, b in related["CONTAINS"]}
for path, element in linked.items():
    if {c["algorithm"]: c["checksumValue"] for c in element["checksums"]}.get("SHA256") != sha256(path):
        fail("%s is not given with its SHA-256" % path)
if {contained.get(path) for path in linked} != {"gcc-mingw-w64-i686-win32", "g++-mingw-w64-i686-win32", "mingw-w64-i686-dev"}:
    fail("statically linked: %s" % sorted(contained.get(p) for p in linked))
tools = {a["name"] for a, b in related["BUILD_TOOL_OF"] if b is program}
if missing := {"g++-mingw-w64-i686-win32", "binutils-mingw-w64-i686", "mingw-w64-common", "mingw-w64-i686-dev", "cmake"} - tools:
    fail("build tools missing: %s" % sorted(missing))
# Licences: valid SPDX expressions, each LicenseRef with its text.
given = {info["licenseId"] for info in document.get("hasExtractedLicensingInfos", []) if info["extractedText"].strip()}
for element in elements.values():
    info = get_spdx_licensing().validate(element["licenseConcluded"]) if element["licenseConcluded"] != "NOASSERTION" else None
    if info and info.errors and (not info.invalid_symbols or set(info.invalid_symbols) - given):
        fail("%s: %r is no valid SPDX expression: %s" % (element["SPDXID"], element["licenseConcluded"], info.errors))
print("SBOM: SPDX 2.3, %d packages, %d linked files, the program's SHA-256 %s, %d build tools"
      % (len(document["packages"]), len(linked), program["checksums"][0]["checksumValue"], len(tools)))
