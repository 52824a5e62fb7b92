"""The nightly job, zq-nightly, against simulated terminals: natively, and zq-nightly.exe driving
Zq-ReadUtility.exe under Wine. What counts is what a night leaves for the importer and the
operator: complete data files only under their final names, new/ files that together hold every
record exactly once, every attempt's log, what a stopped run left, report.json, the lines printed
and the exit code."""

import datetime
import json
import os
import re
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from simulator import Simulator  # noqa: E402

WINE = harness.target() == "wine"
DAY = "2026-01-31"
TERMINAL_KEYS = {"name", "model", "address", "switches", "outcome", "exitCode", "attempts", "records", "newRecords",
                 "suspectRecords", "dataFile", "newFile", "logFile", "started", "finished", "seconds", "reason",
                 "cause", "cleared", "clockSet", "firstNight", "stateDamaged", "recovered"}
JOB_KEYS = {"day", "started", "finished", "exitCode", "dayExitCode", "stoppedBy", "version", "program",
            "programVersion", "terminalsFile", "interrupted", "recoveredDays", "jobs", "terminals"}
JOBS_KEYS = {"started", "finished", "exitCode", "stoppedBy", "version", "recovery", "report"}


def host_path(path):
    """A path as the job under test takes and prints it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\") if WINE else path


class Punch:
    """One clock-in: the 870's 26-byte record, and the data-file line the program writes for it."""

    def __init__(self, card, event, stamp):
        self.card, self.event, self.stamp = card, event, stamp  # stamp: YYYYMMDDhhmmss

    def record(self):
        return "%-8s %d%s00" % (self.card, self.event, self.stamp)

    def line(self):
        s = self.stamp
        return "%s\t%d\t%s.%s.%s\t%s:%s:%s\t00\r\n" % (self.card, self.event + 1, s[6:8], s[4:6], s[0:4], s[8:10],
                                                       s[10:12], s[12:14])


def punches(tag, count, start=None):
    """`count` distinct punches of the last hours, cards tagged `tag` (two hex digits)."""
    start = start or datetime.datetime.now().replace(microsecond=0) - datetime.timedelta(hours=10)
    return [Punch("%s%06X" % (tag, i), i % 4, (start + datetime.timedelta(minutes=7 * i)).strftime("%Y%m%d%H%M%S"))
            for i in range(count)]


def records(punch_list):
    return "".join(p.record() + "\n" for p in punch_list)


def lines(punch_list):
    return "".join(p.line() for p in punch_list).encode("ascii")


START = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d zq-nightly \d+\.\d+\.\d+: "
                   r"\d{4}-\d\d-\d\d: started, process \d+$")
END = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d zq-nightly \d+\.\d+\.\d+: "
                 r"\d{4}-\d\d-\d\d: ended, exit (\d+)$")


class Night:
    """One finished job: exit code, the lines it printed between its start and end lines (which
    are checked here), its standard error."""

    def __init__(self, result):
        self.rc = result.rc
        self.lines = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()
        self.err = result.stderr.decode("utf-8", "replace").replace("\r\n", "\n")
        # A job that ran (not a refused command line, nor a dry run) opens and closes its lines
        # with a dated start and end, which nightly.log keeps apart.
        if self.lines and START.match(self.lines[0]):
            end = END.match(self.lines[-1]) if len(self.lines) > 1 else None
            assert end and int(end.group(1)) == self.rc, self.lines
            self.lines = self.lines[1:-1]

    def __repr__(self):
        return "Night(rc=%r, lines=%r, err=%r)" % (self.rc, self.lines, self.err)


class NightlyCase(unittest.TestCase):
    def setUp(self):
        work = harness.WorkDir("zq-nightly-")
        self.addCleanup(work.__exit__, None, None, None)
        self.work = work.path
        self.out = os.path.join(self.work, "out")

    def terminals(self, text):
        """A terminals file as a Windows editor saves it: a byte-order mark and CR LF."""
        path = os.path.join(self.work, "terminals.txt")
        with open(path, "wb") as f:
            f.write(b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("ascii"))
        return path

    def start(self, *args, env=None):
        args = [host_path(a) if os.path.isabs(a) else a for a in args]
        return harness.start_program(args, self.work, env, program_path=harness.program("ZQ_NIGHTLY"))

    def nightly(self, *args, env=None, timeout=240):
        args = [host_path(a) if os.path.isabs(a) else a for a in args]
        return Night(harness.run_program(args, self.work, env, timeout, program_path=harness.program("ZQ_NIGHTLY")))

    def folder(self, day=DAY):
        return os.path.join(self.out, day)

    def read(self, *parts, day=DAY):
        with open(os.path.join(self.folder(day), *parts), "rb") as f:
            return f.read()

    def report(self, day=DAY):
        with open(os.path.join(self.folder(day), "report.json"), encoding="utf-8") as f:
            report = json.load(f)
        self.assertEqual(set(report), JOB_KEYS)
        for terminal in report["terminals"]:
            self.assertEqual(set(terminal), TERMINAL_KEYS)
        for job in report["jobs"]:
            self.assertEqual(set(job), JOBS_KEYS)
        return report

    def outcomes(self, report):
        return {t["name"]: t["outcome"] for t in report["terminals"]}

    def wait_for(self, condition, timeout=30):
        deadline = time.monotonic() + timeout
        while not condition():
            self.assertLess(time.monotonic(), deadline, "timed out waiting")
            time.sleep(0.02)

    def assertWholeLinesOf(self, data, expected):
        """`data` is a prefix of `expected` that ends at a line end."""
        self.assertTrue(expected.startswith(data) and (data == b"" or data.endswith(b"\r\n")), data)


