#!/usr/bin/env python3
"""Two builds of Zq-ReadUtility compared on one 870 download, run in turn against one simulator so
that both see the same machine load. Prints each run, then the medians of wall time and user CPU
and the ratio of the second build to the first. Both data files must come out byte-identical.

    bench/paired.py <first program> <second program> [--simulator PATH] [--records N] [--runs N]

The simulator defaults to the one built beside the second program (tools/simulator/).
"""

import argparse
import filecmp
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def start_simulator(simulator, records):
    proc = subprocess.Popen([simulator, "870", "--port", "0", "--generate", str(records)], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    key, _, value = proc.stdout.readline().decode().strip().partition("=")
    if key != "port":
        proc.terminate()
        sys.exit("the simulator did not name its port")
    return proc, int(value)


def run_once(program, port, out):
    """(wall seconds, user CPU seconds, system CPU seconds) of one download into `out`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run([program, "870", "127.0.0.1:%d" % port, out], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit("%s exited with %d: %s" % (program, proc.returncode, proc.stderr.decode(errors="replace")))
    return wall, after.ru_utime - before.ru_utime, after.ru_stime - before.ru_stime


def count_lines(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--simulator")
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    programs = [os.path.abspath(args.first), os.path.abspath(args.second)]
    simulator = args.simulator or os.path.join(os.path.dirname(programs[1]), "tools", "simulator",
                                               "Zq-TerminalSimulator")
    for path in programs + [simulator]:
        if not os.access(path, os.X_OK):
            sys.exit("missing %s" % path)

    sim, port = start_simulator(simulator, args.records)
    results = [[], []]
    try:
        with tempfile.TemporaryDirectory(prefix="zq-paired-") as workdir:
            outs = [os.path.join(workdir, "a.txt"), os.path.join(workdir, "b.txt")]
            for run in range(args.runs):
                # The build that goes first alternates, so that neither always follows the other.
                order = (0, 1) if run % 2 == 0 else (1, 0)
                for which in order:
                    wall, user, system = run_once(programs[which], port, outs[which])
                    results[which].append((wall, user, system))
                    print("run %d %s: wall %.3f s, user %.3f s, sys %.3f s" % (run + 1, "AB"[which], wall, user,
                                                                           system))
                lines = count_lines(outs[0])
                if lines != args.records:
                    sys.exit("A wrote %d of %d records" % (lines, args.records))
                if not filecmp.cmp(outs[0], outs[1], shallow=False):
                    sys.exit("the data files differ after run %d" % (run + 1))
    finally:
        sim.terminate()
        sim.wait()

    medians = [[statistics.median(r[i] for r in results[w]) for i in range(3)] for w in (0, 1)]
    for which in (0, 1):
        print("%s %s: median wall %.3f s, user %.3f s, sys %.3f s" % ("AB"[which], programs[which],
                                                                       *medians[which]))
    print("ratio B/A: wall %.3f, user %.3f, sys %.3f" % tuple(medians[1][i] / medians[0][i] if medians[0][i] else
                                                               float("nan") for i in range(3)))
    # Each run's two downloads follow each other: their ratio is less touched by load that drifts.
    pairs = [statistics.median(b[i] / a[i] for a, b in zip(*results) if a[i] > 0) for i in range(2)]
    print("median of the runs' own ratios B/A: wall %.3f, user %.3f" % tuple(pairs))
    print("data files byte-identical in all %d runs" % args.runs)


if __name__ == "__main__":
    main()
