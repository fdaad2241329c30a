#!/usr/bin/env python3
"""Compares what two builds made, file by file: prints the SHA-256 of each
pair and, where the two differ, where they differ: the first byte apart and,
inside a .deb, .tar.gz or .zip, each member missing from one side, listed
otherwise (mode, owner, time, size) or holding other bytes, down through
archives within archives. Exits with status 1 when any pair differs.

Usage: compare_builds.py FIRST SECOND [FIRST SECOND ...]
"""

import hashlib
import io
import os
import sys
import tarfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packaging"))
from normalize_package import ar_members  # noqa: E402


def members(name, data):
    """{member: (listing, bytes)} of the archive name holds, in its order;
    None when name is not an archive."""
    if name.endswith(".deb"):
        return {m.decode(): (header[16:48].decode(), contents) for m, header, contents in ar_members(data)}
    if name.endswith((".tar", ".tar.gz", ".tar.xz")):
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            return {i.name: (f"{i.mode:o} {i.uid}/{i.gid} {i.uname}/{i.gname} {i.mtime} {i.size}",
                             tar.extractfile(i).read() if i.isfile() else b"") for i in tar}
    if name.endswith(".zip"):
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            return {i.filename: (f"{i.date_time} {i.external_attr:o} extra {i.extra.hex()}", z.read(i))
                    for i in z.infolist()}
    return None


def differences(name, a, b, indent=""):
    """Lines saying where a and b, two versions of the file name, differ."""
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    lines = [f"{indent}{name}: {len(a)} and {len(b)} bytes, first difference at byte {at}"]
    ma, mb = members(name, a), members(name, b)
    if ma is None:
        return lines
    for member in sorted(set(ma) | set(mb)):
        if member not in mb or member not in ma:
            lines.append(f"{indent}  {member}: only in the {'first' if member in ma else 'second'}")
            continue
        (listed_a, data_a), (listed_b, data_b) = ma[member], mb[member]
        if listed_a != listed_b:
            lines.append(f"{indent}  {member}: listed as {listed_a} | {listed_b}")
        if data_a != data_b:
            lines += differences(member, data_a, data_b, indent + "  ")
    if list(ma) != list(mb):
        lines.append(f"{indent}  members in another order: {list(ma)} | {list(mb)}")
    return lines


def main():
    paths = sys.argv[1:]
    if not paths or len(paths) % 2:
        sys.exit(__doc__)
    differ = False
    for first, second in zip(paths[::2], paths[1::2]):
        with open(first, "rb") as f, open(second, "rb") as g:
            a, b = f.read(), g.read()
        print(f"{hashlib.sha256(a).hexdigest()}  {first}")
        print(f"{hashlib.sha256(b).hexdigest()}  {second}")
        if a != b:
            differ = True
            print("DIFFERENT:", *differences(os.path.basename(first), a, b), sep="\n  ")
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