class OneDay(NightlyCase):
    """A first night of four terminals, two of them failing; then the day again after the two were
    fixed; then a second download of one terminal with -a."""

    def first_night(self):
        """Runs the first night; its simulators stay up until the test ends."""
        # A % in the output folder reaches -x as it is, never expanded by cmd.
        self.out = os.path.join(self.work, "out%PATH%")
        recent = punches("A1", 2)
        future = Punch("A1FF0001", 2, (datetime.datetime.now() + datetime.timedelta(days=3)).strftime("%Y%m%d%H%M%S"))
        impossible = Punch("A1FF0002", 3, "20260230120000")
        healthy_punches = recent + [future, impossible]
        closed = harness.closed_loopback_port()
        healthy = self.simulator("870", records=records(healthy_punches))
        empty = self.simulator("870")
        dropping = self.simulator("870", "--close-after", "43", records=records(punches("D1", 3)))
        terminals = (
            "# name   model address            switches\n"
            "healthy  870   %s   -u -c\n"
            "\n"
            "empty    870   %s   -c   # nothing stored\n"
            "gone     870   127.0.0.1:%d        -u -c\n"
            "dropping QVK   %%s   -c\n" % (healthy.address(), empty.address(), closed))
        night = self.nightly("-f", self.terminals(terminals % dropping.address()), "-o", self.out, "-d", DAY,
                             "-r", "1", "-w", "0")
        return night, healthy, empty, dropping, closed, healthy_punches, terminals

    def simulator(self, *args, **kwargs):
        simulator = Simulator(*args, **kwargs)
        self.addCleanup(simulator.stop)
        return simulator

    def test_a_first_night_reads_every_terminal_and_tries_a_failure_again(self):
        night, healthy, empty, dropping, closed, healthy_punches, terminals = self.first_night()
        # A failed download is tried again, a complete one never; the summary names the failures.
        self.assertEqual(night.rc, 2, night)
        self.assertEqual(night.lines[-1], "2026-01-31: 1 complete, 1 empty, 0 clock-not-set, 0 not-cleared, "
                         "0 pending, 2 failed (gone, dropping), 0 busy, 0 stopped, 0 skipped, 0 invalid, "
                         "0 not-run; exit 2")
        printed = sorted(night.lines[:-1])
        self.assertEqual(len(printed), 6, night)
        # Each reason starts with the innermost cause the program logged, then its console line.
        dropped = r"Zq870::dump\(\): Can't read terminal response / Can't write data file \"dropping.txt\"\."
        self.assertRegex(printed[0], r"^dropping: attempt 1 of 2 failed: " + dropped)
        self.assertRegex(printed[1], r"^dropping: failed after 2 attempts: " + dropped)
        self.assertEqual(printed[2], "empty: empty, no records")
        refused = (r"Socket::connect\(\): Connection timeout to 127\.0\.0\.1:%d, err => \d+ / "
                   r"Can't connect to the terminal 870\." % closed)
        self.assertRegex(printed[3], r"^gone: attempt 1 of 2 failed: %s; next attempt in 0 s$" % refused)
        self.assertRegex(printed[4], r"^gone: failed after 2 attempts: %s$" % refused)
        self.assertEqual(printed[5], "healthy: complete, 4 records, 4 new, 2 suspect")

        # Complete files only, and every attempt's log; nothing of the job's own is left behind.
        self.assertEqual(sorted(os.listdir(self.folder())), ["empty.txt", "healthy.txt", "logs", "new",
                                                             "report.json", "reports"])
        self.assertEqual(self.read("healthy.txt"), lines(healthy_punches))
        self.assertEqual(self.read("new", "healthy.txt"), lines(healthy_punches))
        self.assertEqual((self.read("empty.txt"), self.read("new", "empty.txt")), (b"", b""))
        self.assertEqual(sorted(os.listdir(self.folder("2026-01-31/logs"))),
                         ["dropping.log", "empty.log", "gone.log", "healthy.log"])
        gone_log = self.read("logs", "gone.log").decode("utf-8")
        self.assertEqual(len(re.findall(r"^==== zq-nightly .*: gone, attempt \d of 2, ", gone_log, re.M)), 2)
        self.assertIn("Can't connect to 127.0.0.1:%d" % closed, gone_log)
        self.assertIn("==== console: Data cleared successfully.", self.read("logs", "healthy.log").decode("utf-8"))
        self.assertRegex(healthy.received(), rb"^GETLOGDATASETTIME00\d{14}CLEARLOG$")
        self.assertEqual(dropping.received(), b"GETLOGDATA" * 2)

        report = self.report()
        self.assertEqual((report["day"], report["exitCode"], report["dayExitCode"], report["stoppedBy"]),
                         (DAY, 2, 2, None))
        self.assertRegex(report["version"], r"^\d+\.\d+\.\d+$")
        self.assertEqual(report["programVersion"], report["version"])
        self.assertLessEqual(report["started"], report["finished"])
        by_name = {t["name"]: t for t in report["terminals"]}
        self.assertEqual([t["name"] for t in report["terminals"]], ["healthy", "empty", "gone", "dropping"])
        h = by_name["healthy"]
        self.assertEqual((h["model"], h["address"], h["switches"], h["outcome"], h["exitCode"], h["attempts"]),
                         ("870", healthy.address(), ["-u", "-c"], "complete", 0, 1))
        self.assertEqual((h["records"], h["newRecords"], h["suspectRecords"], h["dataFile"], h["newFile"],
                          h["logFile"], h["reason"], h["cause"], h["cleared"], h["clockSet"], h["firstNight"]),
                         (4, 4, 2, "healthy.txt", "new/healthy.txt", "logs/healthy.log", "", None, True, True,
                          True))
        for stamp in (h["started"], h["finished"]):
            datetime.datetime.strptime(stamp[:19], "%Y-%m-%dT%H:%M:%S")
        self.assertGreaterEqual(h["seconds"], 0)
        g = by_name["gone"]
        self.assertEqual((g["outcome"], g["exitCode"], g["attempts"], g["records"], g["dataFile"], g["newFile"]),
                         ("failed", 2, 2, None, None, None))
        self.assertTrue(g["reason"].startswith("Socket::connect(): Connection timeout to "), g)
        self.assertEqual((g["cause"], by_name["dropping"]["cause"]), ("refused", "disconnected"))
        self.assertEqual((by_name["empty"]["outcome"], by_name["empty"]["records"]), ("empty", 0))


    def test_the_day_again_reads_only_the_failures_and_keeps_the_rest(self):
        _, healthy, empty, dropping, closed, healthy_punches, terminals = self.first_night()
        first = self.report()
        # The day again, after the two were fixed, over the lock of a job that died: only the
        # failures are read; the complete files stay as they are; -x is not run on success.
        finished_job = harness.start_program([], self.work, program_path="/bin/true") if not WINE else None
        dead = finished_job.process.pid if finished_job else 4000000
        if finished_job:
            finished_job.wait()
        with open(os.path.join(self.folder(), ".zq-nightly.lock"), "w") as f:
            f.write("%d\n" % dead)
        seen = (healthy.received(), empty.received())
        fixed = punches("B1", 2)
        with Simulator("870", records=records(fixed)) as gone_now, Simulator("870") as dropping_now:
            retyped = terminals.replace("127.0.0.1:%d " % closed, gone_now.address() + " ")
            night = self.nightly("-f", self.terminals(retyped % dropping_now.address()), "-o", self.out,
                                 "-d", DAY, "-x", "echo notify")
        self.assertEqual(night.rc, 0, night)
        self.assertRegex(night.err, r"took over .*\.zq-nightly\.lock: no job held it, though it named process %d "
                         % dead)
        # What the first job said of the complete ones stays the day's word on them.
        self.assertEqual(sorted(night.lines[:-1]), [
            "dropping: empty, no records", "empty: empty (earlier), no records", "gone: complete, 2 records, 2 new",
            "healthy: complete (earlier), 4 records, 4 new, 2 suspect"])
        self.assertTrue(night.lines[-1].endswith("; exit 0"), night)
        self.assertEqual((healthy.received(), empty.received()), seen)
        self.assertEqual(self.read("healthy.txt"), lines(healthy_punches))
        self.assertEqual((self.read("gone.txt"), self.read("new", "gone.txt")), (lines(fixed), lines(fixed)))
        report = self.report()
        kept = {t["name"]: t for t in report["terminals"] if t["name"] in ("healthy", "empty")}
        self.assertEqual(kept, {t["name"]: t for t in first["terminals"] if t["name"] in ("healthy", "empty")})
        self.assertEqual((report["exitCode"], report["dayExitCode"], len(report["jobs"])), (0, 0, 2))
        self.assertEqual(report["jobs"][0]["exitCode"], 2)


    def test_a_second_download_with_a_and_a_refused_clear_runs_x(self):
        _, healthy, empty, dropping, closed, healthy_punches, terminals = self.first_night()
        # -a reads a complete terminal again into <name>.2.txt; a refused clear is exit 3, which
        # runs -x with the report's path.
        # The report's path comes appended and in ZQ_REPORT. Wine's cmd expands a variable's
        # value again (Windows' does not), so there the exact path is read from the variable.
        notify = "set ZQ_REPORT& echo notify" if WINE else "echo notify"
        later = punches("C1", 1)
        refusing = self.simulator("870", "--error", "CLEARLOG", records=records(later))
        again = terminals.replace(empty.address(), refusing.address())
        night = self.nightly("-f", self.terminals(again % dropping.address()), "-o", self.out, "-d", DAY,
                             "-a", "-t", "empty", "-x", notify)
        self.assertEqual(night.rc, 3, night)
        self.assertEqual(night.lines[0], "healthy: complete (earlier), 4 records, 4 new, 2 suspect")
        self.assertRegex(night.lines[1], r"^gone: failed \(earlier\) after 2 attempts: Socket::connect\(\): ")
        self.assertRegex(night.lines[2], r"^dropping: failed \(earlier\) after 2 attempts: Zq870::dump\(\): ")
        self.assertEqual(night.lines[3], "empty: not-cleared, 1 record, 1 new: Zq870::reset(): Can't clean up data / "
                                         "Can't clean up the data.")
        self.assertTrue(night.lines[4].endswith(", 0 skipped, 0 invalid, 0 not-run; exit 3"), night)
        report_path = host_path(os.path.join(self.folder(), "report.json"))
        if WINE:
            self.assertIn("ZQ_REPORT=" + report_path, night.lines[5:])
        else:
            self.assertEqual(night.lines[5], "notify " + report_path)
        self.assertEqual((self.read("empty.2.txt"), self.read("new", "empty.2.txt")), (lines(later), lines(later)))
        self.assertEqual(self.read("empty.txt"), b"")
        report = self.report()
        (empty_now,) = [t for t in report["terminals"] if t["name"] == "empty"]
        self.assertEqual((empty_now["outcome"], empty_now["exitCode"], empty_now["attempts"], empty_now["dataFile"],
                          empty_now["cause"]), ("not-cleared", 3, 1, "empty.2.txt", "terminal-error"))
        # Every job of the day keeps its own report; report.json is the day's.
        self.assertEqual(sorted(os.listdir(self.folder("2026-01-31/reports"))),
                         sorted(os.path.basename(job["report"]) for job in report["jobs"]))
        self.assertEqual([job["exitCode"] for job in report["jobs"]], [2, 3])
        self.assertEqual(report["dayExitCode"], 2)



