#!/usr/bin/env python3
"""A night of twelve simulated terminals read by zq-nightly with -j 4: natively, and zq-nightly.exe
with Zq-ReadUtility.exe under Wine when a mingw build is given. Prints one `name: value` line per
figure (wall time of the whole night, its summary line).

    bench/nightly.py <linux build dir> [<mingw build dir>]     (e.g. build/linux build/mingw)

Every terminal gets -u -c and ZQ_BENCH_RECORDS generated records (default 1000): five 870, two QVK,
four 735 on 127.0.0.1, and one 2210 on a pseudo-terminal.
"""

import os
import shlex
import subprocess
import sys
import tempfile
import time

LINUX = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/linux")
MINGW = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
SIMULATOR = os.path.join(LINUX, "tools", "simulator", "Zq-TerminalSimulator")
RECORDS = int(os.environ.get("ZQ_BENCH_RECORDS", "1000"))
MODELS = ["870"] * 5 + ["QVK"] * 2 + ["735"] * 4 + ["2210"]
COM = 9
PREFIX = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(LINUX), "wineprefix")


def night(work, windows):
    """Starts the twelve terminals, runs the job once, returns (seconds, exit code, summary line)."""
    link = os.path.join(PREFIX, "dosdevices", "com%d" % COM) if windows else os.path.join(work, "COM%d" % COM)
    simulators, lines = [], []
    try:
        for number, model in enumerate(MODELS):
            argv = [SIMULATOR, "870" if model == "QVK" else model, "--generate", str(RECORDS)]
            argv += ["--link", link] if model == "2210" else ["--port", "0"]
            sim = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            simulators.append(sim)
            key, _, value = sim.stdout.readline().decode().strip().partition("=")
            address = str(COM) if key == "pty" else "127.0.0.1:" + value
            lines.append("t%02d %s %s -u -c\n" % (number + 1, model, address))
        terminals = os.path.join(work, "terminals.txt")
        with open(terminals, "w") as f:
            f.writelines(lines)
        out = os.path.join(work, "out")
        if windows:
            host = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
            inner = "wine %s -f %s -o %s -j 4 >%s 2>&1" % (
                shlex.quote(os.path.join(MINGW, "zq-nightly.exe")), shlex.quote(host(terminals)),
                shlex.quote(host(out)), shlex.quote(os.path.join(work, "stdout")))
            command = ["script", "-qec", inner, "/dev/null"]
            env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        else:
            command = [os.path.join(LINUX, "zq-nightly"), "-f", terminals, "-o", out, "-j", "4"]
            env = dict(os.environ, ZQ_COMPORT_DIR=work)
        start = time.perf_counter()
        if windows:
            rc = subprocess.run(command, env=env, cwd=work, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL).returncode
            with open(os.path.join(work, "stdout"), encoding="utf-8", errors="replace") as f:
                printed = f.read().replace("\r\n", "\n")
        else:
            done = subprocess.run(command, env=env, cwd=work, stdin=subprocess.DEVNULL, capture_output=True)
            rc, printed = done.returncode, done.stdout.decode()
        elapsed = time.perf_counter() - start
        return elapsed, rc, printed.strip().splitlines()[-1]
    finally:
        for sim in simulators:
            sim.terminate()
            sim.wait()
        if windows and os.path.lexists(link):
            os.remove(link)


def main():
    targets = [("native", False)] + ([("wine", True)] if MINGW else [])
    for name, windows in targets:
        with tempfile.TemporaryDirectory(prefix="zq-bench-nightly-") as work:
            elapsed, rc, summary = night(work, windows)
        print("nightly %s, 12 terminals x %d records, -j 4: %.2f s (exit %d)" % (name, RECORDS, elapsed, rc))
        print("nightly %s summary: %s" % (name, summary))


if __name__ == "__main__":
    main()
