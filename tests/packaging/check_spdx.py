#!/usr/bin/env python3
"""Checks the bill of materials of an unzipped release folder against the
files beside it, as an SPDX 2.3 reader would:

- a package whose filesAnalyzed is true names its files (hasFiles), each
  with a SHA-1 checksum that matches the file, and carries the package
  verification code computed from them (the SHA-1 of the files' SHA-1
  values, sorted and joined); one whose filesAnalyzed is false names no
  files and has no verification code;
- every shipped file but the document itself and SHA256SUMS is listed;
- the static runtime the build links (the mingw-w64 C runtime and
  winpthreads, libgcc, libstdc++) is named by the Debian packages that
  hold those archives, each linked into every program and library.

    check_spdx.py <unzipped release folder>
"""
import hashlib
import json
import os
import sys

LINKED_FROM = {"mingw-w64-x86-64-dev", "gcc-mingw-w64-x86-64-posix", "g++-mingw-w64-x86-64-posix"}


def main():
    folder = sys.argv[1]
    doc = json.load(open(os.path.join(folder, "tavenor.spdx.json")))
    faults = []
    if doc.get("spdxVersion") != "SPDX-2.3":
        faults.append("spdxVersion is %r" % doc.get("spdxVersion"))
    files = {f["SPDXID"]: f for f in doc.get("files", [])}
    listed = set()
    for package in doc.get("packages", []):
        name = package.get("name")
        owned = package.get("hasFiles", [])
        if package.get("filesAnalyzed", True):
            sha1s = []
            for spdx_id in owned:
                f = files.get(spdx_id)
                sums = {c["algorithm"]: c["checksumValue"] for c in (f or {}).get("checksums", [])}
                if f is None or "SHA1" not in sums:
                    faults.append("%s: file %s has no SHA1 checksum" % (name, spdx_id))
                    continue
                path = os.path.join(folder, f["fileName"])
                if not os.path.isfile(path) or hashlib.sha1(open(path, "rb").read()).hexdigest() != sums["SHA1"]:
                    faults.append("%s: %s does not match its SHA1" % (name, f["fileName"]))
                sha1s.append(sums["SHA1"])
                listed.add(os.path.normpath(f["fileName"]))
            code = package.get("packageVerificationCode", {}).get("packageVerificationCodeValue")
            if not owned or code != hashlib.sha1("".join(sorted(sha1s)).encode()).hexdigest():
                faults.append("%s: filesAnalyzed is true, but its files and verification code do not agree" % name)
        elif owned or "packageVerificationCode" in package:
            faults.append("%s: filesAnalyzed is false, yet it names files or a verification code" % name)
    if not doc.get("files") is None and len(files) != len(listed):
        faults.append("files listed that no package holds: %d of %d" % (len(files) - len(listed), len(files)))
    for base, _, names in os.walk(folder):
        for n in names:
            rel = os.path.normpath(os.path.relpath(os.path.join(base, n), folder))
            if rel not in ("tavenor.spdx.json", "SHA256SUMS") and rel not in listed:
                faults.append("%s is not in the bill of materials" % rel)
    names = {p["name"]: p["SPDXID"] for p in doc.get("packages", [])}
    links = {(r["spdxElementId"], r["relatedSpdxElement"]) for r in doc.get("relationships", [])
             if r["relationshipType"] == "STATIC_LINK"}
    programs = [i for i, f in files.items() if f["fileName"].lower().endswith((".exe", ".dll"))]
    for runtime in sorted(LINKED_FROM):
        if runtime not in names:
            faults.append("the runtime package %s is not named" % runtime)
            continue
        for program in programs:
            if (program, names[runtime]) not in links:
                faults.append("%s is not said to link %s" % (files[program]["fileName"], runtime))
    for fault in faults:
        print("spdx: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