class Reasons(NightlyCase):
    """What the report says of each fault of a terminal: the cause's word, and a reason that starts
    with what the program found, not with its wrap-up."""

    def test_every_fault_is_named_by_its_cause(self):
        closed = harness.closed_loopback_port()
        ports = os.path.join(self.work, "ports")  # no COM port there
        os.makedirs(ports)
        harness.remove_com_port(99)
        device = "\\\\.\\COM99" if WINE else os.path.join(ports, "COM99")
        # name: (model, simulator options or None for no terminal, switches, outcome, cause, reason's text)
        rows = {
            "garbage": ("735", ["--garbage", "G:5"], "-c", "failed", "protocol", "Zq735::cmd_g(): err => 0, , RPL=E2"),
            "dropped": ("870", ["--close-after", "43"], "-c", "failed", "disconnected",
                        "Zq870::dump(): Can't read terminal response / Can't write data file"),
            "cut": ("735", ["--close-after", "40"], "-c", "failed", "disconnected",
                    "Zq735::cmd_g(): Invalid terminal response, RPL=02 41"),
            "silent": ("870", ["--silent", "GETLOGDATA"], "-c", "failed", "timeout",
                       "Zq870::dump(): Can't read terminal response"),
            "refusesE": ("735", ["--error", "E"], "-c", "not-cleared", "terminal-error",
                         "Zq735::cmd_e(): err => 7, Command failed"),
            "refusesClear": ("870", ["--error", "CLEARLOG"], "-c", "not-cleared", "terminal-error",
                             "Zq870::reset(): Can't clean up data / Can't clean up the data."),
            "sendsMore": ("870", ["--count", "5", "--send-all"], "-c", "not-cleared", "out-of-step",
                          "Zq870::reset(): The connection is out of step: no clearing request is sent "
                          "(Zq870::reset(): Dropped 130 bytes that came unasked)"),
            "punched": ("735", ["--punch", "N=3"], "-c", "not-cleared", "punched-during-run",
                        "records stored, 19 saved: nothing is cleared"),
            "refusesClock": ("735", ["--error", "S"], "-u", "clock-not-set", "terminal-error",
                             "Zq735::cmd_s(): err => 7"),
            "closed": ("870", None, "-c", "failed", "refused", "Socket::connect(): Connection timeout to 127.0.0.1:%d"
                       % closed),
            "noport": ("2210", None, "-c", "failed", "no-device", "(COM99 is %s) / Can't connect to the terminal 2210."
                       % device),
        }
        simulators = {}
        try:
            text = ""
            for name, (model, options, switches, _, _, _) in rows.items():
                if options is not None:
                    simulators[name] = Simulator(model, "--generate", "10", *options)
                address = simulators[name].address() if name in simulators else \
                    "99" if model == "2210" else "127.0.0.1:%d" % closed
                text += "%s %s %s %s\n" % (name, model, address, switches)
            night = self.nightly("-f", self.terminals(text), "-o", self.out, "-d", DAY, "-r", "0",
                                 "-j", "2" if WINE else "6", env={"ZQ_COMPORT_DIR": ports})
        finally:
            for simulator in simulators.values():
                simulator.stop()
        self.assertEqual(night.rc, 2, night)
        entries = {t["name"]: t for t in self.report()["terminals"]}
        for name, (_, _, _, outcome, cause, text) in rows.items():
            with self.subTest(name=name):
                entry = entries[name]
                self.assertEqual((entry["outcome"], entry["cause"]), (outcome, cause), entry["reason"])
                self.assertIn(text, entry["reason"])
                # The program's wrap-up lines never stand for the cause.
                self.assertNotIn("Can't update terminal", entry["reason"])
                self.assertNotIn(" mode 0", entry["reason"])
        self.assertIn("(COM99 is %s)" % device, self.read("logs", "noport.log").decode("utf-8"))


