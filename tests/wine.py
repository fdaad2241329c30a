"""Wine for the Windows builds' tests and the benchmark: its settings, which
route runs a 32-bit padcols.exe here, a Wine server kept running between
tests, and the route taken down again when the test run ends.

64-bit Wine runs wherever x86-64 code runs. 32-bit Wine needs a kernel that
runs 32-bit x86 code; where it does not, and we are root with qemu-i386 at
hand, 32-bit programs are routed through qemu-i386 by a binfmt_misc entry
registered for this test run only. That route is slow (tens of seconds a
Wine process), so under it the tests run a small named set and skip the rest.

From the source root, with PADCOLS_WINE naming Wine's loader and
PADCOLS_WINE_ROUTE the file in the build folder that records the route:

    python3 -m tests.wine setup             the ctest fixture's setup
    python3 -m tests.wine cleanup           and its cleanup
    python3 -m tests.wine run PROGRAM...    runs PROGRAM under Wine (the unit tests)

PADCOLS_WINE32_ROUTE=qemu forces the qemu route on a host that runs 32-bit
code natively, to test it there.
"""

import errno
import json
import os
import struct
import subprocess
import sys
import time

BINFMT = "/proc/sys/fs/binfmt_misc"
# The entry's name carries the pid of the ctest run that registered it, so a
# later run can tell a stale entry (its run gone) from a running one's.
ENTRY_PREFIX = "padcols-i386-"
# qemu's own i386 ELF magic and mask: a 32-bit executable or shared object.
I386_MAGIC = b"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
I386_MASK = b"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
NO_32_BIT = "this kernel runs no 32-bit code"
# The unit tests that cannot run under qemu-i386: any test that skips itself
# (GTEST_SKIP) there kills Wine's own client with "stack smashing detected",
# a fault of the emulation. In this Release build the assertion death test
# always skips (assertions are compiled out).
QEMU_GTEST_FILTER = "-*AssertsOnAStateOutsideItsBounds*"


def settings(prefix):
    """The environment Wine runs in here: a prefix of the caller's, no debug
    output, no prompt to install Mono or Gecko. QEMU_RESERVED_VA is read by
    qemu-i386 alone, where it runs 32-bit Wine: a 4 GiB address space for
    it, as a 64-bit kernel gives a 32-bit process. With qemu's smaller
    default its own mappings take the address where Wine puts the shared
    user data page, and every Wine process fails to start."""
    return {"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "QEMU_RESERVED_VA": "0xffff0000"}


def from_build():
    """Wine's loader and the route file as ctest passes them, with Wine's
    settings put into this process's environment (the prefix beside the
    route file, in the build folder)."""
    wine, route_file = os.environ["PADCOLS_WINE"], os.environ["PADCOLS_WINE_ROUTE"]
    os.environ.update(settings(os.path.join(os.path.dirname(route_file), "wineprefix")))
    return wine, route_file


def wineserver_for(wine):
    path = os.path.join(os.path.dirname(wine), "wineserver")
    return path if os.path.exists(path) else "/usr/lib/wine/wineserver"


def start_wine(wine, env=None, persistent=False):
    """Starts a Wine server that outlives each run, and Wine's own background
    programs with it, all with their standard streams on /dev/null. Started
    by a test's run instead, they would inherit its pipes and hold them open
    for seconds after it ended. The first run in a new prefix also reports
    the prefix's creation on standard error; this run takes that. env is the
    environment to run them in, WINEPREFIX included (ours by default). A
    persistent server lasts until it is told to stop (stop_wine); any other
    ends 10 s after its last program."""
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL, "timeout": 600, "env": env}
    wineserver = wineserver_for(wine)
    prefix = (env or os.environ).get("WINEPREFIX")
    if prefix and not os.path.isdir(prefix):
        subprocess.run([wine, "cmd", "/c", "exit"], check=True, **quiet)
        subprocess.run([wineserver, "-w"], check=False, **quiet)
    # Fails harmlessly when a server is already running.
    subprocess.run([wineserver, "-p" if persistent else "-p10"], check=False, **quiet)
    subprocess.run([wine, "cmd", "/c", "exit"], check=True, **quiet)


def probe_program(native_only):
    """A 32-bit x86 Linux program of 96 bytes that exits with status 42.
    With native_only, a byte of the ELF identification's padding, which the
    kernel ignores, is 1: qemu's binfmt_misc entries ask for 0 there, so no
    entry routes it to an emulator and it starts only where the kernel
    itself runs 32-bit code."""
    base = 0x08048000
    code = bytes.fromhex("b801000000" "bb2a000000" "cd80")  # exit(42) through int 0x80
    ident = b"\x7fELF\x01\x01\x01\x00\x00" + bytes([native_only]) + bytes(6)
    size = 52 + 32 + len(code)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
    segment = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
    return header + segment + code


def starts(program, folder):
    """Whether program, written to folder, runs and exits with 42: False when
    the kernel says it cannot run such a program ("Exec format error");
    RuntimeError when it cannot be run there at all (a noexec mount)."""
    path = os.path.join(folder, "probe32")
    with open(path, "wb") as f:
        f.write(program)
    os.chmod(path, 0o755)
    try:
        return subprocess.run([path], timeout=60, check=False).returncode == 42
    except OSError as e:
        if e.errno != errno.ENOEXEC:
            raise RuntimeError(f"a program in {folder} cannot be run ({e.strerror})") from e
        return False
    finally:
        os.remove(path)


