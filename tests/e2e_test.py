"""End-to-end tests: the built padcols binary driven through real pipes,
files, terminals and failing devices.

PADCOLS names the binary to run.
"""

import os
import pty
import random
import re
import shutil
import subprocess
import tempfile
import unittest

PADCOLS = os.environ["PADCOLS"]
BLOCK = 16384

USAGE = (b"\n"
         b"Replaces tabs with strings of spaces -- Ver 2.1, 2026 the padcols developers\n"
         b"\n"
         b" USAGE:  padcols {tab} <infile >outfile\n"
         b"\n"
         b"{tab}:   tab stop setting (default is 8)\n")


def reference(data, stop=8):
    """The expansion as the program defines it, one byte at a time."""
    out = bytearray()
    column = 0
    for byte in data:
        if byte == 9:
            n = stop - column % stop
            out += b" " * n
            column += n
        else:
            out.append(byte)
            column = 0 if byte in (10, 13) else column + 1
    return bytes(out)


def random_bytes(rng, size, special=b"\t\t\t\r\n"):
    """Random bytes of every value, about half of them taken from special."""
    return bytes(rng.choice(special) if rng.random() < 0.5 else rng.randrange(256)
                 for _ in range(size))


def run(args=(), data=b"", stdin=None, stdout=subprocess.PIPE, close_fds=()):
    """Runs padcols; data goes through a pipe unless stdin is given.
    close_fds are closed in the child before it starts."""
    preexec = (lambda: [os.close(fd) for fd in close_fds]) if close_fds else None
    proc = subprocess.run([PADCOLS, *args],
                          input=data if stdin is None else None,
                          stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          preexec_fn=preexec, timeout=60, check=False)
    return proc.returncode, proc.stdout, proc.stderr


def run_from_file(args, data, **kw):
    """Runs padcols with standard input redirected from a file holding data."""
    with tempfile.TemporaryFile() as f:
        f.write(data)
        f.seek(0)
        return run(args, stdin=f, **kw)


def first_difference(a, b):
    """Where two byte strings part, with a little of each from there."""
    if a is None or b is None:
        return f"{a!r} against {b!r}"
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return f"lengths {len(a)} and {len(b)}, first difference at {at}: {a[at:at + 16]!r} against {b[at:at + 16]!r}"


class PadcolsTest(unittest.TestCase):
    def assertRun(self, expected, actual):
        """Compares (exit status, stdout, stderr) without dumping large outputs."""
        if expected != actual:
            self.fail(f"exit status {actual[0]} (expected {expected[0]}), "
                      f"stderr {actual[2]!r} (expected {expected[2]!r}), "
                      f"stdout: {first_difference(actual[1], expected[1])}")


def runs(sizes):
    """Run-length encoding of a list of sizes: [(size, count), ...]."""
    out = []
    for size in sizes:
        if out and out[-1][0] == size:
            out[-1][1] += 1
        else:
            out.append([size, 1])
    return out


class Expansion(PadcolsTest):
    CASES = [
        ([], b"ab\tc", b"ab      c"),
        ([], b"\t", b" " * 8),
        ([], b"", b""),
        (["4"], b"abc\td\n\tx", b"abc d\n    x"),
        (["4"], b"abcd\te", b"abcd    e"),
        (["4"], b"ab\r\tc", b"ab\r    c"),
        (["4"], b"ab\r\n\tc\r\n", b"ab\r\n    c\r\n"),
        (["1"], b"a\t\tb\t", b"a  b "),
        (["3"], b"\x00\x08\x1a\x7f\x80\xff\t|", b"\x00\x08\x1a\x7f\x80\xff   |"),
        (["9999"], b"x\t", b"x" + b" " * 9998),
        # Without tabs every byte comes through as it is.
        ([], bytes(range(256)).replace(b"\t", b"") * 3, bytes(range(256)).replace(b"\t", b"") * 3),
    ]

    def test_table_through_pipe_and_file(self):
        for args, data, expected in self.CASES:
            for runner in (run, run_from_file):
                with self.subTest(args=args, data=data[:20], via=runner.__name__):
                    self.assertRun((0, expected, b""), runner(args, data))

    def test_inputs_around_block_sizes(self):
        rng = random.Random(7)
        for size in (1, BLOCK - 1, BLOCK, BLOCK + 1, 20000, 3 * BLOCK + 7):
            data = random_bytes(rng, size)
            for stop in (1, 8, 9999):
                with self.subTest(size=size, stop=stop):
                    expected = reference(data, stop)
                    self.assertRun((0, expected, b""), run([str(stop)], data))
                    self.assertRun((0, expected, b""), run_from_file([str(stop)], data))


class Argument(PadcolsTest):
    ACCEPTED = [(["4"], 4), (["+4"], 4), (["004"], 4), ([" 4"], 4), (["9999"], 9999),
                (["1"], 1), (["4", "junk"], 4), ([], 8)]
    REFUSED = ["0", "-4", "10000", "4 ", "4x", "0x10", "1e3", "-h", "/?", "", " ", "+",
               "99999999999999999999999", "-99999999999999999999999"]

    def test_accepted_forms(self):
        for args, stop in self.ACCEPTED:
            with self.subTest(args=args):
                self.assertRun((0, b" " * stop + b"|", b""), run(args, b"\t|"))

    def test_refused_forms(self):
        for arg in self.REFUSED:
            with self.subTest(arg=arg):
                self.assertRun((1, b"", b"padcols: Illegal tab stop\n"), run([arg], b"a\tb"))


