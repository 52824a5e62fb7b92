"""The nightly job when the job itself goes wrong: killed at every point that matters for a terminal
that is cleared, with and without its runs, a console that cannot be written, a disk that fills
during the commit, two jobs for different days on one terminal, and things planted in the output
folder. Whatever happens, every record the terminal delivered ends up in exactly one new/ file,
and the reports say what was recovered."""

import glob
import os
import signal
import stat
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from simulator import Simulator  # noqa: E402
from test_nightly import NightlyCase, Night, punches, records, lines  # noqa: E402

WINE = harness.target() == "wine"
DAY = "2026-02-10"
NEXT = "2026-02-11"


class FailureCase(NightlyCase):
    # A late reply must stay within the program's wait for a silent line (five waits of 192 ms).

    def folder(self, day=DAY):
        return super().folder(day)

    def report(self, day=DAY):
        return super().report(day)

    def delivered(self, name="hall"):
        """Every line of every new/ file of the terminal, over all day folders, as a sorted list."""
        found = []
        for path in glob.glob(os.path.join(self.out, "*", "new", name + "*.txt")):
            with open(path, "rb") as f:
                found += f.read().splitlines(keepends=True)
        return sorted(found)

    def expected(self, punch_list):
        return sorted(lines(punch_list).splitlines(keepends=True))

    def run_record(self, day=DAY, name="hall"):
        import json
        with open(os.path.join(self.folder(day), ".work", name, "zq-nightly.run"), encoding="utf-8") as f:
            return json.load(f)

    def entry(self, day, name="hall"):
        (terminal,) = [t for t in self.report(day)["terminals"] if t["name"] == name]
        return terminal

    def wait_until(self, condition, timeout=30, step=0.01):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("timed out waiting")
            time.sleep(step)

    def kill_job(self, job, runs_too=False):
        if runs_too:
            run = self.run_record()["process"]
            os.killpg(run, signal.SIGKILL)
        os.kill(job.pid, signal.SIGKILL)
        job.wait(timeout=30)


@unittest.skipIf(WINE, "signals to the job are POSIX; the Windows end of a job is tested below")
class KilledJob(FailureCase):
    """SIGKILL to the job of a -u -c terminal at each point, then the day again and the next day."""

    def night_killed(self, *faults, when, count=30, runs_too=False, then_next_day_only=False):
        stored = punches("C1", count)
        with Simulator("870", *faults, records=records(stored)) as sim:
            terminals = self.terminals("hall 870 %s -u -c\n" % sim.address())
            job = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-w", "0")
            when(sim)
            self.kill_job(job, runs_too)
            if then_next_day_only:
                again = None
            else:
                again = self.nightly("-f", terminals, "-o", self.out, "-d", DAY, "-w", "0")
            following = self.nightly("-f", terminals, "-o", self.out, "-d", NEXT, "-w", "0")
            self.assertEqual(following.rc, 0, following)
            cleared = sim.received().count(b"CLEARLOG")
        self.assertEqual(self.delivered(), self.expected(stored))
        work = os.path.join(self.folder(), ".work")
        self.assertFalse(os.path.exists(work), [os.path.join(p, f) for p, _, fs in os.walk(work) for f in fs])
        return again, following, cleared

    def test_killed_during_the_download(self):
        again, _, _ = self.night_killed(
            "--drip", "4", when=lambda sim: (self.wait_until(lambda: sim.received().startswith(b"GETLOGDATA")),
                                             time.sleep(0.5)))
        # The run stopped before its save point: it cleared nothing, left its partial file in
        # stopped/, and the day again read everything.
        self.assertEqual(again.rc, 0, again)
        report = self.report()
        self.assertTrue(report["interrupted"])
        self.assertEqual((self.entry(DAY)["outcome"], self.entry(DAY)["records"]), ("complete", 30))

    def test_killed_after_the_save_before_the_clear(self):
        again, following, cleared = self.night_killed(
            "--late", "SETTIME=700", when=lambda sim: self.wait_until(lambda: b"SETTIME" in sim.received()))
        # The run got its stop request when the job died: it finished setting the clock and did
        # not clear; the day again waited for it and put its file in place.
        self.assertEqual(cleared, 1)  # only by the next day's job
        self.assertEqual(again.rc, 3, again)
        self.assertIn("waiting for it", again.err)
        entry = self.entry(DAY)
        self.assertEqual((entry["outcome"], entry["recovered"], entry["cleared"], entry["newRecords"]),
                         ("not-cleared", True, False, 30))
        self.assertTrue(self.report()["interrupted"])
        self.assertEqual(self.entry(NEXT)["newRecords"], 0)

    def test_killed_after_the_clear_before_the_commit_and_only_the_next_day_runs(self):
        _, following, cleared = self.night_killed(
            "--late", "CLEARLOG=700", when=lambda sim: self.wait_until(lambda: b"CLEARLOG" in sim.received()),
            then_next_day_only=True)
        # The run cleared after its job died; the next day's job completed the day that had no
        # report before it read the terminal, which was empty then (and so not cleared again).
        self.assertEqual(cleared, 1)
        self.assertEqual(self.report(NEXT)["recoveredDays"], [DAY])
        self.assertIn("%s: completed a night that was interrupted" % DAY, "\n".join(following.lines))
        report = self.report()
        self.assertTrue(report["interrupted"])
        entry = self.entry(DAY)
        self.assertEqual((entry["outcome"], entry["recovered"], entry["cleared"], entry["newRecords"]),
                         ("complete", True, True, 30))
        self.assertEqual(self.entry(NEXT)["outcome"], "empty")

    def test_killed_during_the_commit(self):
        pending = os.path.join(self.out, ".state", "hall.pending")

        def at_the_commit(sim):
            self.wait_until(lambda: b"CLEARLOG" in sim.received(), timeout=60)
            self.wait_until(lambda: os.path.exists(pending), timeout=60, step=0.0002)

        again, _, _ = self.night_killed(when=at_the_commit, count=20000)
        self.assertEqual(again.rc, 0, again)
        entry = self.entry(DAY)
        self.assertEqual((entry["recovered"], entry["records"], entry["cleared"]), (True, 20000, True))
        self.assertFalse(os.path.exists(pending))

    def test_the_job_and_its_runs_killed_together(self):
        again, _, cleared = self.night_killed(
            "--late", "SETTIME=700", when=lambda sim: self.wait_until(lambda: b"SETTIME" in sim.received()),
            runs_too=True)
        # The run died after its save point: its console had said so, and its file is the
        # terminal's download of the day, not cleared.
        self.assertEqual(again.rc, 3, again)
        entry = self.entry(DAY)
        self.assertEqual((entry["outcome"], entry["recovered"], entry["exitCode"]), ("not-cleared", True, None))


