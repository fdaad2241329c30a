"""End-to-end tests: the built padcols binary driven through real pipes,
files, terminals and failing devices.

Run from the source root, one group (class) at a time, as ctest does:
python3 -m tests.e2e_test Expansion. PADCOLS names the binary to run and
PADCOLS_VERSION the project's version. For a cross build,
PADCOLS_CROSSCOMPILING is true and PADCOLS_EMULATOR the command that runs the
binary here (Wine or qemu-user); for a Windows build PADCOLS_PLATFORM is
Windows, and PADCOLS_WINE and PADCOLS_WINE_ROUTE say which Wine runs it and
where the Wine setup step recorded how (tests/wine.py). PADCOLS_OBJDUMP and
PADCOLS_READELF are the toolchain's binutils, which read the image.
"""

import collections
import fcntl
import os
import pty
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from tests.wine import from_build, read_route, start_wine

PADCOLS = os.environ["PADCOLS"]
WINDOWS = os.environ.get("PADCOLS_PLATFORM") == "Windows"
# The command line that starts padcols.
COMMAND = [*os.environ.get("PADCOLS_EMULATOR", "").split(), PADCOLS]
# Standard error and the usage screen are written in the streams' default
# (text) mode: on Windows their line ends come out as CR LF.
TEXT_EOL = b"\r\n" if WINDOWS else b"\n"
LINUX_ONLY = "checks Linux system calls, signals or limits, which a Windows build does not use"
# A Linux build for another CPU runs under qemu-user.
QEMU_USER = not WINDOWS and len(COMMAND) > 1
# How Wine runs a Windows build here: natively, through qemu-i386 (tens of
# seconds a process, so only the QemuRoute group runs), or not at all.
ROUTE = read_route(from_build()[1]) if "PADCOLS_WINE" in os.environ else {"route": "native"}
# How long one run of padcols may take.
TIMEOUT = 600 if ROUTE["route"] == "qemu" else 60
BLOCK = 16384

# The project's version, as the build passes it in.
VERSION = os.environ["PADCOLS_VERSION"].encode()

USAGE = (b"\n"
         b"Replaces tabs with strings of spaces -- Ver " + VERSION + b", 2026 the padcols developers\n"
         b"\n"
         b" USAGE:  padcols {tab} <infile >outfile\n"
         b"\n"
         b"{tab}:   tab stop setting (default is 8)\n").replace(b"\n", TEXT_EOL)


def diagnostic(message):
    """The one line padcols writes to standard error."""
    return b"padcols: " + message + TEXT_EOL


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


def run(args=(), data=b"", stdin=None, stdout=subprocess.PIPE, close_fds=(), env=None):
    """Runs padcols; data goes through a pipe unless stdin is given.
    close_fds are closed in the child before it starts."""
    preexec = (lambda: [os.close(fd) for fd in close_fds]) if close_fds else None
    proc = subprocess.run([*COMMAND, *args],
                          input=data if stdin is None else None,
                          stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          preexec_fn=preexec, timeout=TIMEOUT, check=False, env=env)
    return proc.returncode, proc.stdout, proc.stderr


def run_from_file(args, data, **kw):
    """Runs padcols with standard input redirected from a file holding data."""
    with tempfile.TemporaryFile() as f:
        f.write(data)
        f.seek(0)
        return run(args, stdin=f, **kw)