class DayHistory(NightlyCase):
    def test_a_day_again_keeps_what_it_did_not_read_and_a_first_night_is_flagged(self):
        with Simulator("870", "--error", "CLEARLOG", records=records(punches("E3", 2))) as refusing, \
                Simulator("870", records=records(punches("E4", 3))) as new_one:
            text = "refusing 870 %s -c\nnew 870 %s -c\n" % (refusing.address(), new_one.address())
            first = self.nightly("-f", self.terminals(text + "bad 780 127.0.0.1\n"), "-o", self.out, "-d", DAY)
            self.assertEqual(first.rc, 2, first)
            self.assertIn("bad: invalid: line 3: unknown model 780, not 735, 870, QVK or 2210", first.lines)
            entries = {t["name"]: t for t in self.report()["terminals"]}
            self.assertEqual((entries["bad"]["outcome"], entries["bad"]["cause"]), ("invalid", "invalid"))
            self.assertEqual((entries["new"]["firstNight"], entries["refusing"]["firstNight"]), (True, True))
            # The day again, with the line fixed: nothing is read, the not-cleared terminal stays
            # so, and the day's worst state with it.
            again = self.nightly("-f", self.terminals(text), "-o", self.out, "-d", DAY)
            self.assertEqual(again.rc, 0, again)
            self.assertEqual(again.lines[0], "refusing: not-cleared (earlier), 2 records, 2 new: "
                                             "Zq870::reset(): Can't clean up data / Can't clean up the data.")
            report = self.report()
            self.assertEqual((report["exitCode"], report["dayExitCode"]), (0, 3))
            self.assertEqual({t["name"]: t for t in report["terminals"]}["refusing"], entries["refusing"])
            # The next night knows both terminals.
            following = self.nightly("-f", self.terminals(text), "-o", self.out, "-d", "2026-02-01")
            self.assertEqual(following.rc, 3, following)
        entries = {t["name"]: t for t in self.report("2026-02-01")["terminals"]}
        self.assertEqual((entries["new"]["firstNight"], entries["refusing"]["firstNight"]), (False, False))
        self.assertEqual(entries["refusing"]["newRecords"], 0)


