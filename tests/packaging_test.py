"""Tests of what makes two builds of one commit give the same packages: the
source date (cmake/source_date_epoch.cmake) and the rewriting of the packages
(packaging/normalize_package.py).

CMAKE_COMMAND names the cmake to run.
"""

import email.utils
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHANGELOG = os.path.join(ROOT, "packaging", "debian", "changelog")
EPOCH = 1700000000


def changelog_date():
    """The time of the newest changelog entry, read as Python reads a mail date."""
    with open(CHANGELOG) as f:
        trailer = next(line for line in f if line.startswith(" -- "))
    return int(email.utils.parsedate_to_datetime(trailer.split(">  ", 1)[1]).timestamp())


def source_date(source_dir, **env):
    environ = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    out = subprocess.run([os.environ.get("CMAKE_COMMAND", "cmake"), f"-DSOURCE_DIR={source_dir}",
                          "-P", os.path.join(ROOT, "cmake", "source_date_epoch.cmake")],
                         capture_output=True, text=True, check=True, env={**environ, **env})
    return int(out.stdout)


def with_changelog(folder):
    shutil.copytree(os.path.dirname(CHANGELOG), os.path.join(folder, "packaging", "debian"))
    return folder


class SourceDate(unittest.TestCase):
    def test_where_the_date_comes_from(self):
        with tempfile.TemporaryDirectory() as tmp:
            plain = with_changelog(os.path.join(tmp, "plain"))
            # Sources unpacked inside another repository have no commit of their own.
            subprocess.run(["git", "init", "-q", os.path.join(tmp, "other")], check=True)
            nested = with_changelog(os.path.join(tmp, "other", "padcols"))
            cases = [("the environment first", ROOT, {"SOURCE_DATE_EPOCH": "12345"}, 12345),
                     ("else the changelog outside git", plain, {}, changelog_date()),
                     ("else the changelog inside another repository", nested, {}, changelog_date())]
            if os.path.exists(os.path.join(ROOT, ".git")):
                last_commit = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                                             capture_output=True, text=True, check=True).stdout
                cases.append(("else the last commit", ROOT, {}, int(last_commit)))
                # cpack marks the date it puts in the environment for its
                # build step's configure, which must take the commit's own.
                cases.append(("not a date cpack put in the environment", ROOT,
                              {"SOURCE_DATE_EPOCH": "12345", "PADCOLS_SOURCE_DATE_FROM_CPACK": "1"},
                              int(last_commit)))
            for what, folder, env, expected in cases:
                with self.subTest(what):
                    self.assertEqual(expected, source_date(folder, **env))


def normalize(*paths, epoch=EPOCH):
    subprocess.run([sys.executable, os.path.join(ROOT, "packaging", "normalize_package.py"), *paths],
                   check=True, env={**os.environ, "SOURCE_DATE_EPOCH": str(epoch)})


# Members as a package holds them: (name, mode, contents, or None for a folder).
MEMBERS = [("pkg/bin", 0o755, None), ("pkg/bin/tool", 0o755, b"\x7fELF" * 300),
           ("pkg/share", 0o755, None), ("pkg/share/README", 0o644, b"text\n"),
           ("pkg/share/LICENSE", 0o644, b"licence\n")]
# As two users on two file systems might write them: in another order, with
# other owners and times, and modes cut by a umask of 077 or widened by 002.
WRITERS = [([(n, m & 0o700, d) for n, m, d in MEMBERS], 1000, "alice", 1111111111),
           ([(n, m | 0o020, d) for n, m, d in MEMBERS[::-1]], 0, "root", 1222222222)]


def write_tar_gz(path, members, uid, user, mtime):
    with tarfile.open(path, "w:gz") as tar:
        for name, mode, data in members:
            info = tarfile.TarInfo(name)
            info.type = tarfile.REGTYPE if data else tarfile.DIRTYPE
            info.mode, info.uid, info.gid, info.uname, info.gname = mode, uid, uid, user, user
            info.mtime, info.size = mtime, len(data or b"")
            tar.addfile(info, io.BytesIO(data) if data else None)


