#!/usr/bin/env python3
"""check-powershell.py SCRIPT.ps1... -- DOCUMENT...: holds the scripts to PowerShell 2.0, which no
test here can run: every cmdlet they call, with each parameter they name, must be in that
version's help, they must use no operator or variable that came later, and an error must stop
them with a non-zero exit code. Every command line that starts one of them, in the documents or
the scripts, must set the execution policy for the run. Prints what does not fit and exits 1."""
import os
import re
import sys

# PowerShell 2.0's help (Get-Help <cmdlet> -Full on Windows 7), for the cmdlets the scripts call.
# A cmdlet missing here is reported: look it up in the 2.0 help before adding it.
PARAMETERS = {
    "Copy-Item": "LiteralPath Path Destination Container Credential Exclude Filter Force Include "
                 "PassThru Recurse UseTransaction",
    "ForEach-Object": "Process Begin End InputObject",
    "Get-Item": "LiteralPath Path Credential Exclude Filter Force Include UseTransaction",
    "Join-Path": "Path ChildPath Credential Resolve UseTransaction",
    "New-Item": "Path Name ItemType Value Credential Force UseTransaction",
    "New-Object": "TypeName ArgumentList Property ComObject Strict",
    "Out-Null": "InputObject",
    "Split-Path": "LiteralPath Path Parent Leaf Qualifier NoQualifier IsAbsolute Resolve Credential "
                  "UseTransaction",
    "Start-Process": "FilePath ArgumentList Credential LoadUserProfile NoNewWindow PassThru "
                     "RedirectStandardError RedirectStandardInput RedirectStandardOutput "
                     "UseNewEnvironment Verb Wait WindowStyle WorkingDirectory",
    "Test-Path": "LiteralPath Path Credential Exclude Filter Include IsValid PathType UseTransaction",
    "Write-Output": "InputObject",
}
COMMON = "Verbose Debug ErrorAction WarningAction ErrorVariable WarningVariable OutVariable " \
         "OutBuffer WhatIf Confirm"
# Operators and automatic variables of 3.0 and later.
LATER = re.compile(r"-[ci]?(?:not)?in\b|-[ci]?sh[lr]\b|\$PSScriptRoot\b|\$PSCommandPath\b|"
                   r"\$PSItem\b|\[ordered\]|::new\(|\.(?:ForEach|Where)\(", re.IGNORECASE)
# Each error must stop the script, and with a non-zero exit code, which PowerShell 2.0 gives only
# when the script sets it: its -File ends a run that stopped with 0, where later versions give 1.
REQUIRED = {
    "$ErrorActionPreference = 'Stop'": (re.compile(r"^\$ErrorActionPreference = 'Stop'$", re.M),
                                        "without it, a failed copy lets an older program run"),
    "trap { ...; exit N } with N above 0": (re.compile(r"^trap \{.*\bexit [1-9][0-9]* \}$", re.M),
                                            "PowerShell 2.0 ends a stopped -File run with exit code 0"),
}


def statements(script):
    """The script's lines, continuations joined, without comments or the text of strings."""
    script = re.sub(r"`\n", " ", script)
    for line in script.splitlines():
        line = re.sub(r"'[^']*'|\"[^\"]*\"", "''", line)
        yield re.sub(r"#.*", "", line)


def faults(script):
    for what, (pattern, why) in REQUIRED.items():
        if not pattern.search(script):
            yield f"missing {what}: {why}"
    # The script's own functions are its own to name.
    own = set(re.findall(r"^function ([A-Za-z]+-[A-Za-z]+)\b", script, re.M))
    for line in statements(script):
        for later in LATER.findall(line):
            yield f"{later}: needs PowerShell 3.0 or later"
        for call in re.finditer(r"\b([A-Z][a-z]+-[A-Z][A-Za-z]+)\b", line):
            cmdlet = call.group(1)
            if cmdlet in own:
                continue
            if cmdlet not in PARAMETERS:
                yield f"{cmdlet}: not among the PowerShell 2.0 cmdlets this check knows"
                continue
            # Its arguments end where its pipeline element or parenthesis does.
            arguments = re.split(r"[|;{}]", line[call.end():])[0]
            depth = 0
            for token in re.findall(r"[()]|-[A-Za-z]+(?=[\s:]|$)", arguments):
                depth += {"(": 1, ")": -1}.get(token, 0)
                if depth < 0:
                    break
                if depth == 0 and token not in "()":
                    name = token[1:]
                    if name not in PARAMETERS[cmdlet].split() + COMMON.split():
                        yield f"{cmdlet} -{name}: no such parameter in PowerShell 2.0"


# Every command line starts a script the same way: the execution policy is Restricted by default
# on client Windows, and a profile could change what the script does.
STARTED = "-NoProfile -ExecutionPolicy Bypass -File "


def starts(document, names):
    text = open(document, encoding="utf-8").read()
    for start in re.finditer(r"-File [^\s`]*(?:%s)" % "|".join(map(re.escape, names)), text):
        line = text.count("\n", 0, start.start()) + 1
        if not text.endswith(STARTED, 0, start.start() + len("-File ")):
            yield f"{document}:{line}: {start.group(0)} without {STARTED.strip()}"


def main(scripts, documents):
    found = [f"{script}: {fault}" for script in scripts
             for fault in faults(open(script, encoding="utf-8").read().replace("\r\n", "\n"))]
    names = [os.path.basename(script) for script in scripts]
    found += [fault for document in documents + scripts for fault in starts(document, names)]
    for fault in found:
        print(fault)
    return 1 if found else 0


if __name__ == "__main__":
    if "--" not in sys.argv:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    sys.exit(main(sys.argv[1:split], sys.argv[split + 1:]))
