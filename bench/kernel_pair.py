#!/usr/bin/env python3
"""Two kernel_bench builds side by side: input GB/s of each path, the second
build's over the first's, and the same for the fastest path of each.

Each build is a kernel_bench binary: a native one, or a kernel_bench.exe,
which runs under Wine as ctest runs the Windows unit tests (tests/wine.py,
with the Wine program and the prefix of the build folder it sits in; that
folder's tests must have set Wine up once, as `ctest` or `python3 -m
tests.wine setup` does). Both are pinned to one core and run in turn, round
after round, and each cell keeps its best. Paths that only one build runs
are shown for it alone.

Run from the source root:
    python3 -m bench.kernel_pair [--rounds N] [--cpu N] FIRST SECOND
for instance build/kernel_bench build-windows-i686/kernel_bench.exe, or an
older commit's build/kernel_bench against this one's.
"""

import argparse
import os
import subprocess
import sys


def command(binary, cpu):
    """How to run binary here, pinned to cpu, and the environment for it."""
    pin = ["taskset", "-c", str(cpu)]
    if not binary.endswith(".exe"):
        return [*pin, binary], None
    build_dir = os.path.dirname(os.path.abspath(binary))
    wine = None
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("WINE_PROGRAM:"):
                wine = line.split("=", 1)[1].strip()
    if not wine:
        sys.exit(f"{build_dir} was configured without Wine")
    env = {**os.environ, "PADCOLS_WINE": wine,
           "PADCOLS_WINE_ROUTE": os.path.join(build_dir, "wine-route.json")}
    return [*pin, sys.executable, "-m", "tests.wine", "run", binary], env


def table(text):
    """The title line, the column names and {(row, column): GB/s} of one run."""
    lines = text.splitlines()
    rows = [line for line in lines if line.startswith("|")]
    columns = [cell.strip() for cell in rows[0].strip("|").split("|")][1:]
    cells = {}
    for line in rows[2:]:
        row, *values = [cell.strip() for cell in line.strip("|").split("|")]
        cells.update({(row, column): float(v) for column, v in zip(columns, values)})
    return lines[0], columns, cells


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5, help="runs of each build (best kept)")
    parser.add_argument("--cpu", type=int, default=1, help="the core both run on")
    parser.add_argument("first")
    parser.add_argument("second")
    args = parser.parse_args()

    builds = [args.first, args.second]
    best = [{}, {}]
    columns = [[], []]
    for _ in range(args.rounds):
        for i, binary in enumerate(builds):
            argv, env = command(binary, args.cpu)
            out = subprocess.run(argv, env=env, capture_output=True, text=True, check=True).stdout
            title, columns[i], cells = table(out)
            for key, value in cells.items():
                best[i][key] = max(best[i].get(key, 0.0), value)

    print(title)
    print(f"first: {builds[0]}; second: {builds[1]}; best of {args.rounds} rounds each, on core {args.cpu}")
    print()
    paths = [c for c in columns[0] if c != "memcpy"]
    paths += [c for c in columns[1] if c not in paths and c != "memcpy"]
    heads = []
    for path in paths:
        both = path in columns[0] and path in columns[1]
        heads += [f"{path} first", f"{path} second"] + (["ratio"] if both else [])
    heads.append("best path second / best path first")
    print("| corpus | " + " | ".join(heads) + " |")
    print("|---|" + "---:|" * len(heads))
    rows = list(dict.fromkeys(row for row, _ in best[0]))
    for row in rows:
        cells = []
        for path in paths:
            first, second = best[0].get((row, path)), best[1].get((row, path))
            cells += [f"{first:.2f}" if first else "-", f"{second:.2f}" if second else "-"]
            if first and second:
                cells.append(f"{second / first:.2f}x")
        fastest = [max(b.get((row, path), 0.0) for path in paths) for b in best]
        cells.append(f"{fastest[1] / fastest[0]:.2f}x")
        print(f"| {row} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
