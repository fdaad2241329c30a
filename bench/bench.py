#!/usr/bin/env python3
"""Throughput, start-up and memory of padcols beside the system's expand.

Builds the release binary, makes four deterministic corpora and times whole
processes, interleaved, keeping the best of several runs of each:

    padcols          padcols <corpus >/dev/null
    expand -t 8      the system's expand, same redirections
    dd bs=16384      a plain copy with the same read and write sizes: the floor

Run from anywhere:  python3 bench/bench.py [--runs N] [--mib N]
"""

import argparse
import os
import platform
import random
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
CORPORA = os.path.join(BUILD, "corpora")

WORDS = [b"int", b"return", b"if", b"else", b"for", b"while", b"struct", b"const",
         b"char", b"size_t", b"buf", b"len", b"count", b"next", b"node", b"value",
         b"(", b")", b"{", b"}", b"=", b"==", b"+", b"->", b";", b",", b"0", b"1", b"NULL"]


def source_lines(rng, size):
    """C-like text shaped like tab-indented kernel code: blocks nest up to five
    deep, each line is indented with one tab per level, a few lines are blank
    or end in a tab and a comment."""
    out = bytearray()
    depth = 0
    while len(out) < size:
        r = rng.random()
        if r < 0.10:
            out += b"\n"
        elif r < 0.20 and depth > 0:
            depth -= 1
            out += b"\t" * depth + b"}\n"
        else:
            line = b"\t" * depth + b" ".join(rng.choice(WORDS) for _ in range(rng.randrange(3, 11)))
            if r > 0.95:
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
    makers = {
        "source-lf": lambda: source,
        "source-crlf": lambda: source.replace(b"\n", b"\r\n"),
        "random": lambda: random.Random(7).randbytes(size),
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


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release",
                    "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, "padcols")


def run_once(argv, path):
    """Wall time and peak resident set (KiB) of one whole process."""
    with open(path, "rb") as src, open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, src.fileno(), 0),
                                           (os.POSIX_SPAWN_DUP2, sink.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv} failed on {path}")
    return elapsed, usage.ru_maxrss


def peak_memory_with_time(argv, path):
    """Peak memory as /usr/bin/time -f %M reports it, in KiB."""
    with open(path, "rb") as src:
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdin=src,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(proc.stderr.split()[-1])


def best_times(commands, path, runs):
    """Best wall time of each command, running them in turn, round after round."""
    best = {name: float("inf") for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            best[name] = min(best[name], run_once(argv, path)[0])
    return best


def check_same_output(padcols, expand, path):
    with open(path, "rb") as f:
        ours = subprocess.run([padcols], stdin=f, capture_output=True, check=True).stdout
    with open(path, "rb") as f:
        theirs = subprocess.run([expand, "-t", "8"], stdin=f, capture_output=True, check=True,
                                env={**os.environ, "LC_ALL": "C"}).stdout
    return ours == theirs


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="rounds per corpus (best is kept)")
    parser.add_argument("--mib", type=int, default=64, help="size of each corpus in MiB")
    args = parser.parse_args()

    padcols = build()
    expand = shutil.which("expand")
    dd = shutil.which("dd")
    paths = make_corpora(args.mib)
    os.environ["LC_ALL"] = "C"
    commands = {
        "padcols": [padcols],
        "expand": [expand, "-t", "8"],
        "dd": [dd, "bs=16384", "status=none"],
    }

    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.machine())
    print(f"machine: {cpu}, {os.cpu_count()} cores; {platform.system()} {platform.release()}")
    print(f"corpora of {args.mib} MiB, best of {args.runs} interleaved runs, output to /dev/null")
    print()
    print("| corpus | padcols MiB/s | expand MiB/s | dd MiB/s | padcols/expand | padcols/dd |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, path in paths.items():
        mib = os.path.getsize(path) / (1 << 20)
        best = best_times(commands, path, args.runs)
        rate = {k: mib / v for k, v in best.items()}
        same = "" if name == "random" or check_same_output(padcols, expand, path) else " (outputs differ!)"
        print(f"| {name}{same} | {rate['padcols']:.0f} | {rate['expand']:.0f} | {rate['dd']:.0f} "
              f"| {rate['padcols'] / rate['expand']:.2f}x | {rate['padcols'] / rate['dd']:.2f}x |")

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

    source = paths["source-lf"]
    if os.path.exists("/usr/bin/time"):
        how = "/usr/bin/time -f %M"
        mem = {k: peak_memory_with_time(v, source) for k, v in startup.items()}
    else:
        how = "wait4 ru_maxrss (no /usr/bin/time here)"
        mem = {k: run_once(v, source)[1] for k, v in startup.items()}
    print(f"peak memory on source-lf ({how}): padcols {mem['padcols']} KiB, "
          f"expand {mem['expand']} KiB, ratio {mem['padcols'] / mem['expand']:.2f}x")


if __name__ == "__main__":
    main()