class DaysInARow(NightlyCase):
    """Three nights of five terminals. Taken over every day folder, the new/ files of a terminal
    hold each record it stored exactly once, whatever happened to its memory in between."""

    def test_new_files_hold_every_record_exactly_once(self):
        days = ["2026-03-01", "2026-03-02", "2026-03-03"]
        switches = {"cleared": "-c", "kept": "-u", "refused": "-c", "wiped": "", "dark": "-c -u"}
        stored = {name: [] for name in switches}  # what each terminal's memory holds
        delivered = {name: [] for name in switches}  # every record ever stored, in order
        # A path outside the console code page: the job works with wide paths on Windows.
        self.out = os.path.join(self.work, "données")
        env = {"LANG": "C.UTF-8"}
        for index, day in enumerate(days):
            for number, name in enumerate(switches):
                fresh = punches("%X%X" % (number, index), 2 + index, datetime.datetime(2026, 3, 1 + index, 8, 0))
                if name == "kept" and index == 1:
                    fresh.append(stored["kept"][0])  # a card punched twice in one second: two records
                if name == "wiped" and index == 2:
                    stored["wiped"] = []  # cleared at the device between two nights
                stored[name] += fresh
                delivered[name] += fresh
            faults = {"refused": ["--error", "CLEARLOG"]} if index == 1 else {}
            simulators = {name: Simulator("870", *faults.get(name, []), records=records(stored[name]))
                          for name in switches if not (name == "dark" and index == 1)}
            try:
                closed = harness.closed_loopback_port()
                text = "".join("%-8s 870 %s %s\n" % (name, simulators[name].address() if name in simulators
                                                      else "127.0.0.1:%d" % closed, switches[name])
                               for name in switches)
                night = self.nightly("-f", self.terminals(text), "-o", self.out, "-d", day, "-r", "0", env=env)
                for name, simulator in simulators.items():
                    clears = "-c" in switches[name] and name not in faults
                    cleared = simulator.wait_for_line(lambda l: l.startswith("records cleared"), 3 if clears else 0.2)
                    self.assertEqual(cleared is not None, clears, (day, name, simulator.lines()))
                    if cleared:
                        stored[name] = []
            finally:
                for simulator in simulators.values():
                    simulator.stop()
            expected = {name: "complete" for name in switches}
            if index == 1:
                expected.update(refused="not-cleared", dark="failed")
            self.assertEqual(self.outcomes(self.report(day)), expected, night)
            self.assertEqual(night.rc, 2 if index == 1 else 0, night)

        for name in switches:
            got = b"".join(self.read("new", name + ".txt", day=day) for day in days
                           if os.path.exists(os.path.join(self.folder(day), "new", name + ".txt")))
            self.assertEqual(got, lines(delivered[name]), name)


