#!/usr/bin/env python3
"""Packs the release zip from a release build, laid out so that the
unzipped folder works as it is: Tavenor.exe with our DifxApix64.dll beside
it, the viewer, the rehearsal backend in a folder of its own, the user's
README, the changelog, the licence, the notices of the runtime linked in,
the setup authors' docs and recipes, an SPDX software bill of materials,
and SHA-256 sums.  Entries are sorted and carry the time of
SOURCE_DATE_EPOCH, so the same inputs give the same bytes.

    package.py <source folder> <build folder> <zip path> [--sign <pfx>] [--timestamp <url>] [--ca <pem>]

--sign signs every shipped program and library (Authenticode, SHA-256,
with osslsigncode) with the certificate and key of the PKCS#12 file, whose
password, if any, is read from TAVENOR_SIGN_PASSWORD; the signing time is
SOURCE_DATE_EPOCH, so signing keeps the zip reproducible.  --timestamp adds
a time stamp from that server (its reply differs on every run).  Every
signature is verified before it is packed, against --ca or the system's
certificate authorities.
"""
import argparse
import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import uuid
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


# The shipped programs and libraries: their place in the zip and in the
# build's bin folder.  These are signed, and listed as linking the runtime.
PE_FILES = [
    ("Tavenor.exe", "Tavenor.exe"),
    ("DifxApix64.dll", os.path.join("backend", "DifxApix64.dll")),
    ("Corvane.exe", "Corvane.exe"),
    ("rehearsal/TavenorRehearsal64.dll", "TavenorRehearsal64.dll"),
    ("tests/windows/tavenor-devtool.exe", "tavenor-devtool.exe"),
]

# The Windows acceptance kit beside its device tool: tests\windows\run.ps1
# runs from the unzipped folder (docs/windows-testing.md).
WINDOWS_KIT = ["run.ps1", "sign-package.ps1", "cases.tsv", "package/tavenor-null.inf"]

# The Debian packages whose static archives every shipped file is linked
# with (-static -static-libgcc -static-libstdc++): the mingw-w64 C runtime
# start-up and winpthreads, libgcc, and libstdc++.  The "-runtime" package
# holds only DLLs, which nothing of ours loads.
RUNTIME_PACKAGES = [
    ("mingw-w64-x86-64-dev", "mingw-w64 C runtime (libmingw32, libmsvcrt) and winpthreads (libwinpthread.a)"),
    ("gcc-mingw-w64-x86-64-posix", "libgcc.a and libgcc_eh.a"),
    ("g++-mingw-w64-x86-64-posix", "libstdc++.a"),
]


def run(command, failure, data=b""):
    """Runs command with data on its input; stops packing with failure and
    the command's output if it fails."""
    done = subprocess.run(command, input=data, capture_output=True)
    if done.returncode != 0:
        raise SystemExit("package: %s:\n%s" % (failure, (done.stdout + done.stderr).decode()))


def sign(path, args, epoch):
    """Returns the bytes of path signed and verified."""
    with tempfile.TemporaryDirectory() as tmp:
        signed = os.path.join(tmp, os.path.basename(path))
        command = ["osslsigncode", "sign", "-pkcs12", args.sign, "-h", "sha256",
                   "-n", "Tavenor", "-time", str(epoch)]
        password = os.environ.get("TAVENOR_SIGN_PASSWORD")
        if password is not None:
            command += ["-readpass", "-"]
        if args.timestamp:
            command += ["-ts", args.timestamp]
        command += ["-in", path, "-out", signed]
        run(command, "signing %s failed" % path, (password or "").encode())
        verify = ["osslsigncode", "verify", "-in", signed]
        if args.ca:
            verify += ["-CAfile", args.ca]
        run(verify, "the signature of %s does not verify" % path)
        return read(signed)


def package_version(name):
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name], capture_output=True)
    if done.returncode != 0 or not done.stdout:
        raise SystemExit("package: %s is not installed: the bill of materials names its version" % name)
    return done.stdout.decode()