def remove_entry(name):
    try:
        with open(os.path.join(BINFMT, name), "w") as f:
            f.write("-1")
    except OSError:
        pass  # already gone


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def register_qemu(folder, owner):
    """Routes 32-bit x86 programs through qemu-i386 with an entry of this
    run's own, beside any other there is (another run's, or the system's,
    which are left alone). Returns the route's record, or raises
    RuntimeError with the reason it cannot be had."""
    qemu = "/usr/bin/qemu-i386"
    if os.geteuid() != 0:
        raise RuntimeError("routing it through qemu-i386 needs root (binfmt_misc)")
    if not os.access(qemu, os.X_OK):
        raise RuntimeError("routing it through qemu-i386 needs qemu-user")
    mounted = False
    if not os.path.exists(os.path.join(BINFMT, "register")):
        if subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT], check=False).returncode:
            raise RuntimeError(f"cannot mount binfmt_misc on {BINFMT}")
        mounted = True
    for name in os.listdir(BINFMT):  # left by a run that was killed with its watchdog
        pid = name[len(ENTRY_PREFIX):]
        if name.startswith(ENTRY_PREFIX) and pid.isdigit() and not pid_alive(int(pid)):
            remove_entry(name)
    # Flag F opens qemu now, so the route holds in any mount namespace.
    name = f"{ENTRY_PREFIX}{owner}"
    rule = f":{name}:M::{escaped(I386_MAGIC)}:{escaped(I386_MASK)}:{qemu}:F"
    with open(os.path.join(BINFMT, "register"), "w") as f:
        f.write(rule)
    record = {"route": "qemu", "entry": name, "mounted": mounted}
    if not starts(probe_program(native_only=False), folder):
        take_down(record)
        raise RuntimeError("qemu-i386 did not start a 32-bit program through binfmt_misc")
    return record


def escaped(data):
    return "".join(f"\\x{b:02x}" for b in data)


def take_down(record):
    """Removes what register_qemu put up: never an entry it found there."""
    if record.get("entry"):
        remove_entry(record["entry"])
    if record.get("mounted") and not [n for n in os.listdir(BINFMT) if n not in ("register", "status")]:
        subprocess.run(["umount", BINFMT], check=False)


def watch(record, owner, wine):
    """A detached process that takes the route down, and stops the Wine
    server kept for it, once the ctest run that set it up has ended, however
    it ended: the cleanup step does that on a normal end, this covers a run
    that was interrupted or killed."""
    if os.fork():
        return
    os.setsid()
    if os.fork():
        os._exit(0)
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    entry = os.path.join(BINFMT, record["entry"])
    while pid_alive(owner) and os.path.exists(entry):
        time.sleep(1)
    if os.path.exists(entry):
        subprocess.run([wineserver_for(wine), "-k"], check=False)
    take_down(record)
    os._exit(0)


def choose_route(folder, owner):
    """native, qemu or none, with the reason when not native."""
    forced = os.environ.get("PADCOLS_WINE32_ROUTE") == "qemu"
    why = "the route through qemu-i386 was forced" if forced else NO_32_BIT
    try:
        native = not forced and starts(probe_program(native_only=True), folder)
    except RuntimeError as e:
        return {"route": "none", "reason": f"no probe for 32-bit code could run: {e}"}
    if native:
        return {"route": "native"}
    try:
        record = register_qemu(folder, owner)
    except RuntimeError as e:
        return {"route": "none", "reason": f"{why}, and {e}"}
    record["reason"] = why
    return record


def setup():
    wine, route_file = from_build()
    folder = os.path.dirname(os.path.abspath(route_file))
    owner = os.getppid()  # the ctest run
    # 64-bit Wine runs wherever x86-64 code runs.
    record = {"route": "native"} if os.path.basename(wine) == "wine64" else choose_route(folder, owner)
    with open(route_file, "w") as f:
        json.dump(record, f)
    print("Wine's route:", record["route"], "-", record.get("reason", "runs natively"))
    if record.get("entry"):
        watch(record, owner, wine)
    # Under qemu every Wine process takes about a minute to start: the server
    # and Wine's background programs stay up for the whole run instead of
    # being started again for each group of tests.
    if record["route"] != "none":
        start_wine(wine, persistent=record["route"] == "qemu")


def cleanup():
    wine, route_file = from_build()
    record = read_route(route_file)
    if record["route"] == "qemu":
        subprocess.run([wineserver_for(wine), "-k"], check=False)
    take_down(record)
    print("Wine's route taken down:", record["route"])


def read_route(route_file):
    """The route the setup chose: a dict with "route" and maybe "reason"."""
    try:
        with open(route_file) as f:
            record = json.load(f)
    except (OSError, ValueError):
        record = None
    if not isinstance(record, dict) or record.get("route") not in ("native", "qemu", "none"):
        return {"route": "none", "reason": "the Wine setup step has not run"}
    record.setdefault("reason", "no reason recorded")
    return record


def run(program):
    """Runs the unit tests under Wine by the route the setup chose."""
    wine, route_file = from_build()
    record = read_route(route_file)
    if record["route"] == "none":
        print("skipped:", record["reason"])
        return 77
    extra = [f"--gtest_filter={QEMU_GTEST_FILTER}"] if record["route"] == "qemu" else []
    return subprocess.run([wine, *program, *extra], check=False).returncode


if __name__ == "__main__":
    verb, args = sys.argv[1], sys.argv[2:]
    if verb == "setup":
        setup()
    elif verb == "cleanup":
        cleanup()
    elif verb == "run":
        sys.exit(run(args))
    else:
        sys.exit(f"unknown verb {verb}")
