"""Instructions per input byte of each expander path that valgrind runs,
counted with callgrind inside expand_block_PATH while kernel_bench expands a
fixed corpus, checked against bench/instructions.txt: fails when one is more
than 2% over its figure. With --record it writes the figures instead.

  python3 -m bench.instructions BUILD/kernel_bench [--record]

Its corpora, CORPORA, are also bench/qemu_instructions.py's.
"""
import hashlib
import os
import subprocess
import sys
import tempfile

FIGURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "instructions.txt")


def source(size, state=1):
    """C-like lines indented with tabs, from a fixed linear congruential generator."""
    def draw(n):
        nonlocal state
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        return (state >> 33) % n
    words, out = b"abcdefghijklmnopqrstuvwxyz_(){};=+*,0123456789 ", bytearray()
    while len(out) < size:
        out += b"\t" * draw(5) + bytes(words[draw(len(words))] for _ in range(8 + draw(50)))
        out += b"\t// note\n" if draw(4) == 0 else b"\n"
    return bytes(out[:size])


CORPORA = {"source": source(2 << 20), "tabs": b"\t" * (256 << 10),
           "random": b"".join(hashlib.sha256(i.to_bytes(8, "little")).digest() for i in range(1 << 15))}


def count(bench, path, data, tmp):
    out = os.path.join(tmp, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    f"--toggle-collect=expand_block_{path}*", bench, path, "8"],
                   input=data, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out) as f:
        return int(next(line for line in f if line.startswith("totals:")).split()[1]) / len(data)


def record_or_check(measured, figures, command):
    """With --record, writes measured ({(name, corpus): figure}) to the file
    figures; else prints each against its recorded figure and returns 1 when
    one is more than 2% over it, 0 otherwise."""
    if sys.argv[-1] == "--record":
        with open(figures, "w") as f:
            f.write(f"# Instructions per input byte: name, corpus, figure ({command} --record)\n")
            f.writelines(f"{name} {corpus} {figure:.4f}\n" for (name, corpus), figure in measured.items())
        return 0
    with open(figures) as f:
        recorded = {tuple(line.split()[:2]): float(line.split()[2]) for line in f if not line.startswith("#")}
    over = [key for key, figure in measured.items() if figure > recorded[key] * 1.02]
    for key, figure in measured.items():
        print(f"{key[0]:9} {key[1]:7} {figure:8.4f}  recorded {recorded[key]:8.4f}  {'OVER' if key in over else 'ok'}")
    return 1 if over else 0


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as tmp:
        measured = {(path, name): count(sys.argv[1], path, data, tmp)
                    for path in ("portable", "sse2", "avx2") for name, data in CORPORA.items()}
    sys.exit(record_or_check(measured, FIGURES, "python3 -m bench.instructions BUILD/kernel_bench"))