class Limits(NightlyCase):
    def test_a_hung_terminal_is_stopped_at_the_time_limit_and_the_night_goes_on(self):
        slow = punches("E1", 40)
        after = punches("E2", 2)
        with Simulator("870", "--drip", "30", records=records(slow)) as hung, \
                Simulator("870", records=records(after)) as next_one:
            terminals = self.terminals("hung 870 %s -c\nnext 870 %s -c\n" % (hung.address(), next_one.address()))
            started = time.monotonic()
            job = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-j", "1", "-l", "3")
            try:
                # The day is taken while the job runs: a second job for it refuses to start.
                self.wait_for(lambda: os.path.exists(os.path.join(self.folder(), ".zq-nightly.lock")))
                second = self.nightly("-f", terminals, "-o", self.out, "-d", DAY)
                self.assertEqual(second.rc, 1, second)
                self.assertIn("another job (process ", second.err)
            finally:
                night = Night(job.wait(timeout=120))
            elapsed = time.monotonic() - started
        self.assertEqual(night.rc, 2, night)
        # Under Wine the stop request does not arrive (GenerateConsoleCtrlEvent fails there), so the
        # run is ended 15 s after it.
        self.assertLess(elapsed, 3 + (15 if WINE else 0) + 10)
        self.assertRegex(night.lines[0], r"^hung: stopped: the time limit of 3 s was reached, ")
        self.assertEqual(night.lines[1], "next: complete, 2 records, 2 new")
        (report,) = [t for t in self.report()["terminals"] if t["name"] == "hung"]
        self.assertEqual((report["outcome"], report["exitCode"], report["newFile"]), ("stopped", None, None))
        # Natively the run ends on its stop request and leaves its data file; a run ended outright
        # (Wine) leaves one only if the program had created it under its own name by then.
        if not WINE or report["dataFile"] is not None:
            self.assertEqual(report["dataFile"], "stopped/hung.txt")
            self.assertIn("kept as stopped/hung.txt", night.lines[0])
            self.assertWholeLinesOf(self.read("stopped", "hung.txt"), lines(slow))
        self.assertFalse(os.path.exists(os.path.join(self.folder(), "hung.txt")))
        self.assertNotIn(b"CLEARLOG", hung.received())

    def test_a_terminal_that_comes_up_for_the_second_attempt(self):
        port = harness.closed_loopback_port()
        stored = punches("F1", 2)
        terminals = self.terminals("late 870 127.0.0.1:%d -u -c\n" % port)
        job = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-r", "1", "-w", "1")
        try:
            # The first attempt has ended once its log is there; the terminal comes up in the wait.
            self.wait_for(lambda: os.path.exists(os.path.join(self.folder(), "logs", "late.log")))
            with Simulator("870", "--port", str(port), records=records(stored)) as late:
                night = Night(job.wait(timeout=60))
                self.assertRegex(late.received(), rb"^GETLOGDATASETTIME00\d{14}CLEARLOG$")
        finally:
            if job.process.poll() is None:
                job.wait(timeout=60)
        self.assertEqual(night.rc, 0, night)
        self.assertRegex(night.lines[0], r"^late: attempt 1 of 2 failed: Socket::connect\(\): .* / "
                         r"Can't connect to the terminal 870\.; next attempt in 1 s$")
        self.assertEqual(night.lines[1], "late: complete, 2 records, 2 new")
        (report,) = self.report()["terminals"]
        self.assertEqual((report["attempts"], report["exitCode"], report["outcome"]), (2, 0, "complete"))
        self.assertEqual(self.read("logs", "late.log").count(b"==== zq-nightly "), 2)


