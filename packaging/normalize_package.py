#!/usr/bin/env python3
"""Rewrites the packages CPack made so that they depend on nothing but what
they hold. CPack's archive writer takes the order of an archive's members
from the file system, their owner from the user who runs it and their modes
from that user's umask; every archive, the ones inside a .deb included, gets
its members in name order, owned by root, all dated SOURCE_DATE_EPOCH, with
the modes a package is expected to have (directories and executables 0755,
other files 0644), no extra fields and no name or time in the gzip header.
CPack counts a .deb's Installed-Size with the sizes its file system gives
directories; it gets the count dpkg-gencontrol makes, which does not depend
on them.

Usage: SOURCE_DATE_EPOCH=SECONDS normalize_package.py PACKAGE...
"""

import gzip
import io
import os
import re
import sys
import tarfile
import time
import zipfile


def gzip_bytes(data):
    """data gzipped with neither a name nor a time in the header."""
    out = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as gz:
        gz.write(data)
    return out.getvalue()


def tar_bytes(members):
    """A tar archive of (TarInfo, bytes or None) in the order given."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for info, data in members:
            info.pax_headers = {}
            if data is not None:
                info.size = len(data)
            tar.addfile(info, None if data is None else io.BytesIO(data))
    return out.getvalue()


def package_mode(mode, is_dir):
    """The permission bits a package gives a member: 0755 for a directory or
    an executable (any execute bit set), 0644 for anything else."""
    return 0o755 if is_dir or mode & 0o111 else 0o644


def normal_tar_members(data, epoch):
    """The members of the tar archive in data, normalized and in name order."""
    members = sorted(tar_members(data), key=lambda member: member[0].name)
    for info, _ in members:
        info.uid = info.gid = 0
        info.uname = info.gname = "root"
        info.mtime = epoch
        if not info.issym():
            info.mode = package_mode(info.mode, info.isdir())
    return members


def tar_members(data):
    """The (TarInfo, bytes or None) of each member of the (compressed) tar archive in data."""
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:*") as tar:
        return [(info, tar.extractfile(info).read() if info.isfile() else None)
                for info in tar.getmembers()]


def normalize_tar_gz(path, epoch):
    with open(path, "rb") as f:
        replace(path, gzip_bytes(tar_bytes(normal_tar_members(f.read(), epoch))))


def normalize_zip(path, epoch):
    # A zip member's time has no zone; the source date in UTC is written, or
    # the earliest time a zip can hold (1980) for a source date before it.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    with zipfile.ZipFile(path) as src:
        members = [(info, src.read(info)) for info in src.infolist()]
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as dst:
        for old, data in sorted(members, key=lambda member: member[0].filename):
            info = zipfile.ZipInfo(old.filename, stamp)
            info.create_system = old.create_system
            # The Unix mode, as a package gives it.
            mode = old.external_attr >> 16
            is_dir = old.filename.endswith("/")
            info.external_attr = (mode & ~0o777 | package_mode(mode, is_dir)) << 16 | old.external_attr & 0xffff
            info.compress_type = zipfile.ZIP_DEFLATED
            dst.writestr(info, data, compresslevel=9)
    replace(path, out.getvalue())


def ar_members(data):
    """The (name, header, contents) of each member of an ar archive."""
    assert data.startswith(b"!<arch>\n"), "not an ar archive"
    at, members = 8, []
    while at < len(data):
        header = data[at:at + 60]
        size = int(header[48:58])
        members.append((header[:16].rstrip(b" /"), header, data[at + 60:at + 60 + size]))
        at += 60 + size + size % 2
    return members


def normalize_deb(path, epoch):
    # As dpkg-gencontrol counts: a file its size in KiB rounded up, a symbolic
    # link the length of its target, anything else 1, the top folder (which
    # CPack's data.tar does not list) included.
    with open(path, "rb") as f:
        members = ar_members(f.read())
    data = next(contents for name, _, contents in members if name == b"data.tar.gz")
    files = [info for info, _ in tar_members(data)]
    kib = sum(-(-info.size // 1024) if info.isfile() else
              -(-len(info.linkname.encode()) // 1024) if info.issym() else 1
              for info in files) + (0 if any(info.name in (".", "./") for info in files) else 1)
    out = bytearray(b"!<arch>\n")
    for name, header, contents in members:
        if name == b"control.tar.gz":
            control = [(info, re.sub(rb"(?m)^Installed-Size: \d+$", b"Installed-Size: %d" % kib, text)
                        if info.name.lstrip("./") == "control" else text)
                       for info, text in normal_tar_members(contents, epoch)]
            contents = gzip_bytes(tar_bytes(control))
        elif name == b"data.tar.gz":
            contents = gzip_bytes(tar_bytes(normal_tar_members(contents, epoch)))
        # An ar header: name (16), time (12), owner (6), group (6), mode (8),
        # size (10) and its end mark; every member root's, 0644, at the
        # source date.
        header = header[:16] + b"%-12d%-6d%-6d%-8o%-10d" % (epoch, 0, 0, 0o100644, len(contents)) + header[58:]
        out += header + contents + b"\n" * (len(contents) % 2)
    replace(path, bytes(out))


def replace(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def main():
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    for path in sys.argv[1:]:
        if path.endswith(".tar.gz"):
            normalize_tar_gz(path, epoch)
        elif path.endswith(".zip"):
            normalize_zip(path, epoch)
        elif path.endswith(".deb"):
            normalize_deb(path, epoch)
        else:
            sys.exit(f"{path}: not a .tar.gz, .zip or .deb")


if __name__ == "__main__":
    main()
