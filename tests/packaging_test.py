"""Tests of what makes two builds of one commit give the same packages: the
source date (cmake/source_date_epoch.cmake) and the count of a .deb's
installed size (packaging/cpack_normalize.cmake).

CMAKE_COMMAND names the cmake to run.
"""

import email.utils
import io
import os
import pathlib
import shutil
import subprocess
import tarfile
import tempfile
import unittest

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
            for what, folder, env, expected in cases:
                with self.subTest(what):
                    self.assertEqual(expected, source_date(folder, **env))


class DebianPackage(unittest.TestCase):
    @unittest.skipUnless(shutil.which("dpkg-deb"), "needs dpkg-deb")
    def test_installed_size_as_dpkg_counts_it(self):
        # The top folder, usr, an empty file, a link and a file of 1500 bytes
        # take 1 + 1 + 0 + 1 + 2 KiB, whatever sizes the file system gives
        # folders; the package comes out owned by root, in dpkg-deb's order
        # (by name, links last), whatever order the file system lists.
        with tempfile.TemporaryDirectory() as tmp:
            pkg = pathlib.Path(tmp, "pkg")
            (pkg / "DEBIAN").mkdir(parents=True)
            (pkg / "usr").mkdir()
            (pkg / "usr" / "tool").write_bytes(b"x" * 1500)
            (pkg / "usr" / "empty").write_bytes(b"")
            (pkg / "usr" / "link").symlink_to("tool")
            (pkg / "DEBIAN" / "control").write_text("Package: pkg\nVersion: 1\nArchitecture: all\n"
                                                    "Installed-Size: 999\nMaintainer: m <m@example.org>\n"
                                                    "Description: d\n")
            deb = os.path.join(tmp, "pkg.deb")
            subprocess.run(["dpkg-deb", "-Zgzip", "--build", pkg, deb], check=True, capture_output=True)
            subprocess.run([os.environ.get("CMAKE_COMMAND", "cmake"), f"-DCPACK_PACKAGE_FILES={deb}", "-P",
                            os.path.join(ROOT, "packaging", "cpack_normalize.cmake")],
                           check=True, capture_output=True, env={**os.environ, "SOURCE_DATE_EPOCH": str(EPOCH)})
            fields = subprocess.run(["dpkg-deb", "-f", deb, "Installed-Size", "Package"],
                                    capture_output=True, check=True).stdout
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
        self.assertEqual(b"Installed-Size: 5\nPackage: pkg\n", fields)
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            got = [(i.name, i.uname, i.gname) for i in tar]
        self.assertEqual([(name, "root", "root") for name in
                          (".", "./usr", "./usr/empty", "./usr/tool", "./usr/link")], got)


if __name__ == "__main__":
    unittest.main()
