"""The nightly job against simulated terminals: tools/nightly/zq-nightly (under dash) natively,
tools/nightly/zq-nightly.cmd (under Wine's cmd) with the .exe. What counts is what an unattended
night leaves behind: final data files only when complete, logs only of failures, a summary line
per terminal and the job's exit code."""

import datetime
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from simulator import Simulator, sample_bytes  # noqa: E402

NIGHTLY = os.path.join(harness.source_dir(), "tools", "nightly")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_nightly(args, cwd, env=None, timeout=300):
    """Runs the job: zq-nightly under dash natively, zq-nightly.cmd under Wine's cmd (inside a
    pseudo-terminal, which gives the .exe its console). Paths in args are host paths."""
    if harness.target() != "wine":
        shell = shutil.which("dash") or "sh"
        run_env = dict(os.environ, **(env or {}))
        process = subprocess.run([shell, os.path.join(NIGHTLY, "zq-nightly")] + args, cwd=cwd, env=run_env,
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return process.returncode, process.stdout.decode(), process.stderr.decode()
    harness._ensure_wine()
    args = [windows_path(a) if a.startswith("/") else a for a in args]
    command = ["wine", "cmd", "/c", windows_path(os.path.join(NIGHTLY, "zq-nightly.cmd"))] + args
    # As in harness.run_program: a Wine start that printed nothing at all is tried again.
    for _ in range(3):
        with tempfile.TemporaryDirectory(prefix="zq-nightly-out-") as outdir:
            out_path, err_path = os.path.join(outdir, "stdout"), os.path.join(outdir, "stderr")
            inner = "%s >%s 2>%s" % (" ".join(shlex.quote(a) for a in command),
                                     shlex.quote(out_path), shlex.quote(err_path))
            process = subprocess.run(["script", "-qec", inner, "/dev/null"], cwd=cwd, env=harness._wine_env(env),
                                     stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
            with open(out_path, "rb") as f:
                out = f.read().decode("cp1251").replace("\r\n", "\n")
            with open(err_path, "rb") as f:
                err = f.read().decode("cp1251").replace("\r\n", "\n")
        if out or err:
            break
    return process.returncode, out, err


class NightlyCase(unittest.TestCase):
    def setUp(self):
        work = harness.WorkDir("zq-nightly-")
        self.addCleanup(work.__exit__, None, None, None)
        self.work = work.path
        self.out = work.file("out")

    def terminals(self, text):
        path = os.path.join(self.work, "terminals.txt")
        # CR LF as a Windows editor saves it: both scripts must read it.
        with open(path, "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("ascii"))
        return path

    def nightly(self, *args, env=None):
        return run_nightly(["-p", harness.program()] + list(args), cwd=self.work, env=env)

    def shown(self, path):
        """A path as the job prints it."""
        return windows_path(path) if harness.target() == "wine" else path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()


class OneNight(NightlyCase):
    def test_healthy_empty_unreachable_and_dropped_terminals_with_a_bad_line(self):
        closed = harness.closed_loopback_port()
        with Simulator("870", records=sample_bytes("zq870-records.txt")) as healthy, \
                Simulator("870") as empty, \
                Simulator("870", "--close-after", "43", "--generate", "3") as dropped:
            terminals = self.terminals(
                "# name   model address          switches\n"
                "healthy  870   %s  -u -c\n"
                "\n"
                "empty    870   %s  -c   # nothing stored\n"
                "gone     870   127.0.0.1:%d -u -c\n"
                "dropped  870   %s  -c\n"
                "bad/one  870   127.0.0.1:1\n" % (healthy.address(), empty.address(), closed, dropped.address()))
            # A complete file of "dropped" from an earlier run of the day: its records may have
            # been cleared from the terminal since, so it must survive, but not as today's result.
            earlier = b"00A1B2C3\t1\t01.01.2024\t08:00:00\t00\r\n"
            day = os.path.join(self.out, "2026-01-31")
            os.makedirs(day)
            with open(os.path.join(day, "dropped.txt"), "wb") as f:
                f.write(earlier)

            jobs = ["-j", "4"] if harness.target() != "wine" else []
            rc, out, err = self.nightly("-f", terminals, "-o", self.out, "-d", "2026-01-31", *jobs)
            self.assertEqual(rc, 2, (out, err))

            log = lambda name: self.shown(os.path.join(day, name + ".log"))  # noqa: E731
            self.assertEqual(out.splitlines(), [
                "healthy: complete, 6 records",
                "empty: empty, no records",
                "gone: failed (exit 2), no data file; log %s" % log("gone"),
                "dropped: failed (exit 2), no data file; log %s" % log("dropped"),
                "2026-01-31: 1 complete, 1 empty, 2 failed, 0 clock or clear failed, 1 lines skipped",
            ])
            self.assertIn("bad/one", err)
            self.assertIn("line skipped", err)
            if harness.target() != "wine":
                self.assertIn("terminals.txt:7: name bad/one", err)

            # Only complete files under a final name; the earlier file moved aside intact.
            self.assertEqual(sorted(os.listdir(day)), [
                "dropped.log", "dropped.txt.1", "empty.txt", "gone.log", "healthy.txt"])
            self.assertEqual(self.read(os.path.join(day, "healthy.txt")), sample_bytes("zq870-expected.txt"))
            self.assertEqual(self.read(os.path.join(day, "empty.txt")), b"")
            self.assertEqual(self.read(os.path.join(day, "dropped.txt.1")), earlier)
            gone_log = harness.log_messages(os.path.join(day, "gone.log"))
            self.assertTrue(gone_log and "Can't connect to 127.0.0.1:%d" % closed in gone_log[-1], gone_log)
            self.assertIn("[ERROR] Zq870::dump(): Can't read terminal response",
                          harness.log_messages(os.path.join(day, "dropped.log")))

            # The healthy terminal was set and cleared; the broken download cleared nothing.
            self.assertRegex(healthy.received(), rb"^GETLOGDATASETTIME00\d{14}CLEARLOG$")
            self.assertIsNotNone(healthy.wait_for_line(lambda l: l == "records cleared (6)"))
            self.assertEqual(dropped.received(), b"GETLOGDATA")


class JobExitCodes(NightlyCase):
    def test_clock_or_clear_failure_keeps_the_file_and_the_log_and_exits_3(self):
        with Simulator("870", "--error", "CLEARLOG", "--generate", "1") as refused, Simulator("870") as empty:
            terminals = self.terminals("refused 870 %s -c\nempty 870 %s\n" % (refused.address(), empty.address()))
            rc, out, err = self.nightly("-f", terminals, "-o", self.out, "-d", "2026-01-31")
        day = os.path.join(self.out, "2026-01-31")
        self.assertEqual(rc, 3, (out, err))
        self.assertEqual(out.splitlines()[0], "refused: clock or clear failed (exit 3), 1 record; log %s"
                         % self.shown(os.path.join(day, "refused.log")))
        self.assertEqual(sorted(os.listdir(day)), ["empty.txt", "refused.log", "refused.txt"])
        self.assertEqual(len(self.read(os.path.join(day, "refused.txt")).split(b"\r\n")), 2)

    def test_all_complete_exits_0_in_todays_folder_and_nothing_to_run_exits_1(self):
        days = {datetime.date.today().isoformat()}
        with Simulator("870", "--generate", "2") as sim:
            rc, out, err = self.nightly("-f", self.terminals("only 870 %s\n" % sim.address()), "-o", self.out)
        days.add(datetime.date.today().isoformat())
        self.assertEqual((rc, out.splitlines()[0]), (0, "only: complete, 2 records"), err)
        (day,) = os.listdir(self.out)
        self.assertIn(day, days)
        self.assertEqual(os.listdir(os.path.join(self.out, day)), ["only.txt"])
        rc, out, err = self.nightly("-f", self.terminals("# nothing yet\n"), "-o", self.out, "-d", "2026-02-01")
        self.assertEqual((rc, out), (1, ""), err)


@unittest.skipIf(harness.target() == "wine", "zq-nightly.cmd runs its terminals one after another")
class JobSlots(NightlyCase):
    def test_never_more_than_n_downloads_at_once_and_as_many_as_allowed(self):
        # A stand-in program that counts the downloads running beside it.
        slots = os.path.join(self.work, "slots")
        os.mkdir(slots)
        fake = os.path.join(self.work, "fake-download")
        with open(fake, "w") as f:
            f.write('#!/bin/sh\nmkdir "$SLOTS/$$"\nls "$SLOTS" | wc -l >>"$SLOTS.seen"\nsleep 1\n'
                    'rmdir "$SLOTS/$$"\n: >"$3"\n')
        os.chmod(fake, 0o755)
        terminals = self.terminals("".join("t%d 870 127.0.0.1:%d\n" % (i, 1000 + i) for i in range(5)))
        rc, out, err = run_nightly(["-p", fake, "-f", terminals, "-o", self.out, "-j", "3", "-d", "2026-01-31"],
                                   cwd=self.work, env={"SLOTS": slots})
        self.assertEqual(rc, 0, (out, err))
        self.assertEqual(len(re.findall(r"^t\d: empty, no records$", out, re.M)), 5, out)
        with open(slots + ".seen") as f:
            self.assertEqual(max(int(n) for n in f.read().split()), 3)


if __name__ == "__main__":
    unittest.main()