def mixed_stream(seed):
    """Every byte value, then tabs at varied columns among random bytes,
    CR LF, lone CRs and byte 26: over two blocks in all."""
    rng = random.Random(seed)
    pieces = [bytes(range(256))]
    for _ in range(2000):
        pieces += [bytes(rng.randrange(256) for _ in range(rng.randrange(30))),
                   rng.choice([b"\t", b"\t\t", b"\r\n", b"\r", b"\x1a", b"\r\n\t"])]
    return b"".join(pieces)


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

    def check_full_device(self, size):
        """A write that fails for want of room: "Error writing" and status 1."""
        with open("/dev/full", "wb") as full:
            data = (b"a\tb\n" * size)[:size]
            self.assertRun((1, None, diagnostic(b"Error writing")), run([], data, stdout=full))

    def check_command_prompt_recipe(self, cases):
        """Runs padcols.exe the way README.txt tells Windows users to, in
        Wine's cmd.exe, found through PATH as README.txt extends it (Wine's
        drive Z: is the root of the file system), on mixed_stream(29):
        cases are (what follows "padcols", status, output, standard error)."""
        data = mixed_stream(29)
        folder = "Z:" + os.path.dirname(os.path.abspath(PADCOLS)).replace("/", "\\")
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "in.txt"), "wb") as f:
                f.write(data)
            for redirect, status, output, err in cases:
                with self.subTest(redirect=redirect):
                    line = f"set PATH=%PATH%;{folder}&& padcols {redirect} > out.txt"
                    proc = subprocess.run([*COMMAND[:-1], "cmd", "/c", line], cwd=tmp,
                                          capture_output=True, timeout=2 * TIMEOUT, check=False)
                    with open(os.path.join(tmp, "out.txt"), "rb") as f:
                        self.assertRun((status, output(data), err), (proc.returncode, f.read(), proc.stderr))


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
                self.assertRun((1, b"", diagnostic(b"Illegal tab stop")), run([arg], b"a\tb"))

    def test_non_ascii_refused(self):
        # Fullwidth, superscript and subscript digits and the ideographic
        # space, which Windows' best-fit conversion to an ANSI argv turns into
        # ASCII. Wine hands them to padcols.exe as UTF-16 in a UTF-8 locale.
        for arg in ["\uff14", "\uff11\uff16", "\uff0b\uff14", "\u2074", "\u2084", "\u30004"]:
            with self.subTest(arg=arg):
                self.assertRun((1, b"", diagnostic(b"Illegal tab stop")),
                               run([arg], b"a\tb", env={**os.environ, "LC_ALL": "C.UTF-8"}))


class UsageScreen(PadcolsTest):
    """A character device or a missing standard input shows the usage screen,
    whatever the argument says."""

    def check_usage(self, **kw):
        for args in ([], ["4"], ["bogus"]):
            with self.subTest(args=args):
                self.assertRun((1, USAGE, b""), run(args, **kw))

    def test_null_device(self):
        self.check_usage(stdin=subprocess.DEVNULL)

    def test_missing_stdin(self):
        if WINDOWS:
            # A helper starts padcols with no standard input handle.
            helper = os.environ["PADCOLS_NO_STDIN"]
            for args in ([], ["4"], ["bogus"]):
                with self.subTest(args=args):
                    proc = subprocess.run([*COMMAND[:-1], helper, PADCOLS, *args],
                                          capture_output=True, timeout=60, check=False)
                    self.assertRun((1, USAGE, b""), (proc.returncode, proc.stdout, proc.stderr))
        else:
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
            with self.subTest(size=size):
                self.check_full_device(size)

    def test_closed_stdout(self):
        rc, _, err = run([], b"a\tb", stdout=subprocess.DEVNULL, close_fds=(1,))
        self.assertEqual((1, diagnostic(b"Error writing")), (rc, err))
        # With nothing to write, nothing is lost.
        rc, _, err = run([], b"", stdout=subprocess.DEVNULL, close_fds=(1,))
        self.assertEqual((0, b""), (rc, err))

    def test_directory_as_stdin(self):
        fd = os.open(tempfile.gettempdir(), os.O_RDONLY)
        try:
            self.assertRun((1, b"", diagnostic(b"Error reading")), run([], stdin=fd))
        finally:
            os.close(fd)


@unittest.skipIf(WINDOWS, LINUX_ONLY)
@unittest.skipIf(QEMU_USER, "runs padcols under strace and with a file size limit, which would reach qemu "
                            "and not padcols; needs a native build")