def spdx(version, epoch, blobs):
    """An SPDX 2.3 document: the release package with its files analysed
    (each file's checksums, and the package verification code computed from
    them, as SPDX 2.3 asks of a package whose filesAnalyzed is true), and
    the toolchain packages whose static runtime is linked into each program
    and library."""
    def file_id(name):
        return "SPDXRef-File-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)
    files = [{
        "SPDXID": file_id(name),
        "fileName": "./" + name,
        "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
                      {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
        "licenseConcluded": "NOASSERTION",
        "licenseInfoInFiles": ["NOASSERTION"],
        "copyrightText": "NOASSERTION",
    } for name, data in sorted(blobs)]
    # The SHA-1 of the files' SHA-1 values, sorted and joined.
    verification = hashlib.sha1("".join(sorted(f["checksums"][0]["checksumValue"] for f in files)).encode()).hexdigest()
    packages = [{
        "SPDXID": "SPDXRef-Package-Tavenor",
        "name": "Tavenor",
        "versionInfo": version,
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": True,
        "packageVerificationCode": {"packageVerificationCodeValue": verification},
        "hasFiles": [f["SPDXID"] for f in files],
        "licenseInfoFromFiles": ["NOASSERTION"],
        "licenseConcluded": "MIT",
        "licenseDeclared": "MIT",
        "copyrightText": "Copyright (c) 2026 Tavenor developers",
    }]
    for name, what in RUNTIME_PACKAGES:
        deb_version = package_version(name)
        packages.append({
            "SPDXID": "SPDXRef-Package-" + name,
            "name": name,
            "versionInfo": deb_version,
            "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION",
            "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION",
            "licenseDeclared": "NOASSERTION",
            "copyrightText": "NOASSERTION",
            "comment": "%s, linked statically into every program and library of the release; licences in THIRD-PARTY-NOTICES.md" % what,
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": "pkg:deb/debian/%s@%s" % (name, deb_version)}],
        })
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": "SPDXRef-Package-Tavenor"}]
    relationships += [{"spdxElementId": file_id(name), "relationshipType": "STATIC_LINK",
                       "relatedSpdxElement": "SPDXRef-Package-" + runtime}
                      for name, _ in PE_FILES for runtime, _ in RUNTIME_PACKAGES]
    checksums = "".join(f["checksums"][1]["checksumValue"] for f in files)
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": "tavenor-%s-win-x64" % version,
        "documentNamespace": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, "tavenor-%s:%s" % (version, checksums)),
        "creationInfo": {
            "created": datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "creators": ["Tool: tavenor-package.py"],
        },
        "packages": packages,
        "files": files,
        "relationships": relationships,
    }
    return (json.dumps(document, indent=2, sort_keys=True) + "\n").encode()


def check_links(blobs):
    """Every relative link of a shipped Markdown file must name a shipped file."""
    names = {name for name, _ in blobs}
    broken = []
    for name, data in blobs:
        if not name.endswith(".md"):
            continue
        for target in re.findall(r"\]\(([^)\s]+)\)", data.decode("utf-8", "replace")):
            if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                continue
            path = os.path.normpath(os.path.join(os.path.dirname(name), target.split("#")[0])).replace(os.sep, "/")
            if path not in names and not any(n.startswith(path + "/") for n in names):
                broken.append("%s -> %s" % (name, target))
    if broken:
        raise SystemExit("package: links in the zip that lead nowhere:\n  " + "\n  ".join(broken))


def check_quotes(blobs):
    """A code block that a document marks as quoting a shipped file
    ("<!-- quote: <file> -->" on the line before it) must be a run of that
    file's lines as they stand, so the docs cannot drift from the recipes."""
    files = dict(blobs)
    stale = []
    for name, data in blobs:
        if not name.endswith(".md"):
            continue
        text = data.decode("utf-8", "replace")
        for quoted, block in re.findall(r"<!-- quote: (\S+) -->\n```[^\n]*\n(.*?)```", text, re.S):
            lines = [line.rstrip("\r") for line in files.get(quoted, b"").decode("utf-8", "replace").split("\n")]
            want = block.rstrip("\n").split("\n")
            if not any(lines[i:i + len(want)] == want for i in range(len(lines))):
                stale.append("%s quotes %s: %s..." % (name, quoted, want[0].strip()))
    if stale:
        raise SystemExit("package: quoted recipes that are not in their files:\n  " + "\n  ".join(stale))