class UsageScreen(PadcolsTest):
    """A character device or a missing standard input shows the usage screen,
    whatever the argument says."""

    def check_usage(self, **kw):
        for args in ([], ["4"], ["bogus"]):
            with self.subTest(args=args):
                self.assertRun((1, USAGE, b""), run(args, **kw))

    def test_null_device(self):
        self.check_usage(stdin=subprocess.DEVNULL)

    def test_closed_stdin(self):
        self.check_usage(stdin=subprocess.DEVNULL, close_fds=(0,))

    def test_terminal(self):
        master, slave = pty.openpty()
        try:
            self.check_usage(stdin=slave)
        finally:
            os.close(slave)
            os.close(master)


class Failures(PadcolsTest):
    def test_full_device(self):
        for size in (3, 5 * BLOCK):
            with self.subTest(size=size), open("/dev/full", "wb") as full:
                data = (b"a\tb\n" * size)[:size]
                self.assertRun((1, None, b"padcols: Error writing\n"), run([], data, stdout=full))

    def test_closed_stdout(self):
        rc, _, err = run([], b"a\tb", stdout=subprocess.DEVNULL, close_fds=(1,))
        self.assertEqual((1, b"padcols: Error writing\n"), (rc, err))
        # With nothing to write, nothing is lost.
        rc, _, err = run([], b"", stdout=subprocess.DEVNULL, close_fds=(1,))
        self.assertEqual((0, b""), (rc, err))

    def test_directory_as_stdin(self):
        fd = os.open(tempfile.gettempdir(), os.O_RDONLY)
        try:
            self.assertRun((1, b"", b"padcols: Error reading\n"), run([], stdin=fd))
        finally:
            os.close(fd)


class SystemCalls(PadcolsTest):
    """The read and write requests padcols makes, as strace sees them."""

    CALL = re.compile(rb"^(read|write)\(([01]), .*, (\d+)\) += (-?\d+)")

    def trace(self, args, data):
        self.assertIsNotNone(shutil.which("strace"), "strace is needed for this test")
        with tempfile.TemporaryDirectory() as tmp:
            log = os.path.join(tmp, "log")
            with tempfile.TemporaryFile() as f, open(os.devnull, "wb") as sink:
                f.write(data)
                f.seek(0)
                proc = subprocess.run(["strace", "-qq", "-s0", "-e", "trace=read,write",
                                       "-o", log, PADCOLS, *args],
                                      stdin=f, stdout=sink, stderr=subprocess.PIPE,
                                      timeout=60, check=False,
                                      # A sanitized build's leak checker cannot run under ptrace.
                                      env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"})
            self.assertEqual((0, b""), (proc.returncode, proc.stderr))
            with open(log, "rb") as f:
                calls = [self.CALL.match(line) for line in f]
        reads = [(int(m[3]), int(m[4])) for m in calls if m and m[1] == b"read" and m[2] == b"0"]
        writes = [int(m[4]) for m in calls if m and m[1] == b"write" and m[2] == b"1"]
        return reads, writes

    @staticmethod
    def expected_writes(data, stop):
        """Each input block's output goes out in full blocks, then the rest."""
        writes = []
        done = 0
        for end in range(BLOCK, len(data) + BLOCK, BLOCK):
            size = len(reference(data[:end], stop)) - done
            done += size
            writes += [BLOCK] * (size // BLOCK) + ([size % BLOCK] if size % BLOCK else [])
        return writes

    def test_block_pattern(self):
        rng = random.Random(11)
        cases = [
            ([], b""),
            ([], b"x" * BLOCK),
            ([], b"x" * 20000),
            ([], b"\t" * BLOCK),
            (["3"], random_bytes(rng, 5 * BLOCK + 123)),
            (["9999"], random_bytes(rng, 2 * BLOCK, special=b"\n" + b"\t" * 50)),
        ]
        for args, data in cases:
            with self.subTest(args=args, size=len(data)):
                reads, writes = self.trace(args, data)
                stop = int(args[0]) if args else 8
                self.assertEqual(runs(self.expected_writes(data, stop)), runs(writes))
                # Each block is asked for whole; a short answer is followed
                # by a request for the rest of that block.
                left = BLOCK
                for asked, got in reads:
                    self.assertEqual(left, asked)
                    left = BLOCK if got in (0, left) else left - got
                self.assertEqual(len(data), sum(got for _, got in reads))
                self.assertEqual(0, reads[-1][1])


class AgainstPeer(PadcolsTest):
    """The system's expand agrees with padcols on input without carriage
    returns and backspaces."""

    def test_random_inputs(self):
        self.assertIsNotNone(shutil.which("expand"), "expand is needed for this test")
        rng = random.Random(5)
        alphabet = bytes(b for b in range(256) if b not in (8, 13))
        for round_ in range(40):
            stop = rng.choice([1, 2, 7, 8, 9, 16, rng.randrange(1, 100), 9999])
            size = rng.randrange(0, 3 * BLOCK)
            data = random_bytes(rng, size, special=b"\t\t\t\n") \
                .translate(bytes.maketrans(b"\b\r", b"xy"))
            if round_ % 2:
                data = bytes(rng.choice(alphabet) for _ in range(size // 4))
            with self.subTest(stop=stop, size=len(data)):
                peer = subprocess.run(["expand", "-t", str(stop)], input=data,
                                      capture_output=True, check=True,
                                      env={**os.environ, "LC_ALL": "C"}).stdout
                self.assertRun((0, peer, b""), run([str(stop)], data))


if __name__ == "__main__":
    unittest.main()
