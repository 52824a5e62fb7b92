#!/usr/bin/env python3
"""A randomised trial of the nightly job killed outright: night after night one simulated 870
terminal gets new punches, a job reads it and is killed (SIGKILL) at a random moment, alone or
together with its run; now and then the day is run again, otherwise the next night's job finds
what was left. A last night without a kill collects the rest. Then every record the terminal
stored is looked for in the new/ files of all day folders:

    lost     records stored that no new/ file holds
    doubled  records that new/ files hold more often than they were stored

Usage (from the repository root, after building the linux preset):
    python3 bench/kill_trial.py build/linux --trials 60 [--runs-too] [--slow-clear] [--never-cleared]
                                 [--kill-within SECONDS] [--seed N]
"""

import argparse
import collections
import datetime
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from simulator import Simulator  # noqa: E402


def punch_lines(serial, count, day):
    """`count` new 870 records of `day` and the data-file lines the program writes for them."""
    records, lines = [], []
    for i in range(count):
        card = "%08X" % (serial + i)
        moment = day + datetime.timedelta(minutes=i % 600, seconds=(serial + i) % 60)
        stamp = moment.strftime("%Y%m%d%H%M%S")
        event = (serial + i) % 4
        records.append("%s %d%s00" % (card, event, stamp))
        lines.append(("%s\t%d\t%s\t%s\t00\r\n" % (card, event + 1, moment.strftime("%d.%m.%Y"),
                                                   moment.strftime("%H:%M:%S"))).encode("ascii"))
    return records, lines


def new_lines(out):
    found = collections.Counter()
    for path in glob.glob(os.path.join(out, "*", "new", "*.txt")):
        with open(path, "rb") as f:
            found.update(f.read().splitlines(keepends=True))
    return found


def kill_runs(out, day):
    for record in glob.glob(os.path.join(out, day, ".work", "*", "zq-nightly.run")):
        try:
            import json
            with open(record, encoding="utf-8") as f:
                os.killpg(int(json.load(f)["process"]), signal.SIGKILL)
        except (OSError, ValueError, KeyError):
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="the linux build folder (zq-nightly, Zq-ReadUtility, the simulator)")
    parser.add_argument("--trials", type=int, default=60)
    parser.add_argument("--runs-too", action="store_true", help="kill the job's runs with it")
    parser.add_argument("--slow-clear", action="store_true", help="the terminal answers CLEARLOG 0.7 s late")
    parser.add_argument("--never-cleared", action="store_true", help="the terminal is read with -u, not -c")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--kill-within", type=float, default=1.0, metavar="SECONDS",
                        help="the kill falls at a random moment this long after the start (a small memory"
                             " read from a fast terminal is done in about 0.3 s)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    nightly = os.path.join(build, "zq-nightly")
    os.environ["ZQ_SIMULATOR"] = os.path.join(build, "tools", "simulator", "Zq-TerminalSimulator")
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="zq-kill-trial-")
    out = os.path.join(work, "out")
    terminals = os.path.join(work, "terminals.txt")
    switches = "-u" if args.never_cleared else "-u -c"
    faults = ["--late", "CLEARLOG=700"] if args.slow_clear else []
    stored, delivered = [], collections.Counter()
    serial = 0x10000000
    first = datetime.date(2026, 1, 1)
    killed = reruns = 0
    started = time.monotonic()
    try:
        for night in range(args.trials + 1):
            day = (first + datetime.timedelta(days=night)).isoformat()
            fresh, fresh_lines = punch_lines(serial, rng.randint(5, 60),
                                             datetime.datetime.combine(first + datetime.timedelta(days=night),
                                                                       datetime.time(7, 0)))
            serial += len(fresh)
            stored += fresh
            delivered.update(fresh_lines)
            last = night == args.trials
            # Pieces of 256 bytes 30 ms apart: a download takes about 0.1 s per 30 records, so that
            # kills fall before, during and after it, also when a memory grows night after night.
            drip = [] if last else ["--split", "256", "--pause", "30"]
            with Simulator("870", *(faults + drip), records="".join(r + "\n" for r in stored)) as sim:
                with open(terminals, "w") as f:
                    f.write("hall 870 %s %s\n" % (sim.address(), switches))
                command = [nightly, "-f", terminals, "-o", out, "-d", day, "-w", "0"]
                job = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
                if not last:
                    time.sleep(rng.uniform(0, args.kill_within))
                    if job.poll() is None:
                        if args.runs_too:
                            kill_runs(out, day)
                        job.kill()
                        killed += 1
                job.wait()
                # A run that outlived its job has had its stop request: it ends within its
                # exchange's wait.
                time.sleep(1.2)
                if not last and rng.random() < 0.5:
                    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
                    reruns += 1
                cleared = sim.wait_for_line(lambda line: line.startswith("records cleared"), timeout=0)
            if cleared:
                stored = []
        got = new_lines(out)
        lost = sum((delivered - got).values())
        doubled = sum((got - delivered).values())
        print("kill trial: %d nights, %d jobs killed (%s), %d days run again, %s terminal%s: %d records stored, "
              "%d lost, %d doubled (%.0f s)"
              % (args.trials, killed, "with their runs" if args.runs_too else "the job alone", reruns,
                 "a never-cleared" if args.never_cleared else "a cleared",
                 ", slow clear" if args.slow_clear else "", sum(delivered.values()), lost, doubled,
                 time.monotonic() - started))
        return 0 if lost == 0 and doubled == 0 else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
