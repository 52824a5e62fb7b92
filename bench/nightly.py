#!/usr/bin/env python3
"""A night of twelve simulated terminals read by zq-nightly with -j 4: natively, and zq-nightly.exe
with Zq-ReadUtility.exe under Wine when a mingw build is given; then the morning view of a large
site, 200 terminals over 365 days of reports, by --status and at the end of a job. Prints one
`name: value` line per figure.

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
        summary = [line for line in printed.splitlines() if "; exit " in line]
        return elapsed, rc, summary[-1] if summary else printed.strip()
    finally:
        for sim in simulators:
            sim.terminate()
            sim.wait()
        if windows and os.path.lexists(link):
            os.remove(link)


def status_site(work, terminals_count=200, days_count=365):
    """365 day folders of 200 terminals' reports, as the job writes them (a failing terminal, a
    never-cleared one, a gap now and then); times --status over them, and a job's end."""
    import datetime
    import json
    out = os.path.join(work, "out")
    names = ["t%03d" % i for i in range(terminals_count)]
    terminals = os.path.join(work, "terminals.txt")
    with open(terminals, "w") as f:
        f.writelines("%s 870 127.1.%d.%d -u -c\n" % (n, i // 250, i % 250 + 1) for i, n in enumerate(names))
    last = datetime.date(2026, 12, 9)
    for back in range(days_count):
        day = (last - datetime.timedelta(days=back)).isoformat()
        if back % 40 == 17:
            continue  # a night without a job
        folder = os.path.join(out, day)
        os.makedirs(folder)
        entries = []
        for i, name in enumerate(names):
            failed = i == 7 and back < 3
            entries.append({
                "name": name, "model": "870", "address": "127.1.%d.%d" % (i // 250, i % 250 + 1),
                "switches": ["-u", "-c"], "outcome": "failed" if failed else "complete",
                "exitCode": 2 if failed else 0, "attempts": 1, "records": None if failed else 40 + i % 13,
                "newRecords": None if failed else 40 + i % 13, "suspectRecords": None if failed else 0,
                "dataFile": None if failed else name + ".txt", "newFile": None if failed else "new/" + name + ".txt",
                "logFile": "logs/" + name + ".log", "started": day + "T04:30:00+01:00",
                "finished": day + "T04:31:00+01:00", "seconds": 60.0,
                "reason": "Socket::connect(): Connection timeout to 127.1.0.8:1001, err => 115 / "
                          "Can't connect to the terminal 870." if failed else "",
                "cause": "timeout" if failed else None, "cleared": None if failed else i != 3,
                "clockSet": None if failed else True, "firstNight": False, "stateDamaged": False,
                "recovered": False})
        report = {"day": day, "started": day + "T04:30:00+01:00", "finished": day + "T04:40:00+01:00",
                  "exitCode": 2 if back < 3 else 0, "dayExitCode": 2 if back < 3 else 0, "stoppedBy": None,
                  "version": "1.1.0", "program": "/usr/bin/Zq-ReadUtility", "programVersion": "1.1.0",
                  "terminalsFile": terminals, "interrupted": False, "recoveredDays": [], "jobs": [],
                  "terminals": entries}
        with open(os.path.join(folder, "report.json"), "w") as f:
            json.dump(report, f, indent=2)
        for name in names if back == 0 else []:
            open(os.path.join(folder, name + ".txt"), "w").close()
    job = os.path.join(LINUX, "zq-nightly")
    timings = {"--status": [], "a job's end": []}
    for _ in range(3):
        start = time.perf_counter()
        subprocess.run([job, "--status", "-o", out, "--history", str(days_count)], stdout=subprocess.DEVNULL)
        timings["--status"].append(time.perf_counter() - start)
        # Every terminal complete for the day: the job reads none, and writes the report and the status.
        start = time.perf_counter()
        subprocess.run([job, "-f", terminals, "-o", out, "-d", last.isoformat(), "--history", str(days_count)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        timings["a job's end"].append(time.perf_counter() - start)
    size = os.path.getsize(os.path.join(out, "status.html"))
    return {key: sorted(values)[1] for key, values in timings.items()}, size


def main():
    targets = [("native", False)] + ([("wine", True)] if MINGW else [])
    for name, windows in targets:
        with tempfile.TemporaryDirectory(prefix="zq-bench-nightly-") as work:
            elapsed, rc, summary = night(work, windows)
        print("nightly %s, 12 terminals x %d records, -j 4: %.2f s (exit %d)" % (name, RECORDS, elapsed, rc))
        print("nightly %s summary: %s" % (name, summary))
    with tempfile.TemporaryDirectory(prefix="zq-bench-status-") as work:
        timings, size = status_site(work)
    for what, seconds in timings.items():
        print("status of 200 terminals x 365 days, %s: %.2f s (median of 3)" % (what, seconds))
    print("status.html of 200 terminals: %d KiB" % (size // 1024))


if __name__ == "__main__":
    main()
