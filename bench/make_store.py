#!/usr/bin/env python3
"""Fills a driver-store folder with realistic package folders for the sweep
benchmark: CR LF INF text with real-looking sections and hardware IDs, a few
binary files per folder, and a few folders whose INF names the device ID.

    make_store.py <store folder> big            100 folders, 4 to 6 MB INF files (some 500 MB)
    make_store.py <store folder> many <count>   <count> folders, 3 to 12 KB INF files
    make_store.py <store folder> mixed <count>  as many, every fourth INF file UTF-16LE with its mark

Prints: folders=<n> inf_bytes=<n> matches=<n>.  Deterministic for a shape.
"""
import os
import random
import shutil
import sys

DEVICE_ID = "PCI\\VEN_BEEF&DEV_0042"
VENDORS = ["8086", "10DE", "1002", "14E4", "10EC", "1B21", "168C", "1022"]
CLASSES = [("Display", "{4d36e968-e325-11ce-bfc1-08002be10318}"),
           ("Net", "{4d36e972-e325-11ce-bfc1-08002be10318}"),
           ("System", "{4d36e97d-e325-11ce-bfc1-08002be10318}"),
           ("MEDIA", "{4d36e96c-e325-11ce-bfc1-08002be10318}")]


def inf_text(rng, size, name, match):
    klass, guid = rng.choice(CLASSES)
    vendor = rng.choice(VENDORS)
    out = [
        "; %s.inf - generated driver package" % name,
        "[Version]",
        'Signature   = "$Windows NT$"',
        "Class       = %s" % klass,
        "ClassGuid   = %s" % guid,
        "Provider    = %ManufacturerName%",
        "CatalogFile = %s.cat" % name,
        "DriverVer   = 06/21/2026,31.0.101.%d" % rng.randint(1000, 9999),
        "PnpLockdown = 1",
        "",
        "[Manufacturer]",
        "%ManufacturerName% = Models, NTamd64.10.0...17763",
        "",
        "[Models.NTamd64.10.0...17763]",
    ]
    total = sum(len(line) + 2 for line in out)
    n = 0
    match_at = rng.randint(0, max(1, size // 120)) if match else -1
    while total < size * 0.8:
        dev = "%04X" % rng.randint(0, 0xFFFF)
        sub = "%08X" % rng.getrandbits(32)
        line = "%%Dev%s.DeviceDesc%% = Install_%d, PCI\\VEN_%s&DEV_%s&SUBSYS_%s&REV_%02X" % (
            dev, n % 97, vendor, dev, sub, rng.randint(0, 255))
        if n == match_at:
            line = "%%DevMatch.DeviceDesc%% = Install_0, %s" % DEVICE_ID
        out.append(line)
        total += len(line) + 2
        n += 1
    if match and match_at >= n:
        out.append("%%DevMatch.DeviceDesc%% = Install_0, %s" % DEVICE_ID)
    out += ["", "[Install_0.NT]", "CopyFiles = Drivers_Dir", "AddReg    = Install_AddReg", "",
            "[Drivers_Dir]", "%s.sys" % name, "", "[Strings]", 'ManufacturerName = "Generated Vendor"']
    while total < size:
        line = 'Dev%04X.DeviceDesc = "Generated %s device %d"' % (rng.randint(0, 0xFFFF), klass, total)
        out.append(line)
        total += len(line) + 2
    return ("\r\n".join(out) + "\r\n").encode("ascii")


def make_folder(store, rng, index, size, match, wide):
    name = "pkg%05d" % index
    folder = os.path.join(store, "%s.inf_amd64_%016x" % (name, rng.getrandbits(64)))
    os.makedirs(folder)
    text = inf_text(rng, size, name, match)
    if wide:
        text = b"\xff\xfe" + text.decode("ascii").encode("utf-16-le")
    with open(os.path.join(folder, name + ".inf"), "wb") as f:
        f.write(text)
    for ext, n in (("sys", 4096), ("cat", 2048), ("dll", 3072)):
        with open(os.path.join(folder, "%s.%s" % (name, ext)), "wb") as f:
            f.write(rng.randbytes(n))
    return len(text)


def main():
    store, shape = sys.argv[1], sys.argv[2]
    if os.path.exists(store):
        shutil.rmtree(store)
    os.makedirs(store)
    rng = random.Random(20261208)
    every_wide = 0
    if shape == "big":
        count, sizes, matches = 100, (4 << 20, 6 << 20), {37}
    elif shape in ("many", "mixed"):
        count = int(sys.argv[3])
        # In the mixed store the second match is a UTF-16 file.
        sizes, matches = (3 << 10, 12 << 10), {count // 3, (2 * count) // 3 // 4 * 4}
        every_wide = 4 if shape == "mixed" else 0
    else:
        raise SystemExit("shape must be big, many or mixed")
    total = 0
    for i in range(count):
        wide = every_wide > 0 and i % every_wide == 0
        total += make_folder(store, rng, i, rng.randint(*sizes), i in matches, wide)
    print("folders=%d inf_bytes=%d matches=%d" % (count, total, len(matches)))


if __name__ == "__main__":
    main()
