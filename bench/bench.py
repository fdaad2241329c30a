#!/usr/bin/env python3
"""Throughput and start-up of padcols beside the system's expand.

Builds the release binaries, makes five deterministic corpora and times whole
processes, interleaved, keeping the best of several runs of each:

    padcols          padcols <corpus >/dev/null
    expand -t 8      the system's expand, same redirections
    floor            the floor: padcols' own reads and writes on the corpus,
                     recorded with strace and made again with no expanding
                     (bench/replay_io.c)
    dd bs=16384      a plain copy in 16384-byte blocks: one write per read,
                     where padcols makes one per 16384 bytes of output and
                     one for the rest of each block's, so fewer writes
    win64.exe        the 64-bit Windows build under 64-bit Wine, when mingw-w64
                     and Wine are installed (--no-wine leaves both out)
    win32.exe        the 32-bit one, where this kernel also runs 32-bit code
    floor64.exe      their floor: the same schedule of reads and writes made
    floor32.exe      through the C runtime calls padcols.exe makes

The shares of the floor are the floor's time over the build's: 1 would mean
expanding costs nothing.

Wine runs keep one Wine server going for the whole benchmark; the corpora are
large enough that starting a Windows process under it does not count. The
path each build's expander takes on this CPU is read from its unit test.

Run from the source root:  python3 -m bench.bench [--runs N] [--mib N] [--no-wine]
"""

import argparse
import array
import hashlib
import os
import platform
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
CORPORA = os.path.join(BUILD, "corpora")

from tests.wine import NO_32_BIT, probe_program, settings, start_wine, starts

WORDS = [b"int", b"return", b"if", b"else", b"for", b"while", b"struct", b"const",
         b"char", b"size_t", b"buf", b"len", b"count", b"next", b"node", b"value",
         b"(", b")", b"{", b"}", b"=", b"==", b"+", b"->", b";", b",", b"0", b"1", b"NULL"]


def source_lines(rng, size, indent=b"\t", commented=0.05):
    """C-like text shaped like kernel code: blocks nest up to five deep, each
    line is indented with indent once per level, a few lines are blank, and
    a share commented of them end in a tab and a comment. By default, tab-
    indented source with few such comments."""
    out = bytearray()
    depth = 0
    while len(out) < size:
        r = rng.random()
        if r < 0.10:
            out += b"\n"
        elif r < 0.20 and depth > 0:
            depth -= 1
            out += indent * depth + b"}\n"
        else:
            line = indent * depth + b" ".join(rng.choice(WORDS) for _ in range(rng.randrange(3, 11)))
            if r > 1 - commented:
                line += b"\t/* " + rng.choice(WORDS) + b" */"
            if r > 0.93 and depth < 5:
                line += b" {"
                depth += 1
            out += line + b";\n"
    return bytes(out)


def make_corpora(mib):
    """Writes the corpora once; they are the same bytes on every run."""
    os.makedirs(CORPORA, exist_ok=True)
    size = mib << 20
    rng = random.Random(2026)
    # A 4 MiB stretch of source repeated: too long for any predictor to learn.
    source = source_lines(rng, 4 << 20)
    # Space-indented, with a tab only before the comment that ends 30% of
    # the lines: text with few tabs.
    sparse = source_lines(random.Random(2027), 4 << 20, indent=b"    ", commented=0.30)
    makers = {
        "source-lf": lambda: source,
        "source-crlf": lambda: source.replace(b"\n", b"\r\n"),
        "sparse": lambda: sparse,
        # 64 MiB of random bytes, repeated: far more than any predictor keeps.
        "random": lambda: random.Random(7).randbytes(min(size, 64 << 20)),
        "all-tabs": lambda: b"\t" * size,
    }
    paths = {}
    for name, make in makers.items():
        path = os.path.join(CORPORA, f"{name}-{mib}MiB")
        if not os.path.exists(path) or os.path.getsize(path) < size:
            piece = make()
            with open(path + ".tmp", "wb") as f:
                written = 0
                while written < size:
                    f.write(piece)
                    written += len(piece)
            os.replace(path + ".tmp", path)
        paths[name] = path
    return paths