@unittest.skipIf(WINE, "the stand-in program and the small disk are POSIX; Wine runs the cases below")
class FailingJob(FailureCase):
    def test_a_console_that_cannot_be_written(self):
        # The program's standard output is a full disk: its exit code alone says it is complete.
        real = harness.program()
        wrapper = os.path.join(self.work, "full-console")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\n[ "$1" = --version ] && exec "%s" "$@"\nexec "%s" "$@" >/dev/full 2>&1\n'
                    % (real, real))
        os.chmod(wrapper, 0o755)
        stored = punches("C2", 5)
        with Simulator("870", records=records(stored)) as sim:
            terminals = self.terminals("hall 870 %s -u -c\n" % sim.address())
            night = self.nightly("-p", wrapper, "-f", terminals, "-o", self.out, "-d", DAY)
            self.assertIn(b"CLEARLOG", sim.received())
        self.assertEqual(night.rc, 0, night)
        entry = self.entry(DAY)
        self.assertEqual((entry["outcome"], entry["cleared"], entry["clockSet"]), ("complete", True, True))
        self.assertEqual(self.delivered(), self.expected(stored))

    def test_a_disk_that_fills_during_the_commit(self):
        os.makedirs(self.out)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.out],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here")
        self.addCleanup(subprocess.run, ["umount", self.out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # About 35 bytes a record: the download fits once, not twice (its new/ file).
        stored = punches("C3", 17000)
        with Simulator("870", records=records(stored)) as sim:
            terminals = self.terminals("hall 870 %s -c\n" % sim.address())
            night = self.nightly("-f", terminals, "-o", self.out, "-d", DAY)
            self.assertIn(b"CLEARLOG", sim.received())
            self.assertEqual(night.rc, 2, night)
            entry = self.entry(DAY)
            self.assertEqual(entry["outcome"], "pending")
            self.assertIn("the next job puts it in place", entry["reason"])
            self.assertFalse(os.path.exists(os.path.join(self.folder(), "stopped")))
            # Room again: the next job, for another day, finishes the commit and the day's report.
            subprocess.run(["mount", "-o", "remount,size=8m", self.out], check=True)
            following = self.nightly("-f", terminals, "-o", self.out, "-d", NEXT)
        self.assertEqual(following.rc, 0, following)
        self.assertEqual(self.report(NEXT)["recoveredDays"], [DAY])
        entry = self.entry(DAY)
        self.assertEqual((entry["outcome"], entry["recovered"], entry["newFile"]), ("complete", True, "new/hall.txt"))
        self.assertEqual(self.delivered(), self.expected(stored))


@unittest.skipIf(WINE, "two jobs side by side are timed natively; the lock is the same code on Windows")
class TwoJobs(FailureCase):
    def test_two_jobs_for_different_days_never_read_one_terminal_at_once(self):
        stored = punches("C4", 40)
        with Simulator("870", "--parallel", "--late", "GETLOGDATA=700", records=records(stored)) as sim:
            terminals = self.terminals("hall 870 %s -c\n" % sim.address())
            first = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-w", "1")
            second = self.start("-f", terminals, "-o", self.out, "-d", NEXT, "-w", "1")
            nights = [Night(first.wait(timeout=120)), Night(second.wait(timeout=120))]
            open_at_once = [int(line.split(": ")[1]) for line in sim.lines() if line.startswith("connections open: ")]
        self.assertEqual([night.rc for night in nights], [0, 0], nights)
        self.assertEqual(max(open_at_once), 1, open_at_once)
        self.assertEqual(self.delivered(), self.expected(stored))
        entries = sorted([self.entry(DAY), self.entry(NEXT)], key=lambda e: e["records"])
        self.assertEqual([(e["outcome"], e["records"]) for e in entries], [("empty", 0), ("complete", 40)])
        # The one that came second found the terminal busy, waited, and read it again.
        self.assertEqual(entries[0]["attempts"], 2)
        self.assertTrue(any("busy" in line or "another job is reading the terminal" in line
                            for night in nights for line in night.lines), nights)


@unittest.skipIf(WINE, "Wine shows a POSIX link as the file it leads to")
class PlantedThings(FailureCase):
    """Links, a FIFO and a note planted in the output folder: refused, naming them; nothing outside
    the output folder is touched, and the terminal is not contacted."""

    def test_everything_planted_is_refused(self):
        victim = os.path.join(self.work, "victim")
        os.makedirs(victim)
        with open(os.path.join(victim, "keep.txt"), "wb") as f:
            f.write(b"keep\r\n")
        day = lambda *parts: os.path.join(self.out, DAY, *parts)  # noqa: E731
        cases = [
            # (where, how to plant it, the job's exit code)
            ("the day's lock", lambda: os.symlink(os.path.join(victim, "keep.txt"), day(".zq-nightly.lock")), 1),
            ("the terminal's log", lambda: os.symlink(os.path.join(victim, "keep.txt"), day("logs", "hall.log")), 2),
            ("the working folder", lambda: (os.makedirs(day(".work")), os.symlink(victim, day(".work", "hall"))), 2),
            ("new/", lambda: (os.rmdir(day("new")), os.symlink(victim, day("new"))), 1),
            ("stopped/", lambda: os.symlink(victim, day("stopped")), 1),
            (".state", lambda: os.symlink(victim, os.path.join(self.out, ".state")), 1),
            (".state/.lock as a folder", lambda: (os.makedirs(os.path.join(self.out, ".state", ".lock"))), 1),
            ("a FIFO at the terminal's memory",
             lambda: (os.makedirs(os.path.join(self.out, ".state")),
                      os.mkfifo(os.path.join(self.out, ".state", "hall.last"))), 2),
            ("a pending note that leads outside",
             lambda: (os.makedirs(os.path.join(self.out, ".state")),
                      open(os.path.join(self.out, ".state", "hall.pending"), "w").write(
                          "day ../victim\nfile keep.txt\nwork .work/hall/hall.txt\nmemory kept\n")), 2),
        ]
        for where, plant, rc in cases:
            with self.subTest(where=where), Simulator("870", records=records(punches("C5", 3))) as sim:
                self.out = os.path.join(self.work, "out-%d" % cases.index((where, plant, rc)))
                os.makedirs(os.path.join(self.out, DAY, "new"))
                os.makedirs(os.path.join(self.out, DAY, "logs"))
                plant()
                terminals = self.terminals("hall 870 %s -c\n" % sim.address())
                started = time.monotonic()
                night = self.nightly("-f", terminals, "-o", self.out, "-d", DAY, "-r", "0", timeout=60)
                self.assertLess(time.monotonic() - started, 20)
                self.assertEqual(night.rc, rc, night)
                if rc == 1:
                    self.assertRegex(night.err, r"is (a symbolic link|a folder).*: refused", night)
                    self.assertEqual(sim.received(), b"")
                elif where == "a pending note that leads outside":
                    self.assertIn("hall.pending is damaged", night.err)
                else:
                    self.assertEqual(sim.received(), b"", night)
                    self.assertRegex(self.entry(DAY)["reason"], r"is (a symbolic link|a FIFO).*: refused")
                self.assertEqual(os.listdir(victim), ["keep.txt"])
                with open(os.path.join(victim, "keep.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"keep\r\n")
                self.assertFalse(stat.S_ISFIFO(os.lstat(victim).st_mode))


@unittest.skipIf(WINE, "a lock held from outside is a POSIX flock")
class NoHang(FailureCase):
    def test_a_job_waiting_for_the_state_lock_ends_on_its_stop_request(self):
        import fcntl
        os.makedirs(os.path.join(self.out, ".state"))
        with open(os.path.join(self.out, ".state", ".lock"), "w") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            terminals = self.terminals("hall 870 127.0.0.1:%d -c\n" % harness.closed_loopback_port())
            job = self.start("-f", terminals, "-o", self.out, "-d", DAY)
            time.sleep(1)
            self.assertIsNone(job.process.poll())
            stopped = time.monotonic()
            job.process.send_signal(signal.SIGTERM)
            night = Night(job.wait(timeout=30))
        self.assertLess(time.monotonic() - stopped, 5)
        self.assertEqual(night.rc, 1, night)
        self.assertIn("stopped while waiting for", night.err)


@unittest.skipUnless(WINE, "the Windows end of a job: Task Scheduler's End, taskkill /F; Windows' paths")
class OnWindows(FailureCase):
    def test_a_state_lock_that_is_a_folder_and_a_folder_too_long_fail_at_once(self):
        os.makedirs(os.path.join(self.out, ".state", ".lock"))
        with Simulator("870", records=records(punches("C7", 2))) as sim:
            terminals = self.terminals("hall 870 %s -c\n" % sim.address())
            started = time.monotonic()
            night = self.nightly("-f", terminals, "-o", self.out, "-d", DAY, timeout=60)
            self.assertLess(time.monotonic() - started, 20)
            self.assertEqual(night.rc, 1, night)
            self.assertIn("is a folder, not a lock file of the job's own: refused", night.err)
            # A working folder beyond Windows' paths: the run would start elsewhere and write its file
            # where nobody finds it, so the terminal is not contacted.
            # 230 characters as Windows sees it (Z:\...): the day folder fits, the run's files do not.
            deep = os.path.join(self.work, "d" * (228 - len(self.work) - 1))
            night = self.nightly("-f", terminals, "-o", deep, "-d", DAY, "-r", "0", timeout=60)
            self.assertEqual(sim.received(), b"")
        self.assertEqual(night.rc, 2, night)
        self.assertIn("is too long for this system's paths", night.lines[0])

    def test_a_job_ended_outright_loses_nothing(self):
        stored = punches("C6", 60)  # six seconds of download
        with Simulator("870", "--drip", "4", records=records(stored)) as sim:
            terminals = self.terminals("hall 870 %s -u -c\n" % sim.address())
            job = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-w", "0")
            self.wait_until(lambda: sim.received().startswith(b"GETLOGDATA"), timeout=60)
            time.sleep(0.5)
            env = dict(os.environ, WINEDEBUG="-all")
            subprocess.run(["wine", "taskkill", "/F", "/IM", "zq-nightly.exe"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            killed = time.monotonic()
            job.wait(timeout=60)
            # The run went with its job, long before its download could have ended: the terminal
            # saw its connection close, and was neither cleared nor set.
            self.assertIsNotNone(sim.wait_for_line(lambda line: line == "connection 1 closed", timeout=3))
            self.assertLess(time.monotonic() - killed, 4)
            self.assertNotIn(b"SETTIME", sim.received())
            again = self.nightly("-f", terminals, "-o", self.out, "-d", DAY, "-w", "0")
        self.assertEqual(again.rc, 0, again)
        self.assertTrue(self.report()["interrupted"])
        self.assertEqual(self.delivered(), self.expected(stored))


if __name__ == "__main__":
    unittest.main()
