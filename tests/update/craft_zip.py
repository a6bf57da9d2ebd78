"""Builds hostile variants of a genuine update archive for the updater tests.

    craft_zip.py KIND GENUINE.zip OUT

The variant keeps every entry of GENUINE.zip (a correctly signed Morvane.app) and adds or changes
one thing, named by KIND. The tests sign the result with the publisher's key, so only that one
thing can make the updater refuse it.
"""
import io
import stat
import struct
import sys
import tarfile
import zipfile

kind, genuine, out = sys.argv[1:4]


def unix_info(name, mode):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
    info.create_system = 3
    info.external_attr = mode << 16
    return info


def copy_entries(src, dst, rename=lambda n: n):
    for info in src.infolist():
        data = src.read(info)
        info.filename = rename(info.filename)
        dst.writestr(info, data)


with open(genuine, "rb") as f:
    genuine_bytes = f.read()

if kind == "trailing-garbage":
    open(out, "wb").write(genuine_bytes + b"garbage after the end of the archive\n")
    sys.exit(0)
if kind == "truncated":
    open(out, "wb").write(genuine_bytes[: len(genuine_bytes) * 2 // 3])
    sys.exit(0)
if kind == "prefixed":
    open(out, "wb").write(b"#!/bin/sh\nexit 0\n" + genuine_bytes)
    sys.exit(0)
if kind in ("zip64-unsaturated", "zip64-disagreeing"):
    # Zip64 end records between the central directory and a classic end record whose fields are
    # not saturated, as some writers always add them; "disagreeing" makes them count one entry less.
    eocd = genuine_bytes[-22:]
    assert eocd[:4] == b"PK\x05\x06", "the genuine archive ends with its end record, no comment"
    entries, size, offset = struct.unpack("<HII", eocd[10:20])
    if kind == "zip64-disagreeing":
        entries -= 1
    record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, entries, entries, size, offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, offset + size, 1)
    open(out, "wb").write(genuine_bytes[: offset + size] + record + locator + eocd)
    sys.exit(0)
if kind == "hardlink":
    # ZIP has no hard links; a tar does, and must be refused like any other non-ZIP archive.
    buffer = io.BytesIO()
    with zipfile.ZipFile(genuine) as src, tarfile.open(fileobj=buffer, mode="w") as tar:
        for info in src.infolist():
            entry = tarfile.TarInfo(info.filename.rstrip("/"))
            mode = info.external_attr >> 16
            if info.is_dir():
                entry.type = tarfile.DIRTYPE
                tar.addfile(entry)
            elif stat.S_ISLNK(mode):
                entry.type = tarfile.SYMTYPE
                entry.linkname = src.read(info).decode()
                tar.addfile(entry)
            else:
                data = src.read(info)
                entry.size = len(data)
                entry.mode = mode & 0o777
                tar.addfile(entry, io.BytesIO(data))
        link = tarfile.TarInfo("Morvane.app/bin/second-name")
        link.type = tarfile.LNKTYPE
        link.linkname = "/etc/passwd"
        tar.addfile(link)
    open(out, "wb").write(buffer.getvalue())
    sys.exit(0)

with zipfile.ZipFile(genuine) as src, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as dst:
    if kind == "subfolder":
        copy_entries(src, dst, lambda n: "release/" + n)
        sys.exit(0)
    if kind == "renamed":
        copy_entries(src, dst, lambda n: n.replace("Morvane.app", "Other.app", 1))
        sys.exit(0)
    if kind in ("no-manifest", "tampered"):
        for info in src.infolist():
            data = src.read(info)
            if kind == "no-manifest" and info.filename == "Morvane.app/Signature/Manifest":
                continue
            if kind == "tampered" and info.filename == "Morvane.app/bin/morvane":
                data = data + b"\0appended"
            dst.writestr(info, data)
        sys.exit(0)
    copy_entries(src, dst)
    if kind == "traversal":
        dst.writestr(unix_info("Morvane.app/../../escaped-by-traversal", 0o100644), b"x")
    elif kind == "absolute":
        dst.writestr(unix_info("/tmp/morvane-escaped-absolute", 0o100644), b"x")
    elif kind == "symlink-out":
        dst.writestr(unix_info("Morvane.app/lib/outside", 0o120777), b"../../../..")
    elif kind == "symlink-chain":
        # Each target stays inside by its words; the second, through the first, does not.
        dst.writestr(unix_info("Morvane.app/lib/up", 0o120777), b"..")
        dst.writestr(unix_info("Morvane.app/lib/esc", 0o120777), b"up/../..")
    elif kind == "symlink-chain-reversed":
        dst.writestr(unix_info("Morvane.app/lib/esc", 0o120777), b"up/../..")
        dst.writestr(unix_info("Morvane.app/lib/up", 0o120777), b"..")
    elif kind == "symlink-absolute":
        dst.writestr(unix_info("Morvane.app/lib/etc", 0o120777), b"/etc")
    elif kind == "device":
        dst.writestr(unix_info("Morvane.app/dev-null", 0o020666), b"")
    elif kind == "duplicate":
        dst.writestr(unix_info("Morvane.app/Info.json", 0o100644), b'{"CFBundleVersion": "999"}\n')
    elif kind == "bomb":
        info = unix_info("Morvane.app/zeros", 0o100644)
        info.compress_type = zipfile.ZIP_DEFLATED
        with dst.open(info, "w", force_zip64=False) as f:
            chunk = b"\0" * (1 << 20)
            for _ in range(int(sys.argv[4]) if len(sys.argv) > 4 else 64):
                f.write(chunk)
    else:
        sys.exit("unknown kind " + kind)