def write_zip(path, members, uid, user, mtime):
    with zipfile.ZipFile(path, "w") as z:
        for name, mode, data in members:
            if data:
                info = zipfile.ZipInfo(name, time.gmtime(mtime)[:6])
                info.external_attr = (0o100000 | mode) << 16
                # The Unix owner field CPack's writer adds.
                owner = uid.to_bytes(4, "little")
                info.extra = b"ux\x0b\x00\x01\x04" + owner + b"\x04" + owner
                z.writestr(info, data)


class NormalizePackage(unittest.TestCase):
    def normalized(self, tmp, suffix, write):
        """The bytes of the archives each writer makes, once normalized: the
        same for both."""
        paths = [os.path.join(tmp, f"{i}{suffix}") for i in range(len(WRITERS))]
        for path, writer in zip(paths, WRITERS):
            write(path, *writer)
        normalize(*paths)
        self.assertEqual(*(pathlib.Path(p).read_bytes() for p in paths))
        return paths[0]

    def test_tar_gz_in_name_order_owned_by_root(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = self.normalized(tmp, ".tar.gz", write_tar_gz)
            self.assertEqual(b"\x00\x00\x00\x00", pathlib.Path(path).read_bytes()[4:8], "gzip header time")
            with tarfile.open(path) as tar:
                got = [(i.name, i.mode, i.uid, i.gid, i.uname, i.gname, i.mtime,
                        tar.extractfile(i).read() if i.isfile() else None) for i in tar]
        self.assertEqual(sorted((name, mode, 0, 0, "root", "root", EPOCH, data)
                                for name, mode, data in MEMBERS), got)

    def test_zip_in_name_order_without_extra_fields(self):
        with tempfile.TemporaryDirectory() as tmp:
            with zipfile.ZipFile(self.normalized(tmp, ".zip", write_zip)) as z:
                got = [(i.filename, i.external_attr >> 16, i.date_time, i.extra, z.read(i)) for i in z.infolist()]
        self.assertEqual(sorted((name, 0o100000 | mode, time.gmtime(EPOCH)[:6], b"", data)
                                for name, mode, data in MEMBERS if data), got)

    def test_zip_dated_no_earlier_than_a_zip_can_hold(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "old.zip")
            write_zip(path, *WRITERS[0])
            normalize(path, epoch=0)
            with zipfile.ZipFile(path) as z:
                self.assertEqual({(1980, 1, 1, 0, 0, 0)}, {i.date_time for i in z.infolist()})

    @unittest.skipUnless(shutil.which("dpkg-deb"), "needs dpkg-deb")
    def test_deb_installed_size_as_dpkg_counts_it(self):
        # The top folder, usr and a file of 1500 bytes take 1 + 1 + 2 KiB.
        # The file, written under a umask of 077, comes out 0644, at the
        # source date, like every member of the archives inside and around it.
        with tempfile.TemporaryDirectory() as tmp:
            pkg = pathlib.Path(tmp, "pkg")
            (pkg / "DEBIAN").mkdir(parents=True)
            (pkg / "usr").mkdir()
            (pkg / "usr" / "tool").write_bytes(b"x" * 1500)
            (pkg / "usr" / "tool").chmod(0o600)
            (pkg / "DEBIAN" / "control").write_text("Package: pkg\nVersion: 1\nArchitecture: all\n"
                                                    "Installed-Size: 999\nMaintainer: m <m@example.org>\n"
                                                    "Description: d\n")
            deb = os.path.join(tmp, "pkg.deb")
            subprocess.run(["dpkg-deb", "--root-owner-group", "-Zgzip", "--build", pkg, deb],
                           check=True, capture_output=True)
            normalize(deb)
            fields = subprocess.run(["dpkg-deb", "-f", deb, "Installed-Size", "Package"],
                                    capture_output=True, check=True).stdout
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
            ar = subprocess.run(["ar", "tv", deb], capture_output=True, text=True, check=True).stdout
        self.assertEqual(b"Installed-Size: 4\nPackage: pkg\n", fields)
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            got = [(i.name, i.mode, i.mtime, tar.extractfile(i).read() if i.isfile() else None) for i in tar]
        self.assertEqual([(".", 0o755, EPOCH, None), ("./usr", 0o755, EPOCH, None),
                          ("./usr/tool", 0o644, EPOCH, b"x" * 1500)], got)
        self.assertEqual(3, ar.count("rw-r--r-- 0/0"), ar)


if __name__ == "__main__":
    unittest.main()