def schedule(padcols, corpus):
    """Records the reads of standard input and writes to standard output that
    padcols makes on the corpus, with strace, as the schedule replay_io makes
    again; returns the schedule's path."""
    log = corpus + ".strace"
    with open(corpus, "rb") as src:
        subprocess.run(["strace", "-o", log, "-e", "trace=read,write", "-e", "signal=none",
                        "-s", "0", padcols], stdin=src, stdout=subprocess.DEVNULL, check=True)
    calls = array.array("I")
    for line in open(log):
        found = re.match(r"(read|write)\((\d+), .*, (\d+)\) += (-?\d+)", line)
        if found and (found[1], found[2]) in (("read", "0"), ("write", "1")):
            if int(found[4]) < 0:
                sys.exit(f"padcols failed a {found[1]} on {corpus}: {line.strip()}")
            # A read as asked for; a write as made, with the top bit set.
            calls.append(int(found[3]) if found[1] == "read" else int(found[4]) | 1 << 31)
    os.remove(log)
    if sys.byteorder != "little":
        calls.byteswap()
    path = corpus + ".schedule"
    with open(path, "wb") as f:
        calls.tofile(f)
    return path


def build(source, build_dir, *options):
    """Configures and builds a release tree; returns the build folder."""
    subprocess.run(["cmake", "-S", source, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    *options], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return build_dir


def chosen_path(test_command):
    """The path the expander takes on this CPU, as its unit test reports it."""
    out = subprocess.run([*test_command, "--gtest_filter=ExpandPath.*"], capture_output=True,
                         text=True, check=False).stdout
    found = re.search(r"expand_block runs the (\w+) path", out)
    return found.group(1) if found else "unknown"


def cached(build_dir, name):
    """A value from a build folder's CMake cache: the toolchain file names
    the mingw-w64 compiler and Wine's loader, and the benchmark takes them
    from there."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        return next((line.split("=", 1)[1].strip() for line in f if line.startswith(name + ":")), "")


def build_windows(bits):
    """padcols.exe for 32- or 64-bit Windows, its unit test and its floor, with
    the command that runs them under Wine; or the reason they are not timed."""
    cpu = "x86_64" if bits == 64 else "i686"
    if bits == 32 and not starts(probe_program(native_only=True), BUILD):
        return None, NO_32_BIT
    toolchain = f"cmake/mingw-{cpu}.cmake"
    try:
        build_dir = build(ROOT, os.path.join(BUILD, f"windows-{cpu}"), f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/{toolchain}")
    except subprocess.CalledProcessError:
        return None, f"the build with {toolchain} failed (needs mingw-w64)"
    wine = cached(build_dir, "WINE_PROGRAM")
    if not os.access(wine, os.X_OK):
        return None, f"needs {bits}-bit Wine"
    floor = os.path.join(build_dir, "replay_io.exe")
    subprocess.run([cached(build_dir, "MINGW_CC_POSIX"), "-O2", "-static", "-s", "-o", floor,
                    os.path.join(ROOT, "bench", "replay_io.c")], check=True)
    # Each build has a prefix of its own: one made by 32-bit Wine serves no
    # 64-bit program.
    wine_env = settings(f"{BUILD}/wineprefix-{cpu}")
    start_wine(wine, {**os.environ, **wine_env})
    env = [shutil.which("env"), *(f"{k}={v}" for k, v in wine_env.items()), wine]
    return {"run": env, "exe": os.path.join(build_dir, "padcols.exe"), "floor": floor,
            "test": os.path.join(build_dir, "tests", "expand_block_test.exe")}, None


def run_once(argv, path):
    """Wall time of one whole process."""
    with open(path, "rb") as src, open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, src.fileno(), 0),
                                           (os.POSIX_SPAWN_DUP2, sink.fileno(), 1)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv} failed on {path}")
    return elapsed


def best_times(commands, path, runs):
    """Best wall time of each command, running them in turn, round after round."""
    best = {name: float("inf") for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            best[name] = min(best[name], run_once(argv, path))
    return best


def digest(argv, path, env=None):
    """SHA-256 of what a command writes for the corpus at path."""
    h = hashlib.sha256()
    with open(path, "rb") as f:
        proc = subprocess.Popen(argv, stdin=f, stdout=subprocess.PIPE, env=env)
        for piece in iter(lambda: proc.stdout.read(1 << 20), b""):
            h.update(piece)
        if proc.wait() != 0:
            sys.exit(f"{argv} failed on {path}")
    return h.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="rounds per corpus (best is kept)")
    parser.add_argument("--mib", type=int, default=256, help="size of each corpus in MiB")
    parser.add_argument("--no-wine", action="store_true", help="leave out the Windows builds")
    args = parser.parse_args()

    linux = build(ROOT, BUILD)
    padcols = os.path.join(linux, "padcols")
    floor = os.path.join(BUILD, "replay_io")
    subprocess.run([shutil.which("cc") or "gcc", "-O2", "-o", floor,
                    os.path.join(ROOT, "bench", "replay_io.c")], check=True)
    expand = shutil.which("expand")
    dd = shutil.which("dd")
    windows, skipped = {}, {}
    for bits in (64, 32):
        windows[bits], skipped[bits] = (None, "--no-wine") if args.no_wine else build_windows(bits)
    windows = {bits: win for bits, win in windows.items() if win}
    paths = make_corpora(args.mib)
    os.environ["LC_ALL"] = "C"
    # SCHEDULE stands for the corpus's schedule, as each floor program reads
    # it: under Wine, on drive Z:, which is the Unix root.
    commands = {"padcols": [padcols], "expand": [expand, "-t", "8"],
                "floor": [floor, "SCHEDULE"], "dd": [dd, "bs=16384", "status=none"]}
    for bits, win in windows.items():
        commands[f"win{bits}.exe"] = [*win["run"], win["exe"]]
        commands[f"floor{bits}.exe"] = [*win["run"], win["floor"], "Z:SCHEDULE"]

    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.machine())
    print(f"machine: {cpu}, {os.cpu_count()} cores; {platform.system()} {platform.release()}")
    print(f"padcols takes the {chosen_path([os.path.join(linux, 'tests', 'expand_block_test')])} path here", end="")
    for bits, win in windows.items():
        print(f"; win{bits}.exe under Wine the {chosen_path([*win['run'], win['test']])} path", end="")
    print()
    for bits, reason in skipped.items():
        if reason:
            print(f"win{bits}.exe not timed: {reason}")
    print(f"corpora of {args.mib} MiB, best of {args.runs} interleaved runs, output to /dev/null")
    with open(paths["sparse"], "rb") as f:
        piece = f.read(4 << 20)
    share = piece.count(b"\t") / len(piece)
    print(f"sparse: {100 * share:.2f}% of its bytes are tabs")
    print()
    ratios = [("padcols", "expand"), ("padcols", "floor")]
    for bits, win in windows.items():
        ratios += [(f"win{bits}.exe", "expand"), (f"win{bits}.exe", f"floor{bits}.exe"),
                   (f"win{bits}.exe", "padcols")]
    print("| corpus | " + " | ".join(f"{k} MiB/s" for k in commands) + " | "
          + " | ".join(f"{a}/{b}" for a, b in ratios) + " |")
    print("|---|" + "---:|" * (len(commands) + len(ratios)))
    for name, path in paths.items():
        mib = os.path.getsize(path) / (1 << 20)
        plan = schedule(padcols, path)
        timed = {k: [plan if arg == "SCHEDULE" else "Z:" + plan if arg == "Z:SCHEDULE" else arg
                     for arg in argv] for k, argv in commands.items()}
        best = best_times(timed, path, args.runs)
        rate = {k: mib / v for k, v in best.items()}
        # Every build must give the same bytes; expand too, except on random
        # bytes (where it treats backspaces and carriage returns otherwise).
        ours = digest(timed["padcols"], path)
        others = [k for k in timed if k != "padcols" and not k.startswith(("dd", "floor"))
                  and not (k == "expand" and name == "random")]
        differ = [k for k in others if digest(timed[k], path) != ours]
        note = f" (differs: {', '.join(differ)}!)" if differ else ""
        print(f"| {name}{note} | " + " | ".join(f"{rate[k]:.0f}" for k in timed) + " | "
              + " | ".join(f"{rate[a] / rate[b]:.2f}x" for a, b in ratios) + " |", flush=True)

    # Start-up: many runs on a tiny file, where nearly all of the time is
    # loading and starting the process.
    tiny = os.path.join(CORPORA, "tiny")
    with open(tiny, "wb") as f:
        f.write(b"int\tx;\n")
    startup = {k: commands[k] for k in ("padcols", "expand")}
    runs = 50 * args.runs
    best = best_times(startup, tiny, runs)
    print()
    print(f"start-up on a 7-byte file, best of {runs}: padcols {best['padcols'] * 1e3:.2f} ms, "
          f"expand {best['expand'] * 1e3:.2f} ms, ratio {best['padcols'] / best['expand']:.2f}x")

if __name__ == "__main__":
    main()