@unittest.skipIf(WINE, "signals to the job and stand-in programs are POSIX; Wine runs the job's own cases above")
class Stops(NightlyCase):
    def fake_program(self, body):
        """A shell script standing in for Zq-ReadUtility, which answers --version as it does."""
        path = os.path.join(self.work, "fake-program")
        with open(path, "w") as f:
            f.write('#!/bin/sh\n[ "$1" = --version ] && { echo "Zq-ReadUtility 0.0.0"; exit 0; }\n' + body)
        os.chmod(path, 0o755)
        return path

    def test_sigterm_stops_the_runs_writes_the_report_and_exits_2(self):
        slow = punches("A2", 40)
        with Simulator("870", "--drip", "30", records=records(slow)) as running, \
                Simulator("870", records=records(punches("A3", 1))) as waiting:
            terminals = self.terminals("running 870 %s -c\nwaiting 870 %s -c\n" % (running.address(),
                                                                                  waiting.address()))
            job = self.start("-f", terminals, "-o", self.out, "-d", DAY, "-j", "1")
            self.wait_for(lambda: running.received().startswith(b"GETLOGDATA"))
            time.sleep(0.5)
            stopped_at = time.monotonic()
            os.kill(job.pid, signal.SIGTERM)
            night = Night(job.wait(timeout=60))
        self.assertLess(time.monotonic() - stopped_at, 10)
        self.assertEqual(night.rc, 2, night)
        self.assertIn("stopped by SIGTERM", night.err)
        self.assertRegex(night.lines[0], r"^running: stopped: the job was stopped by SIGTERM, ended by signal 15")
        self.assertEqual(night.lines[1:], ["waiting: not-run: the job was stopped by SIGTERM first",
                                           "2026-01-31: 0 complete, 0 empty, 0 clock-not-set, 0 not-cleared, "
                                           "0 pending, 0 failed, 0 busy, 1 stopped (running), 0 skipped, "
                                           "0 invalid, 1 not-run (waiting); exit 2"])
        report = self.report()
        self.assertEqual((report["stoppedBy"], report["exitCode"]), ("SIGTERM", 2))
        self.assertEqual([(t["outcome"], t["attempts"], t["dataFile"]) for t in report["terminals"]],
                         [("stopped", 1, "stopped/running.txt"), ("not-run", 0, None)])
        self.assertWholeLinesOf(self.read("stopped", "running.txt"), lines(slow))
        self.assertEqual(waiting.received(), b"")
        self.assertNotIn(b"CLEARLOG", running.received())

    def test_a_stop_request_after_the_save_point_and_a_run_that_ignores_it(self):
        # "saved" has written its file when the limit comes: it skips the clearing and exits 3.
        # "deaf" ignores the request: it is ended 15 s later, and what it wrote is kept.
        fake = self.fake_program(
            'case $3 in\n'
            'saved.txt)\n'
            '  trap \'echo "Can\'"\'"\'t clean up the data."; exit 3\' TERM\n'
            '  printf "0012AB34\\t1\\t%s\\t08:00:00\\t00\\r\\n" "$TODAY" >saved.txt\n'
            '  echo \'Data file "saved.txt" written successfully.\'\n'
            '  echo "Date/time updated successfully." ;;\n'
            'deaf.txt)\n'
            '  trap "" TERM\n'
            '  printf "partial\\r\\n" >deaf.txt ;;\n'
            'esac\n'
            'while :; do sleep 0.1; done\n')
        today = datetime.date.today().strftime("%d.%m.%Y")
        terminals = self.terminals("saved 870 127.0.0.1:9 -u -c\ndeaf 870 127.0.0.2:9 -c\n")
        started = time.monotonic()
        night = self.nightly("-p", fake, "-f", terminals, "-o", self.out, "-d", DAY, "-l", "1",
                             env={"TODAY": today})
        self.assertGreater(time.monotonic() - started, 15)
        self.assertEqual(night.rc, 2, night)
        self.assertEqual(night.lines[0], "saved: not-cleared, 1 record, 1 new: Can't clean up the data.")
        self.assertEqual(night.lines[1], "deaf: stopped: the time limit of 1 s was reached, ended 15 s after its "
                                         "stop request; what it left in its data file is kept as stopped/deaf.txt")
        self.assertEqual(self.read("saved.txt"), ("0012AB34\t1\t%s\t08:00:00\t00\r\n" % today).encode())
        self.assertEqual(self.read("stopped", "deaf.txt"), b"partial\r\n")
        report = self.report()
        self.assertEqual([(t["outcome"], t["exitCode"]) for t in report["terminals"]],
                         [("not-cleared", 3), ("stopped", None)])
        self.assertIn("==== ended 15 s after its stop request", self.read("logs", "deaf.log").decode())

    def test_never_more_than_n_downloads_at_once_and_as_many_as_allowed(self):
        slots = os.path.join(self.work, "slots")
        os.mkdir(slots)
        fake = self.fake_program('mkdir "$SLOTS/$$"\nls "$SLOTS" | wc -l >>"$SLOTS.seen"\nsleep 1\n'
                                 'rmdir "$SLOTS/$$"\n: >"$3"\necho "Data file \\"$3\\" written successfully."\n')
        terminals = self.terminals("".join("t%d 870 127.0.0.1:%d\n" % (i, 1000 + i) for i in range(5)))
        night = self.nightly("-p", fake, "-f", terminals, "-o", self.out, "-j", "3", "-d", DAY,
                             env={"SLOTS": slots})
        self.assertEqual(night.rc, 0, night)
        self.assertEqual(sorted(night.lines[:-1]), ["t%d: empty, no records" % i for i in range(5)])
        with open(slots + ".seen") as f:
            self.assertEqual(max(int(n) for n in f.read().split()), 3)


