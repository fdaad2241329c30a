"""Instructions per input byte of a whole padcols process built for another
CPU, counted under qemu-user on the corpora of bench/instructions.py at tab
stop 8, less those of a run on an empty file (start-up and exit; not
/dev/null, which gets the usage screen), checked against
bench/qemu_instructions.txt: fails when one is more than 2% over its figure.
With --record it writes the figures of that CPU instead, keeping the others.

  python3 -m bench.qemu_instructions CPU BUILD/padcols [--record]

CPU is aarch64 or s390x; Debian's cross toolchain gives the libraries under
/usr/CPU-linux-gnu. With -singlestep (-one-insn-per-tb from QEMU 8.1) each
instruction is a block of its own, and -d nochain,exec logs a line for
every block executed, to a pipe here: for 2 MiB of input the log runs to
gigabytes.
"""
import os
import subprocess
import sys
import tempfile

from bench.instructions import CORPORA, record_or_check

FIGURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "qemu_instructions.txt")


def executed(cpu, padcols, data):
    """The instructions a run of padcols 8 on data executes."""
    log_read, log_write = os.pipe()
    with tempfile.TemporaryFile() as f:
        f.write(data)
        f.seek(0)
        proc = subprocess.Popen([f"qemu-{cpu}", "-L", f"/usr/{cpu}-linux-gnu", "-singlestep",
                                 "-d", "nochain,exec", "-D", f"/dev/fd/{log_write}", padcols, "8"],
                                stdin=f, stdout=subprocess.DEVNULL, pass_fds=[log_write])
    os.close(log_write)
    lines = 0
    with os.fdopen(log_read, "rb") as log:
        while block := log.read(1 << 20):
            lines += block.count(b"\n")
    if proc.wait() != 0:
        sys.exit(f"padcols exited with status {proc.returncode} under qemu-{cpu}")
    return lines


if __name__ == "__main__":
    cpu, padcols = sys.argv[1:3]
    start_up = executed(cpu, padcols, b"")
    print(f"{cpu} start-up and exit: {start_up} instructions")
    measured = {(cpu, name): (executed(cpu, padcols, data) - start_up) / len(data)
                for name, data in CORPORA.items()}
    if sys.argv[-1] == "--record" and os.path.exists(FIGURES):
        # The other CPU's figures stay as they were recorded.
        with open(FIGURES) as f:
            kept = {tuple(line.split()[:2]): float(line.split()[2]) for line in f
                    if not line.startswith("#") and line.split()[0] != cpu}
        measured = {**kept, **measured}
    sys.exit(record_or_check(measured, FIGURES, "python3 -m bench.qemu_instructions CPU BUILD/padcols"))
