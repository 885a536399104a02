#!/usr/bin/python3
"""check-sbom.py SCHEMA FILES COMMIT: the unpacked release in FILES holds an SBOM that the
published SPDX 2.3 JSON schema accepts, that describes the very program beside it, and that
names what the link took and what built it. Debian's python3 with python3-jsonschema.

SCHEMA is spdx-2.3-schema.json beside this file, the SPDX project's JSON schema of SPDX 2.3
documents; .reuse/dep5 gives its source and licence."""
import hashlib
import json
import sys
import time

import jsonschema


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


schema_path, files, commit = sys.argv[1:]
document = json.load(open(files + "/KorvaneUninstall.spdx.json"))
try:
    jsonschema.validate(document, json.load(open(schema_path)))
except jsonschema.ValidationError as error:
    fail("the SPDX 2.3 schema refuses the SBOM: %s at %s" % (error.message, list(error.absolute_path)))

packages = {p["SPDXID"]: p for p in document["packages"]}
program = packages[document["documentDescribes"][0]]
digest = hashlib.sha256(open(files + "/KorvaneUninstall.exe", "rb").read()).hexdigest()
expected = {"name": "KorvaneUninstall", "packageFileName": "KorvaneUninstall.exe",
            "licenseConcluded": "MIT", "licenseDeclared": "MIT",
            "supplier": "Organization: the KorvaneUninstall authors",
            "sourceInfo": "built from git commit " + commit,
            "checksums": [{"algorithm": "SHA256", "checksumValue": digest}]}
for field, value in expected.items():
    if program.get(field) != value:
        fail("the program's %s is %r, expected %r" % (field, program.get(field), value))
# Beside the program, the deployment kit it ships with, each script as it is in the zip.
shipped = {p["packageFileName"]: p["checksums"] for p in map(packages.get, document["documentDescribes"])}
for name in ("korvane-deploy.ps1", "korvane-deploy.cmd", "korvane-detect.ps1"):
    script = hashlib.sha256(open(files + "/" + name, "rb").read()).hexdigest()
    if shipped.get(name) != [{"algorithm": "SHA256", "checksumValue": script}]:
        fail("the SBOM describes %s as %s, not with SHA-256 %s" % (name, shipped.get(name), script))
version = open(files + "/README.txt").readline().split()[-1]
if program.get("versionInfo") != version:
    fail("the program's version is %r, the README's %r" % (program.get("versionInfo"), version))
epoch = int(next(line.split()[1] for line in open(files + "/BUILDINFO.txt") if line.startswith("SOURCE_DATE_EPOCH:")))
if document["creationInfo"]["created"] != time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)):
    fail("created %s is not the commit's time" % document["creationInfo"]["created"])


def debian_packages(relationship, towards_program):
    names = set()
    for r in document["relationships"]:
        if r["relationshipType"] != relationship:
            continue
        other = r["relatedSpdxElement"] if towards_program else r["spdxElementId"]
        if (r["spdxElementId"] if towards_program else r["relatedSpdxElement"]) != program["SPDXID"]:
            fail("%s between %s and %s" % (relationship, r["spdxElementId"], r["relatedSpdxElement"]))
        locator = packages[other]["externalRefs"][0]["referenceLocator"]
        names.add(locator.split("/")[2].split("@")[0])
    return names


linked = debian_packages("STATIC_LINK", True)
if linked != {"gcc-mingw-w64-i686-win32", "g++-mingw-w64-i686-win32", "mingw-w64-i686-dev"}:
    fail("statically linked: %s" % sorted(linked))
tools = debian_packages("BUILD_TOOL_OF", False)
missing = {"g++-mingw-w64-i686-win32", "binutils-mingw-w64-i686", "mingw-w64-common", "mingw-w64-i686-dev",
           "cmake"} - tools
if missing:
    fail("build tools missing: %s" % sorted(missing))
refs = {word for p in document["packages"] for word in p["licenseConcluded"].split() if word.startswith("LicenseRef-")}
given = {info["licenseId"] for info in document.get("hasExtractedLicensingInfos", []) if info["extractedText"].strip()}
if refs != given:
    fail("licence references %s, texts given for %s" % (sorted(refs), sorted(given)))
print("SBOM: SPDX 2.3, %d packages, the program's SHA-256 %s, %d linked, %d build tools"
      % (len(packages), digest, len(linked), len(tools)))
