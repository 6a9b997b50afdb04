#!/usr/bin/env python3
"""Packs the release zip from a release build, laid out so that the
unzipped folder works as it is: Tavenor.exe with our DifxApix64.dll beside
it, the viewer, the rehearsal backend in a folder of its own, the user's
README, the changelog, the licence, the notices of the runtime linked in,
the setup authors' docs and recipes, and SHA-256 sums.  Entries are sorted
and carry the time of SOURCE_DATE_EPOCH, so the same inputs give the same
bytes.

    package.py <source folder> <build folder> <zip path>
"""
import hashlib
import os
import sys
import time
import zipfile

# The licences of the runtime parts linked into every shipped file, as the
# toolchain's Debian packages state them.
RUNTIME_COPYRIGHTS = [
    ("mingw-w64 (C runtime, winpthreads)", "/usr/share/doc/mingw-w64-x86-64-dev/copyright"),
    ("GCC (libgcc, libstdc++)", "/usr/share/doc/gcc-mingw-w64-base/copyright"),
]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def notices(source):
    text = read(os.path.join(source, "packaging", "third-party-notices.md")).decode()
    for title, path in RUNTIME_COPYRIGHTS:
        if not os.path.exists(path):
            raise SystemExit("package: %s is missing: its licence must ship" % path)
        text += "\n## %s\n\n```\n%s```\n" % (title, read(path).decode())
    return text.encode()


def main():
    source, build, out = sys.argv[1:4]
    version = read(os.path.join(build, "generated", "version.txt")).decode().strip()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "1796083200"))
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
    bin_dir = os.path.join(build, "bin")
    docs = os.path.join(source, "docs")
    blobs = [
        ("Tavenor.exe", read(os.path.join(bin_dir, "Tavenor.exe"))),
        ("DifxApix64.dll", read(os.path.join(bin_dir, "backend", "DifxApix64.dll"))),
        ("Corvane.exe", read(os.path.join(bin_dir, "Corvane.exe"))),
        ("README.md", read(os.path.join(source, "packaging", "README.md")).replace(b"@VERSION@", version.encode())),
        ("CHANGELOG.md", read(os.path.join(source, "packaging", "CHANGELOG.md"))),
        ("LICENSE", read(os.path.join(source, "LICENSE"))),
        ("THIRD-PARTY-NOTICES.md", notices(source)),
        ("docs/setup-authors.md", read(os.path.join(docs, "setup-authors.md"))),
        ("docs/backend.md", read(os.path.join(docs, "backend.md"))),
        ("examples/pkg/example.inf", read(os.path.join(source, "examples", "pkg", "example.inf"))),
        ("rehearsal/TavenorRehearsal64.dll", read(os.path.join(bin_dir, "TavenorRehearsal64.dll"))),
        ("rehearsal/README.md", read(os.path.join(docs, "rehearsal-backend.md"))),
        ("rehearsal/difx-plan.txt", read(os.path.join(source, "examples", "difx-plan.txt"))),
    ]
    installers = os.path.join(source, "packaging", "installers")
    for name in sorted(os.listdir(installers)):
        blobs.append(("installers/" + name, read(os.path.join(installers, name))))
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in sorted(blobs))
    blobs.append(("SHA256SUMS", sums.encode()))
    root = "tavenor-%s-win-x64/" % version
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
