#!/usr/bin/env python3
"""Compares what two builds made, file by file: prints the SHA-256 of each
pair and, where the two differ, where they differ: the first byte apart, in
an ELF or PE image the sections that differ, and, inside a .deb, .tar.gz or
.zip, each member missing from one side, listed
otherwise (mode, owner, time, size) or holding other bytes, down through
archives within archives. Exits with status 1 when any pair differs.

Usage: compare_builds.py FIRST SECOND [FIRST SECOND ...]
"""

import hashlib
import io
import os
import struct
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


def elf_sections(data):
    """(name, start, end) in the file of each section of an ELF image."""
    wide, little = data[4] == 2, data[5] == 1
    order = "<" if little else ">"
    if wide:
        shoff, = struct.unpack_from(order + "Q", data, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from(order + "HHH", data, 0x3A)
        fields = order + "IIQQQQ"
    else:
        shoff, = struct.unpack_from(order + "I", data, 0x20)
        shentsize, shnum, shstrndx = struct.unpack_from(order + "HHH", data, 0x2E)
        fields = order + "IIIIII"
    headers = [struct.unpack_from(fields, data, shoff + i * shentsize) for i in range(shnum)]
    strings = headers[shstrndx][4] if headers else 0
    return [(data[strings + h[0]:data.index(b"\0", strings + h[0])].decode(), h[4], h[4] + h[5])
            for h in headers if h[1] != 8]  # SHT_NOBITS takes no room in the file


def pe_sections(data):
    """(name, start, end) in the file of the headers and each section of a PE image."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    count, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    sections = [("(file headers)", 0, table + 40 * count)]
    for i in range(count):
        name, size, start = struct.unpack_from("<8s8xII", data, table + 40 * i)[0:3]
        sections.append((name.rstrip(b"\0").decode(), start, start + size))
    return sections


def sections(data):
    """The sections of an ELF or PE image, or None for anything else."""
    try:
        if data.startswith(b"\x7fELF"):
            return elf_sections(data)
        if data.startswith(b"MZ"):
            return pe_sections(data)
    except (struct.error, ValueError, IndexError):
        pass
    return None


def image_differences(a, b, indent):
    """Lines naming the sections of two images whose bytes differ: the first
    byte apart is often only a size or a checksum that follows from them."""
    sa, sb = sections(a), sections(b)
    if sa is None or sb is None:
        return []
    if [name for name, _, _ in sa] != [name for name, _, _ in sb]:
        return [f"{indent}  sections: {[n for n, _, _ in sa]} | {[n for n, _, _ in sb]}"]
    return [f"{indent}  section {name or '(none)'} differs"
            for (name, s1, e1), (_, s2, e2) in zip(sa, sb) if a[s1:e1] != b[s2:e2]]


def differences(name, a, b, indent=""):
    """Lines saying where a and b, two versions of the file name, differ."""
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    lines = [f"{indent}{name}: {len(a)} and {len(b)} bytes, first difference at byte {at}"]
    lines += image_differences(a, b, indent)
    ma, mb = members(name, a), members(name, b)
    if ma is None:
        return lines
    before = len(lines)
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
    if len(lines) == before:
        lines.append(f"{indent}  every member is listed alike and holds the same bytes: the archive's "
                     "own headers differ (fields not listed here), or its compression")
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
