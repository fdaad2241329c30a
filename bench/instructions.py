#!/usr/bin/python3
"""Instructions per input byte of each expander path valgrind runs.

Counts, with callgrind, the instructions executed inside expand_block_PATH
while kernel_bench expands a fixed corpus, for the portable, SSE2 and AVX2
paths, and compares each count with the figure recorded in instructions.txt
beside this script. Fails when one is more than 2% over its figure.

  instructions.py KERNEL_BENCH           check against the recorded figures
  instructions.py KERNEL_BENCH --record  rewrite the recorded figures

KERNEL_BENCH is the kernel_bench binary of a native x86-64 build
(cmake --build BUILD --target kernel_bench).
"""
import hashlib
import os
import subprocess
import sys
import tempfile

PATHS = ["portable", "sse2", "avx2"]
FIGURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "instructions.txt")
TOLERANCE = 1.02


def source(size):
    """C-like source indented with tabs, from a fixed linear congruential generator."""
    state = 1
    def draw(n):
        nonlocal state
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        return (state >> 33) % n
    words = b"abcdefghijklmnopqrstuvwxyz_(){};=+*,0123456789 "
    lines = []
    total = 0
    while total < size:
        line = b"\t" * draw(5) + bytes(words[draw(len(words))] for _ in range(8 + draw(50)))
        if draw(4) == 0:
            line += b"\t// note"
        lines.append(line + b"\n")
        total += len(lines[-1])
    return b"".join(lines)[:size]


def random_bytes(size):
    """Bytes from SHA-256 in counter mode."""
    return b"".join(hashlib.sha256(i.to_bytes(8, "little")).digest()
                    for i in range(size // 32))


CORPORA = [("source", 8, source(2 << 20)), ("random", 8, random_bytes(1 << 20)),
           ("tabs", 8, b"\t" * (256 << 10))]


def count(bench, path, stop, data, tmp):
    """Instructions executed inside expand_block_PATH, per input byte."""
    out = os.path.join(tmp, "callgrind.out")
    with open(os.path.join(tmp, "input"), "w+b") as f:
        f.write(data)
        f.seek(0)
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                        "--toggle-collect=expand_block_" + path + "*", bench, path, str(stop)],
                       stdin=f, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out) as f:
        totals = [line for line in f if line.startswith("totals:")]
    return int(totals[0].split()[1]) / len(data)


def main():
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["--record"]):
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        measured = {(path, name): count(sys.argv[1], path, stop, data, tmp)
                    for path in PATHS for name, stop, data in CORPORA}
    if sys.argv[2:] == ["--record"]:
        with open(FIGURES, "w") as f:
            f.write("# Instructions per input byte: path, corpus, figure "
                    "(bench/instructions.py --record)\n")
            for (path, name), figure in measured.items():
                f.write(f"{path} {name} {figure:.4f}\n")
        return
    recorded = {}
    with open(FIGURES) as f:
        for line in f:
            if not line.startswith("#"):
                path, name, figure = line.split()
                recorded[path, name] = float(figure)
    failed = False
    for key, figure in measured.items():
        limit = recorded[key] * TOLERANCE
        verdict = "ok" if figure <= limit else "OVER"
        failed |= figure > limit
        print(f"{key[0]:9} {key[1]:7} {figure:8.4f}  recorded {recorded[key]:8.4f}  {verdict}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
