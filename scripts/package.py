#!/usr/bin/env python3
"""Packs a release zip from a release build: the programs, the rehearsal
backend, the README, the docs and the license, with SHA-256 sums.  Entries
are sorted and carry the time of SOURCE_DATE_EPOCH, so the same inputs give
the same bytes.

    package.py <source folder> <build folder> <zip path>
"""
import hashlib
import os
import sys
import time
import zipfile

VERSION = "1.0.0.12"


def main():
    source, build, out = sys.argv[1:4]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "1796083200"))
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
    files = [
        ("Tavenor.exe", os.path.join(build, "bin", "Tavenor.exe")),
        ("Corvane.exe", os.path.join(build, "bin", "Corvane.exe")),
        ("TavenorRehearsal64.dll", os.path.join(build, "bin", "TavenorRehearsal64.dll")),
        ("README.md", os.path.join(source, "README.md")),
        ("LICENSE", os.path.join(source, "LICENSE")),
        ("docs/setup-authors.md", os.path.join(source, "docs", "setup-authors.md")),
        ("docs/rehearsal-backend.md", os.path.join(source, "docs", "rehearsal-backend.md")),
        ("docs/performance.md", os.path.join(source, "docs", "performance.md")),
        ("examples/difx-plan.txt", os.path.join(source, "examples", "difx-plan.txt")),
        ("examples/pkg/example.inf", os.path.join(source, "examples", "pkg", "example.inf")),
    ]
    backend = os.path.join(build, "bin", "backend", "DifxApix64.dll")
    if os.path.exists(backend):
        files.append(("backend/DifxApix64.dll", backend))
        files.append(("docs/backend.md", os.path.join(source, "docs", "backend.md")))
    blobs = []
    for name, path in files:
        with open(path, "rb") as f:
            blobs.append((name, f.read()))
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in blobs)
    blobs.append(("SHA256SUMS", sums.encode()))
    root = "tavenor-%s-win-x64/" % VERSION
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with zipfile.ZipFile(out, "w") as z:
        for name, data in sorted(blobs):
            info = zipfile.ZipInfo(root + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            info.create_system = 3
            z.writestr(info, data, compresslevel=9)
    with open(out, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(out + ".sha256", "w") as f:
        f.write("%s  %s\n" % (digest, os.path.basename(out)))
    print("%s  %s" % (digest, out))


if __name__ == "__main__":
    main()