def check_changelog(version, blobs):
    """The changelog's top section names the version being packed: one
    version per set of changes, none shipped as "Unreleased"."""
    text = dict(blobs)["CHANGELOG.md"].decode("utf-8", "replace")
    top = re.search(r"^## (.+)$", text, re.M)
    if not top or top.group(1).strip() != version:
        raise SystemExit("package: CHANGELOG.md opens with %r, not the version %s"
                         % (top.group(1).strip() if top else None, version))


def check_build_paths(blobs):
    """A shipped document names no path of a build folder: the zip holds
    none, and a reader of the unzipped release has none."""
    found = ["%s: %s" % (name, m) for name, data in blobs if name.endswith(".md")
             for m in re.findall(r"build/bin/\S*", data.decode("utf-8", "replace"))]
    if found:
        raise SystemExit("package: shipped documents name build paths:\n  " + "\n  ".join(found))


def exit_code_table(source):
    """The README's exit-code table, the one every other document points to."""
    text = read(os.path.join(source, "README.md")).decode()
    found = re.search(r"^\| Exit code \|.*?\n(?:\|.*\n)+", text, re.M)
    if not found:
        raise SystemExit("package: README.md has no exit-code table")
    return found.group(0).encode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("build")
    parser.add_argument("out")
    parser.add_argument("--sign")
    parser.add_argument("--timestamp")
    parser.add_argument("--ca")
    args = parser.parse_args()
    source, build, out = args.source, args.build, args.out
    version = read(os.path.join(build, "generated", "version.txt")).decode().strip()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "1796083200"))
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip times start in 1980
    bin_dir = os.path.join(build, "bin")
    docs = os.path.join(source, "docs")
    blobs = [(name, sign(os.path.join(bin_dir, path), args, epoch) if args.sign else read(os.path.join(bin_dir, path)))
             for name, path in PE_FILES]
    readme = read(os.path.join(source, "packaging", "README.md"))
    readme = readme.replace(b"@VERSION@", version.encode()).replace(b"@EXIT_CODES@\n", exit_code_table(source))
    blobs += [
        ("README.md", readme),
        ("CHANGELOG.md", read(os.path.join(source, "packaging", "CHANGELOG.md"))),
        ("LICENSE", read(os.path.join(source, "LICENSE"))),
        ("THIRD-PARTY-NOTICES.md", notices(source)),
        ("docs/setup-authors.md", read(os.path.join(docs, "setup-authors.md"))),
        ("docs/backend.md", read(os.path.join(docs, "backend.md"))),
        ("docs/corvane.md", read(os.path.join(docs, "corvane.md"))),
        ("docs/performance.md", read(os.path.join(docs, "performance.md"))),
        ("docs/windows-testing.md", read(os.path.join(docs, "windows-testing.md"))),
        ("examples/pkg/example.inf", read(os.path.join(source, "examples", "pkg", "example.inf"))),
        ("examples/pkg/example.cat", read(os.path.join(source, "examples", "pkg", "example.cat"))),
        ("docs/rehearsal-backend.md", read(os.path.join(docs, "rehearsal-backend.md"))),
        ("rehearsal/difx-plan.txt", read(os.path.join(source, "examples", "difx-plan.txt"))),
    ]
    blobs += [("tests/windows/" + name, read(os.path.join(source, "tests", "windows", *name.split("/"))))
              for name in WINDOWS_KIT]
    installers = os.path.join(source, "packaging", "installers")
    for name in sorted(os.listdir(installers)):
        blobs.append(("installers/" + name, read(os.path.join(installers, name))))
    check_links(blobs)
    check_quotes(blobs)
    check_changelog(version, blobs)
    check_build_paths(blobs)
    blobs.append(("tavenor.spdx.json", spdx(version, epoch, blobs)))
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