class InjectedFaults(PadcolsTest):
    """Failures injected part-way through a run, with strace or a file size
    limit: each test checks the exact standard error and exit status and the
    bytes that reached standard output."""

    DATA = random_bytes(random.Random(13), 10 * BLOCK)

    def inject(self, call, fd, nth):
        """Runs padcols on DATA under strace, making the nth (from 1) call on
        fd fail with EIO. strace counts the calls on all descriptors, so a
        clean run tells which of them that is. Returns the exit status,
        standard output and standard error, and the results of the calls on
        fd before the failing one in the clean run."""
        self.assertIsNotNone(shutil.which("strace"), "strace is needed for this test")
        _, _, calls = trace_calls([], self.DATA)
        calls = [m for m in calls if m[1] == call.encode()]
        on_fd = [i for i, m in enumerate(calls) if m[2] == str(fd).encode()]
        with tempfile.TemporaryFile() as out:
            rc, err, _ = trace_calls([], self.DATA, stdout=out,
                                     extra=["-e", f"inject={call}:error=EIO:when={on_fd[nth - 1] + 1}"])
            out.seek(0)
            return (rc, out.read(), err), [int(calls[i][4]) for i in on_fd[:nth - 1]]

    def test_read_fails_after_some_blocks(self):
        # Everything expanded from the blocks read before the failure is out.
        for good_reads in (0, 1, 4):
            with self.subTest(good_reads=good_reads):
                result, reads = self.inject("read", 0, good_reads + 1)
                self.assertEqual([BLOCK] * good_reads, reads)
                self.assertRun((1, reference(self.DATA[:good_reads * BLOCK]),
                                diagnostic(b"Error reading")), result)

    def test_write_fails_after_some_blocks(self):
        # Exactly what the writes before the failure took is on the output.
        expected = reference(self.DATA)
        for good_writes in (0, 1, 5):
            with self.subTest(good_writes=good_writes):
                result, writes = self.inject("write", 1, good_writes + 1)
                self.assertRun((1, expected[:sum(writes)], diagnostic(b"Error writing")), result)

    def test_write_cut_short(self):
        # A file size limit makes the write that crosses it come up short and
        # the next one fail (with SIGXFSZ ignored, as EFBIG).
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit_bytes, limit_bytes))
        expected = reference(self.DATA)
        for limit_bytes in (1, 40000, 3 * BLOCK):
            with self.subTest(limit=limit_bytes), tempfile.TemporaryFile() as out:
                proc = subprocess.run(COMMAND, input=self.DATA, stdout=out,
                                      stderr=subprocess.PIPE, preexec_fn=limit, timeout=60)
                out.seek(0)
                self.assertRun((1, expected[:limit_bytes], diagnostic(b"Error writing")),
                               (proc.returncode, out.read(), proc.stderr))

    def test_read_fails_after_a_partial_read(self):
        # The pipe holds 4 bytes: the first read takes them, the next read of
        # the same block fails. Those 4 bytes still come out, expanded.
        self.assertIsNotNone(shutil.which("strace"), "strace is needed for this test")
        reads = [m[2] for m in trace_calls([], b"")[2] if m[1] == b"read"]
        when = reads.index(b"0") + 2  # strace counts the reads on every descriptor
        with subprocess.Popen(["strace", "-qq", "-o", "/dev/null", "-e", "trace=read", "-e",
                               f"inject=read:error=EIO:when={when}", PADCOLS],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"}) as proc:
            proc.stdin.write(b"a\tb\n")
            proc.stdin.flush()
            out, err = proc.stdout.read(), proc.stderr.read()
            proc.stdin.close()
        self.assertRun((1, b"a       b\n", diagnostic(b"Error reading")), (proc.returncode, out, err))

    def test_poll_fails_or_is_interrupted(self):
        # A standard input or output left non-blocking is waited for with
        # poll when it is not ready. An interrupted poll (EINTR) is made
        # again; any other failure fails the read or write that waited, and
        # the run ends as after any failed read or write. strace fails every
        # poll, or the first (ppoll where the C library polls with it). Each
        # row has 10 s: a padcols that polled on would hang there.
        # Input: the pipe holds a line and its writer stays open; where the
        # run must go on, a second line and the end come half a second later.
        # Output: the pipe holds a page, and nothing reads it while padcols
        # runs; where the run must go on, it is read to the end from half a
        # second later. padcols, even sanitized and traced, waits in poll
        # within a tenth of that.
        expected = reference(self.DATA)
        for side, error in (("input", "ENOMEM"), ("output", "ENOMEM"),
                            ("input", "EINTR"), ("output", "EINTR")):
            with self.subTest(non_blocking=side, error=error):
                interrupted = error == "EINTR"
                inject = ["-e", f"inject=?poll,?ppoll:error={error}" + (":when=1" if interrupted else "")]
                r, w = os.pipe()
                os.set_blocking(r if side == "input" else w, False)
                fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, 4096)
                fds = {"r": r, "w": w}

                def close(name):
                    fd = fds.pop(name, None)
                    if fd is not None:
                        os.close(fd)

                read_back = []

                def partner():
                    time.sleep(0.5)
                    if side == "input":
                        os.write(w, b"c\td\n")
                        close("w")
                    else:
                        with open(r, "rb", closefd=False) as pipe:
                            read_back.append(pipe.read())

                helper = threading.Thread(target=partner) if interrupted else None
                try:
                    if side == "input":
                        os.write(w, b"a\tb\n")
                    if helper:
                        helper.start()
                    with tempfile.TemporaryFile() as f:
                        rc, err, calls = trace_calls([], self.DATA, extra=inject,
                                                     stdin=r if side == "input" else None,
                                                     stdout=f if side == "input" else w, timeout=10)
                        f.seek(0)
                        out = f.read()
                    close("w")
                    if helper:
                        helper.join(10)
                    if side == "output":
                        if interrupted:
                            out = b"".join(read_back)
                        else:
                            with open(r, "rb", closefd=False) as pipe:
                                out = pipe.read()
                finally:
                    close("w")
                    close("r")
                written = sum(int(m[4]) for m in calls if m[1] == b"write" and m[2] == b"1" and int(m[4]) > 0)
                if interrupted:
                    whole = b"a       b\nc       d\n" if side == "input" else expected
                    self.assertRun((0, whole, b""), (rc, out, err))
                elif side == "input":
                    self.assertRun((1, b"a       b\n", diagnostic(b"Error reading")), (rc, out, err))
                else:
                    # The pipe holds exactly what the writes before the failure took.
                    self.assertGreater(written, 0)
                    self.assertRun((1, expected[:written], diagnostic(b"Error writing")), (rc, out, err))


