#!/usr/bin/env python3
"""Benchmarks of Zq-ReadUtility's downloads against the simulator, each measured side by side with
the reference client doing the same transfer. Prints one `name: value` line per figure.

    bench/run.py <build dir>     (bench/run.sh builds a release tree and calls this)
"""

import os
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bench")
PROGRAM = os.path.join(BUILD, "Zq-ReadUtility")
SIMULATOR = os.path.join(BUILD, "tools", "simulator", "Zq-TerminalSimulator")
REFERENCE = os.path.join(BUILD, "bench", "Zq-ReferenceClient")
REPEATS = int(os.environ.get("ZQ_BENCH_REPEATS", "3"))


class Simulator:
    def __init__(self, model, records, workdir):
        argv = [SIMULATOR, model, "--generate", str(records)]
        if model != "2210":
            argv += ["--port", "0"]
        else:
            argv += ["--link", os.path.join(workdir, "COM9")]
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = self.proc.stdout.readline().decode().strip()
        key, _, value = first.partition("=")
        self.port = int(value) if key == "port" else None
        self.pty = value if key == "pty" else None

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def measure(argv, env=None, cwd=None):
    """Wall time and peak resident set (KiB) of one run of argv.

    The peak comes from /usr/bin/time: a child forked from this Python process would report
    Python's own resident set, which the kernel keeps across exec."""
    with tempfile.NamedTemporaryFile(mode="r", suffix=".rss") as rss:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss.name] + argv, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, env=env, cwd=cwd)
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError("%s exited with %d: %s" % (argv[0], proc.returncode, proc.stderr.decode()))
        return elapsed, int(rss.read().split()[-1])


def best(runs):
    times = [t for t, _ in runs]
    return min(times), max(rss for _, rss in runs)


def run_family(model, records, workdir):
    """(program seconds, program peak KiB, reference seconds) for one download of `records` records."""
    sim = Simulator(model, records, workdir)
    try:
        out = os.path.join(workdir, "out.txt")
        env = dict(os.environ)
        if model == "2210":
            env["ZQ_COMPORT_DIR"] = workdir
            program = [PROGRAM, "2210", "9", out]
            reference = [REFERENCE, "2210", os.path.join(workdir, "COM9")]
        else:
            program = [PROGRAM, model, "127.0.0.1:%d" % sim.port, out]
            reference = [REFERENCE, model, str(sim.port)]
        program_runs, reference_runs = [], []
        for _ in range(REPEATS):
            program_runs.append(measure(program, env=env, cwd=workdir))
            with open(out, "rb") as f:
                lines = sum(1 for _ in f)
            if lines != records:
                raise RuntimeError("%s download wrote %d of %d records" % (model, lines, records))
            reference_runs.append(measure(reference, env=env, cwd=workdir))
        program_time, program_rss = best(program_runs)
        reference_time, _ = best(reference_runs)
        return program_time, program_rss, reference_time
    finally:
        sim.stop()


def main():
    for path in (PROGRAM, SIMULATOR, REFERENCE):
        if not os.path.exists(path):
            sys.exit("missing %s: build the tree first (bench/run.sh)" % path)
    with tempfile.TemporaryDirectory(prefix="zq-bench-") as workdir:
        t, rss, ref = run_family("870", 1_000_000, workdir)
        print("870_1M_records_per_second: %.0f" % (1_000_000 / t))
        print("870_1M_seconds: %.3f" % t)
        print("870_1M_reference_seconds: %.3f" % ref)
        print("870_1M_ratio: %.2f" % (t / ref))
        print("870_1M_peak_rss_kib: %d" % rss)
        rss_1m = rss

        t, rss, _ = run_family("870", 100_000, workdir)
        print("870_100k_peak_rss_kib: %d" % rss)
        print("870_rss_growth_100k_to_1M_kib: %d" % (rss_1m - rss))

        t, rss, ref = run_family("735", 20_000, workdir)
        exchanges = 20_000 + 2  # D, N, then one G per record
        print("735_20k_us_per_exchange: %.1f" % (t / exchanges * 1e6))
        print("735_20k_reference_us_per_exchange: %.1f" % (ref / exchanges * 1e6))
        print("735_20k_ratio: %.2f" % (t / ref))
        print("735_20k_peak_rss_kib: %d" % rss)

        t, rss, ref = run_family("2210", 2_000, workdir)
        exchanges = 2 * 2_000 + 4  # LI, RA, RN, then RG and RH per record, LO
        print("2210_2k_us_per_exchange: %.1f" % (t / exchanges * 1e6))
        print("2210_2k_reference_us_per_exchange: %.1f" % (ref / exchanges * 1e6))
        print("2210_2k_ratio: %.2f" % (t / ref))
        print("2210_2k_peak_rss_kib: %d" % rss)


if __name__ == "__main__":
    main()
