"""Gets Wine ready to run the Windows build's tests quickly.

Run as a script with the path of wine: python3 wine_setup.py /usr/bin/wine
"""

import os
import subprocess
import sys


def start_wine(wine):
    """Starts a Wine server that outlives each run, and Wine's own background
    programs with it, all with their standard streams on /dev/null. Started
    by a test's run instead, they would inherit its pipes and hold them open
    for seconds after it ended. The first run in a new prefix also reports
    the prefix's creation on standard error; this run takes that."""
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL, "timeout": 300}
    wineserver = os.path.join(os.path.dirname(wine), "wineserver")
    prefix = os.environ.get("WINEPREFIX")
    if prefix and not os.path.isdir(prefix):
        subprocess.run([wine, "cmd", "/c", "exit"], check=True, **quiet)
        subprocess.run([wineserver, "-w"], check=False, **quiet)
    # Fails harmlessly when a server is already running.
    subprocess.run([wineserver, "-p10"], check=False, **quiet)
    subprocess.run([wine, "cmd", "/c", "exit"], check=True, **quiet)


if __name__ == "__main__":
    start_wine(sys.argv[1])