class DryRun(NightlyCase):
    def test_dry_run_reads_the_file_as_the_job_does_and_touches_nothing(self):
        with Simulator("870", records=records(punches("A4", 1))) as sim:
            terminals = self.terminals(
                "good    870  127.0.0.1:%d -u -c\n"
                "again   QVK  127.000.000.001:%05d\n"
                "GOOD    735  127.0.0.2:1001\n"
                "serial  2210 7 -c -n1\n"
                "serial2 2210 07\n"
                "old     730  1\n"
                "done    870  127.0.0.3\n"
                "typo    870  127.0.0.1:99999\n"
                "hall.2  870  127.0.0.4\n" % (sim.port, sim.port))
            os.makedirs(self.folder())
            with open(os.path.join(self.folder(), "done.txt"), "wb"):
                pass
            night = self.nightly("-f", terminals, "-o", self.out, "-d", DAY, "-n", env={"ZQ_COMPORT_DIR": None})
            self.assertEqual(sim.received(), b"")
        self.assertEqual(night.rc, 2, night)
        program = host_path(os.path.join(os.path.dirname(harness.program("ZQ_NIGHTLY")),
                                         "Zq-ReadUtility.exe" if WINE else "Zq-ReadUtility"))
        work = host_path(os.path.join(self.folder(), ".work"))
        separator = "\\" if WINE else "/"
        # The port a 2210 line reaches, as the program will resolve it.
        device = "\\\\.\\COM7" if WINE else "/dev/ttyS6"
        self.assertEqual(night.lines, [
            "good: would run %s 870 127.0.0.1:%d good.txt -u -c -debug in %s%sgood" % (program, sim.port, work,
                                                                                       separator),
            "again: invalid: line 2: address 127.000.000.001:%05d reaches the terminal of line 1 (good)"
            % sim.port,
            "GOOD: invalid: line 3: name GOOD is used by line 1",
            "serial: would run %s 2210 7 serial.txt -c -n1 -debug in %s%sserial (COM7 is %s)"
            % (program, work, separator, device),
            "serial2: invalid: line 5: address 07 reaches the terminal of line 4 (serial)",
            "old: invalid: line 6: model 730: Zq-ReadUtility downloads nothing from it",
            "done: skipped: already complete",
            "typo: invalid: line 8: address 127.0.0.1:99999 is not an IPv4 address a.b.c.d or a.b.c.d:port",
            "hall.2: invalid: line 9: name hall.2 ends in a dot and a number, as the further downloads of a "
            "day are named",
            "2026-01-31: dry run: 2 to read, 1 skipped, 6 invalid lines",
        ])
        self.assertEqual(os.listdir(self.out), [DAY])
        self.assertEqual(os.listdir(self.folder()), ["done.txt"])

        night = self.nightly("-f", self.terminals("good 870 127.0.0.1:1\n"), "-o", self.out, "-d", DAY, "-n")
        self.assertEqual((night.rc, night.lines[-1]), (0, "2026-01-31: dry run: 1 to read, 0 skipped, 0 invalid lines"))
        if not WINE:
            # A TZ that names no zone would put the day folder in UTC without a word (Windows
            # takes its own zone and ignores TZ).
            night = self.nightly("-f", self.terminals("good 870 127.0.0.1:1\n"), "-o", self.out, "-n",
                                 env={"TZ": "Mars/Base"})
            self.assertEqual((night.rc, night.lines), (1, []), night)
            self.assertIn('TZ "Mars/Base" names no time zone', night.err)
        # A name that is not in the file is a typing error: nothing runs.
        night = self.nightly("-f", self.terminals("good 870 127.0.0.1:1\n"), "-o", self.out, "-d", DAY, "-t", "godo")
        self.assertEqual((night.rc, night.lines), (1, []), night)
        self.assertIn("-t godo: no such terminal", night.err)
        self.assertEqual(os.listdir(self.folder()), ["done.txt"])


if __name__ == "__main__":
    unittest.main()