class Faults(PadcolsTest):
    """A reader that hangs up early, input that trickles in and pipes left
    non-blocking: padcols loses nothing and fails only as it must."""

    def test_reader_hangs_up(self):
        # Endless input; the reader takes a little and closes its end. With
        # SIGPIPE at its default the signal ends padcols; with it ignored, the
        # failed write does.
        for ignore in (False, True):
            with self.subTest(sigpipe_ignored=ignore):
                source = subprocess.Popen(["yes", "a\tb"], stdout=subprocess.PIPE)
                preexec = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore else None
                proc = subprocess.Popen(COMMAND, stdin=source.stdout, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, preexec_fn=preexec)
                source.stdout.close()
                try:
                    self.assertEqual(b"a       b\n" * 100, proc.stdout.read(1000))
                    proc.stdout.close()
                    proc.wait(timeout=10)
                    err = proc.stderr.read()
                finally:
                    proc.kill()
                    source.kill()
                    source.wait()
                    proc.stderr.close()
                if ignore or WINDOWS:  # Windows has no SIGPIPE
                    self.assertEqual((1, diagnostic(b"Error writing")), (proc.returncode, err))
                else:
                    self.assertEqual((-signal.SIGPIPE, b""), (proc.returncode, err))

    def test_input_trickles_in(self):
        # Small pieces with pauses between them: every short read is taken as
        # it comes, and nothing is lost or repeated.
        rng = random.Random(17)
        pieces = [random_bytes(rng, rng.choice([1, 2, 7, 100, 3000])) for _ in range(60)]
        with subprocess.Popen([*COMMAND, "3"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE) as proc:
            def feed():
                for piece in pieces:
                    proc.stdin.write(piece)
                    proc.stdin.flush()
                    time.sleep(rng.random() * 0.02)
                proc.stdin.close()

            feeder = threading.Thread(target=feed)
            feeder.start()
            out = proc.stdout.read()
            feeder.join()
            err = proc.stderr.read()
            status = proc.wait(timeout=60)
        self.assertRun((0, reference(b"".join(pieces), 3), b""), (status, out, err))

    def test_non_blocking_pipes(self):
        # A standard input or output left non-blocking, with a slow partner on
        # the other end of the pipe: padcols waits for it, and loses nothing.
        data = random_bytes(random.Random(19), 3 * BLOCK)
        for side in ("input", "output"):
            with self.subTest(non_blocking=side), tempfile.TemporaryFile() as f:
                r, w = os.pipe()
                theirs, ours = (r, w) if side == "input" else (w, r)
                os.set_blocking(theirs, False)
                f.write(b"" if side == "input" else data)
                f.seek(0)
                out = b""
                with subprocess.Popen(COMMAND, stdin=theirs if side == "input" else f,
                                      stdout=f if side == "input" else theirs,
                                      stderr=subprocess.PIPE) as proc:
                    os.close(theirs)
                    with open(ours, "wb" if side == "input" else "rb", buffering=0) as pipe:
                        if side == "input":
                            for i in range(0, len(data), 5000):
                                time.sleep(0.01)
                                try:
                                    pipe.write(data[i:i + 5000])
                                except BrokenPipeError:  # padcols has given up
                                    break
                        else:
                            while chunk := pipe.read(4096):
                                time.sleep(0.002)
                                out += chunk
                    err = proc.stderr.read()
                f.seek(0)
                self.assertRun((0, reference(data), b""),
                               (proc.returncode, out if side == "output" else f.read(), err))


@unittest.skipIf(QEMU_USER, "5 GiB through qemu-user takes over a minute; the native and the 32-bit "
                            "Windows builds check that no count wraps")
class LongStream(PadcolsTest):
    def test_five_gibibytes_through_a_pipe(self):
        # 5 GiB of "ab<tab>cd<LF>" lines, compared byte for byte (and so in
        # length) with the expanded lines: no count may wrap at 32 bits.
        size = 5 << 30
        lines, rest = divmod(size, 6)
        expected_size = lines * 11 + rest  # the rest is "ab", which stays as it is
        # The command that starts padcols comes in as bash's "$@".
        script = ('yes "$(printf \'ab\\tcd\')" | head -c %d | "$@" | '
                  'cmp - <(yes "ab      cd" | head -c %d); '
                  'echo "${PIPESTATUS[2]} ${PIPESTATUS[3]}"' % (size, expected_size))
        proc = subprocess.run(["bash", "-c", script, "bash", *COMMAND], capture_output=True,
                              timeout=1800)
        self.assertEqual((b"0 0\n", b""), (proc.stdout, proc.stderr))


def binutils(tool, *args):
    """What the toolchain's objdump or readelf (PADCOLS_OBJDUMP, PADCOLS_READELF)
    prints about the padcols image."""
    return subprocess.run([os.environ[tool], *args, PADCOLS], capture_output=True, check=True).stdout


@unittest.skipIf(WINDOWS, "checks a Linux image")
class LinuxImage(PadcolsTest):
    """What the ELF executable says about itself."""

    # A Linux build is hardened as Debian's packages are: (what, readelf
    # option, what readelf shows then).
    ELF_HARDENING = [
        ("position-independent executable", "-h", rb"Type:\s+DYN "),
        ("PIE flag", "-d", rb"\(FLAGS_1\)[^\n]*\sPIE\b"),
        ("relocations read-only after start-up (RELRO)", "-lW", rb"\n\s*GNU_RELRO\s"),
        ("all symbols bound at start-up (full RELRO)", "-d", rb"\(FLAGS\)[^\n]*\sBIND_NOW\b"),
        ("no executable stack", "-lW", rb"\n\s*GNU_STACK(\s+0x[0-9a-f]+){5}\s+RW\s"),
        ("stack protector", "--dyn-syms", rb"\s__stack_chk_fail\b"),
    ]

    def test_hardened_like_debian(self):
        for what, option, shown in self.ELF_HARDENING:
            with self.subTest(what):
                self.assertRegex(binutils("PADCOLS_READELF", "-W", option), shown)


@unittest.skipUnless(WINDOWS, "checks the Windows image")
class WindowsImage(PadcolsTest):
    """What padcols.exe and the zip's text files say about themselves, read
    without Wine."""

    BITS = 64 if os.environ.get("PADCOLS_PROCESSOR") == "x86_64" else 32
    # What objdump -p shows of each build's header.
    HEADER = {32: [rb"file format pei-i386", rb"Magic\s+010b\s+\(PE32\)"],
              64: [rb"file format pei-x86-64", rb"Magic\s+020b\s+\(PE32\+\)"]}
    # The DLL characteristics padcols.exe keeps: Windows loads it at a random
    # address (anywhere in the 64-bit address space for the 64-bit build) and
    # runs nothing from its data pages.
    PE_CHARACTERISTICS = [("DYNAMIC_BASE (ASLR)", 0x0040), ("NX_COMPAT (DEP)", 0x0100)] + \
        ([("HIGH_ENTROPY_VA (64-bit ASLR)", 0x0020)] if BITS == 64 else [])
    # An aligned move of a 32- or 64-byte vector register to or from the
    # stack. Windows x64 aligns the stack to 16 bytes only, and GCC for
    # mingw-w64 may still spill ymm and zmm registers with aligned moves
    # (GCC bug 54412): on Windows, though not always under Wine, that faults.
    ALIGNED_STACK_VECTOR = re.compile(
        rb"\tv?mov(?:dqa(?:32|64)?|ap[sd]|nt(?:dqa?|p[sd]))\s+"
        rb"(?:%[yz]mm\d+(?:\{[^}]*\})*,\S*\(%[re][sb]p|\S*\(%[re][sb]p\S*,%[yz]mm)")

    def test_console_program_using_only_system_dlls(self):
        # What the image needs from the system.
        info = binutils("PADCOLS_OBJDUMP", "-p")
        for shown in self.HEADER[self.BITS]:
            self.assertRegex(info, shown)
        self.assertRegex(info, rb"Subsystem\s+00000003\s+\(Windows CUI\)")
        dlls = {name.lower() for name in re.findall(rb"DLL Name: (\S+)", info)}
        self.assertTrue(dlls)
        self.assertLessEqual(dlls, {b"kernel32.dll", b"msvcrt.dll"})
        characteristics = int(re.search(rb"DllCharacteristics\s+([0-9a-fA-F]+)", info)[1], 16)
        for name, bit in self.PE_CHARACTERISTICS:
            with self.subTest(name):
                self.assertTrue(characteristics & bit, f"DllCharacteristics {characteristics:#06x}")

    def test_no_aligned_vector_access_to_the_stack(self):
        # The pattern finds what it is for, in the forms objdump prints.
        for line in (b"\tvmovdqa %ymm0,0x20(%rsp)", b"\tvmovaps 0x40(%rbp),%ymm6",
                     b"\tvmovdqa64 %zmm1,-0x40(%rbp)", b"\tvmovdqu8 %zmm1,0x40(%rsp){%k1}"):
            self.assertEqual(b"vmovdqu8" not in line, bool(self.ALIGNED_STACK_VECTOR.search(line)), line)
        found = self.ALIGNED_STACK_VECTOR.findall(binutils("PADCOLS_OBJDUMP", "-d"))
        self.assertEqual([], found)

    def test_version_resource(self):
        # What Explorer's Properties and PowerShell's VersionInfo show, as the
        # toolchain's windres reads it back from the image.
        windres = os.environ["PADCOLS_WINDRES"]
        rc = subprocess.run([windres, "-i", PADCOLS, "-O", "rc"], capture_output=True, check=True).stdout
        with open(os.path.join(os.path.dirname(__file__), "..", "LICENSE"), "rb") as f:
            copyright_line = re.search(rb"^Copyright .*", f.read(), re.M)[0]
        # The numeric version has four parts, the missing ones 0.
        numeric = b", ".join((VERSION.split(b".") + [b"0"] * 3)[:4])
        self.assertRegex(rc, rb"FILEVERSION %s\s+PRODUCTVERSION %s" % (numeric, numeric))
        self.assertEqual({b"FileDescription": b"Replaces tabs with the spaces that reach the next tab stop",
                          b"FileVersion": VERSION, b"ProductVersion": VERSION, b"ProductName": b"padcols",
                          b"InternalName": b"padcols", b"OriginalFilename": b"padcols.exe",
                          b"LegalCopyright": copyright_line},
                         dict(re.findall(rb'VALUE "(\w+)", "([^"]*)"', rc)))

    def test_text_files_have_cr_lf_line_ends(self):
        texts = {}
        for name in ("README.txt", "LICENSE.txt"):
            with open(os.path.join(os.environ["PADCOLS_ZIP_TEXT_DIR"], name), "rb") as f:
                texts[name] = f.read()
        for name, text in texts.items():
            with self.subTest(name=name):
                self.assertTrue(text.endswith(b"\r\n"))
                self.assertEqual(text.count(b"\r\n"), text.count(b"\n"), "a lone LF")
                self.assertEqual(text.count(b"\r\n"), text.count(b"\r"), "a lone CR")
        # The recipes WindowsReadme runs are the ones README.txt gives.
        for recipe in (b"\r\n  padcols 4 < in.txt > out.txt\r\n",
                       b'\r\n  cmd /c "padcols 4 < in.txt > out.txt"\r\n',
                       b"\r\n    set PATH=%PATH%;C:\\tools\\padcols\r\n"):
            self.assertIn(recipe, texts["README.txt"])


@unittest.skipUnless(WINDOWS, "checks what the zip gives a Windows user")
class WindowsReadme(PadcolsTest):
    """The Command Prompt recipe README.txt gives, run by Wine's cmd.exe."""

    def test_command_prompt_recipe(self):
        self.check_command_prompt_recipe([
            ("4 < in.txt", 0, lambda data: reference(data, 4), b""),
            ("< in.txt", 0, reference, b""),
            ("1 < in.txt", 0, lambda data: reference(data, 1), b""),
            ("13 < in.txt", 0, lambda data: reference(data, 13), b""),
            ("0 < in.txt", 1, lambda data: b"", diagnostic(b"Illegal tab stop")),
            ("4 < NUL", 1, lambda data: USAGE, b"")])


@unittest.skipUnless(WINDOWS, "checks the Windows build")
class QemuRoute(PadcolsTest):
    """The small set that also runs where 32-bit Wine can only run under
    qemu-i386, at tens of seconds a Wine process: one process for each case
    but the recipe's, which starts cmd.exe too."""

    def test_mixed_bytes_come_through(self):
        data = mixed_stream(31)
        self.assertRun((0, reference(data, 4), b""), run(["4"], data))

    def test_write_fails(self):
        self.check_full_device(5 * BLOCK)

    def test_command_prompt_recipe(self):
        self.check_command_prompt_recipe([("4 < in.txt", 0, lambda data: reference(data, 4), b"")])


class EmulatedCpus(PadcolsTest):
    """padcols for x86-64 Linux under qemu-user as CPUs of other generations,
    each of which takes a path of its own (the unit tests check which): SSE2
    alone, AVX2, AVX2 with BMI1 or AVX2 itself hidden, and AVX2 from Hygon.
    PADCOLS_QEMU_X86_64 names qemu-x86_64, for a build that runs here
    natively without the sanitizers."""
    MODELS = ["qemu64", "Haswell", "Haswell,-bmi1", "Haswell,-avx2", "Dhyana"]

    def test_mixed_bytes_and_runs_of_tabs(self):
        if os.environ.get("PADCOLS_SANITIZE") == "1":
            self.skipTest("a build with the sanitizers does not run under qemu-user: their runtime hangs there")
        qemu = os.environ.get("PADCOLS_QEMU_X86_64")
        if not qemu:
            self.skipTest("only for x86-64 Linux built here, with qemu-user installed")
        # Runs of every length up to past a chunk's bitmap, at every column.
        data = mixed_stream(31) + b"".join(b"x" * (n % 11) + b"\t" * n + b"y\n" for n in range(1, 140))
        # qemu 7.2 refuses BMI2's instructions on a CPU without BMI1, which
        # glibc's AVX2 string functions use: glibc leaves them be.
        env = {**os.environ, "GLIBC_TUNABLES": "glibc.cpu.hwcaps=-BMI2"}
        for model in self.MODELS:
            for stop in (3, 8, 9999):
                with self.subTest(model=model, stop=stop):
                    proc = subprocess.run([qemu, "-cpu", model, PADCOLS, str(stop)], input=data,
                                          capture_output=True, timeout=TIMEOUT, check=False, env=env)
                    stderr = b"".join(line + b"\n" for line in proc.stderr.splitlines()
                                      if not line.startswith(b"qemu-x86_64: warning: TCG doesn't support"))
                    self.assertRun((0, reference(data, stop), b""), (proc.returncode, proc.stdout, stderr))


# One read or write in strace's log: call, descriptor, size asked, result.
CALL = re.compile(rb"^(read|write)\(([0-9]+), .*, (\d+)\) += (-?\d+)")


def trace_calls(args, data, extra=(), stdout=subprocess.DEVNULL, stdin=None, timeout=60):
    """Runs padcols under strace with standard input from a file holding data,
    or from stdin when given. Returns the exit status, standard error and the
    (call, fd, result) of each read and write, in order; extra strace options
    may inject faults, into poll and ppoll too, which are traced for that."""
    with tempfile.TemporaryDirectory() as tmp, tempfile.TemporaryFile() as f:
        log = os.path.join(tmp, "log")
        f.write(data)
        f.seek(0)
        proc = subprocess.run(["strace", "-qq", "-s0", "-e", "trace=read,write,?poll,?ppoll", *extra,
                               "-o", log, PADCOLS, *args],
                              stdin=f if stdin is None else stdin, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=timeout, check=False,
                              # A sanitized build's leak checker cannot run under ptrace.
                              env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"})
        with open(log, "rb") as f:
            calls = [CALL.match(line) for line in f]
    return proc.returncode, proc.stderr, [m for m in calls if m]


@unittest.skipIf(WINDOWS, LINUX_ONLY)
@unittest.skipIf(QEMU_USER, "traces the system calls padcols makes with strace, which would see those "
                            "of qemu; needs a native build")
class SystemCalls(PadcolsTest):
    """The read and write requests padcols makes, as strace sees them."""

    def trace(self, args, data):
        self.assertIsNotNone(shutil.which("strace"), "strace is needed for this test")
        rc, err, calls = trace_calls(args, data)
        self.assertEqual((0, b""), (rc, err))
        reads = [(int(m[3]), int(m[4])) for m in calls if m[1] == b"read" and m[2] == b"0"]
        writes = [int(m[4]) for m in calls if m[1] == b"write" and m[2] == b"1"]
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


def cases(suite):
    """The test cases in a suite, however nested."""
    for test in suite:
        yield from cases(test) if isinstance(test, unittest.TestSuite) else [test]


if __name__ == "__main__":
    # ctest runs one group at a time and shows one result for it. A group
    # that skips every case exits with 77, which ctest shows as skipped; a
    # group that skips only some fails, as "Passed" would hide them: such
    # cases belong in a group of their own.
    module = sys.modules[__name__]
    if os.environ.get("PADCOLS_CROSSCOMPILING") == "TRUE" and len(COMMAND) == 1 \
            and sys.argv[1:] != ["WindowsImage"]:
        print("skipped: no emulator to run this build here (install Wine or qemu-user and reconfigure)")
        sys.exit(77)
    if WINDOWS and sys.argv[1:] != ["WindowsImage"]:
        # Everything but the image checks runs under Wine, and under the
        # qemu route only the QemuRoute group does.
        if ROUTE["route"] == "none":
            print(f"skipped: {ROUTE['reason']}")
            sys.exit(77)
        if ROUTE["route"] == "qemu" and sys.argv[1:] != ["QemuRoute"]:
            print(f"skipped: {ROUTE['reason']}; under qemu-i386 only the QemuRoute group runs")
            sys.exit(77)
        if ROUTE["route"] == "native":  # the qemu route's server lasts the whole run
            start_wine(COMMAND[0])
    loader = unittest.defaultTestLoader
    suite = loader.loadTestsFromNames(sys.argv[1:], module) if sys.argv[1:] \
        else loader.loadTestsFromModule(module)
    in_group = collections.Counter(type(test).__name__ for test in cases(suite))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    skipped = collections.Counter(type(test).__name__ for test, _ in result.skipped)
    mixed = [group for group in skipped if skipped[group] < in_group[group]]
    if mixed:
        print(f"some but not all cases skipped in {', '.join(mixed)}", file=sys.stderr)
    if not result.testsRun:
        print("no test in this group", file=sys.stderr)
    if mixed or not result.wasSuccessful() or not result.testsRun:
        sys.exit(1)
    sys.exit(77 if result.testsRun == len(result.skipped) else 0)
