"""Fault matrix: Zq-ReadUtility against terminals that drop the line at every byte of the first
exchanges of a download, answer with noise, never finish a reply, drip their bytes slowly, or stop
answering between the download and the clock and clearing steps.

Every run is `-u -c -debug`. For each case: the program ends by itself within the waits it is
given (a silent TCP peer costs five receive waits of 192 ms; a silent serial line 35 ms), prints
the expected console lines and ends with the exit code they stand for, writes the expected
debug-log chain and data file, and after a failed download never sets the clock or clears the
terminal.

Natively every offset runs, several cases at a time (each has its own simulator and working
directory); under Wine a representative subset runs, one case at a time (the COM port link of the
Wine prefix is shared). ZQ_FAULT_MATRIX=full runs every case under Wine too.
"""

import concurrent.futures
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_WRITTEN, UPDATED, NOT_UPDATED, CLEARED, NOT_CLEARED, READ_TIMEOUT  # noqa: E402
from simulator import Simulator, sample_bytes  # noqa: E402

NATIVE = harness.target() == "native"
EVERY_CASE = NATIVE or os.environ.get("ZQ_FAULT_MATRIX") == "full"
WORKERS = 6 if NATIVE else 1
COM = 7

SERIES = 5 * 0.192  # a TCP receive that gets nothing: five waits of 192 ms
START = 4.0 if NATIVE else 12.0  # start-up and the run's own work, generous (Wine starts slowly)

FULL_SUCCESS = [WRITTEN, UPDATED, CLEARED]

NOT_WRITTEN_LOG = '[ERROR] Can\'t write data file "out.txt" mode 0'
CLOCK_FAILED_LOG = "[ERROR] Can't update the date/time"
CLEAR_FAILED_LOG = "[ERROR] Can't clean up the data"


def out_of_step(operation):
    """A reply that never came (or came incomplete, or unasked) keeps the clearing from going out."""
    return ["[WARNING] %s(): The connection is out of step: no clearing request is sent" % operation,
            CLEAR_FAILED_LOG]


def dropped(operation):
    """Bytes that came unasked, dropped before the next request."""
    return re.compile(r"^\[WARNING\] %s\(\): Dropped \d+ bytes that came unasked: [0-9A-F ]+$" % re.escape(operation))
# The simulator's noise: 16 bytes of 0x80-0xFF (then CR for the framed families).
NOISE = r"(?:[89A-F][0-9A-F] ){15}[89A-F][0-9A-F]"


def failed_download_log(model):
    return [NOT_WRITTEN_LOG, "[ERROR] Can't update terminal %s data" % model]


def error_line(operation):
    """A reply the protocol leaves undefined (too short to judge): the command's own Error line."""
    return re.compile(r"^\[ERROR\] %s\(\): .+" % re.escape(operation))


def read_timeouts(low, high):
    """A log of nothing but read time-outs, between low and high of them: for runs whose gaps are
    timed by the terminal, where a scheduling hiccup may stretch a gap past one more wait."""
    def check(test, log):
        test.assertEqual([line for line in log if line != READ_TIMEOUT], [], log)
        test.assertTrue(low <= len(log) <= high, log)
    return check


def past_deadline(*lines):
    """A log of read time-outs (one per gap longer than a wait) and `lines`, which begin with the
    reply's deadline running out: a terminal that keeps dripping is no terminal that answers."""
    def check(test, log):
        test.assertEqual([line for line in log if line != READ_TIMEOUT], list(lines), log)
    return check


def sample_lines(name, count):
    return sample_bytes(name).splitlines(keepends=True)[:count]


class Case:
    """One run of the program against one faulty simulator, and what the written behaviour says of it."""

    def __init__(self, name, family, sim_args, console, log, data, received, model=None, records=None,
                 waits=0, min_elapsed=0.0, extra=0.0, clears=None):
        self.name = name
        self.family = family
        self.model = model or family
        self.sim_args = [str(a) for a in sim_args]
        self.records = records
        self.console = console
        self.log = log            # the whole debug log: exact texts or compiled patterns, or a check
        self.data = data          # the data file's bytes
        self.received = received  # the terminal's received bytes: exact, or a compiled pattern
        self.waits = waits        # TCP receives that run out their waits
        self.min_elapsed = min_elapsed
        self.extra = extra        # time the terminal itself takes (drips, pauses)
        # Did the terminal really clear its memory? Default: only when the run reports it.
        self.clears = (CLEARED in console) if clears is None else clears
        # The exit code the console lines stand for.
        if NOT_WRITTEN in console:
            self.rc = harness.NO_DATA_FILE
        elif NOT_UPDATED in console or NOT_CLEARED in console:
            self.rc = harness.STEP_FAILED
        else:
            self.rc = harness.DONE

    def bound(self):
        return START + 1.5 * (self.waits * SERIES + self.extra)

    def __repr__(self):
        return "%s %s %s" % (self.model, self.name, " ".join(self.sim_args))


class Outcome:
    pass


def _settled_received(sim, expected):
    """The simulator's received bytes once the program's last request has reached it."""
    deadline = time.monotonic() + 2.0
    last = sim.received()
    while time.monotonic() < deadline:
        if isinstance(expected, bytes) and last == expected:
            return last
        time.sleep(0.05)
        now = sim.received()
        if now == last and not isinstance(expected, bytes):
            return now
        last = now
    return last


def execute(case):
    out = Outcome()
    out.hung = False
    with harness.WorkDir(prefix="zq-fault-") as work:
        with Simulator(case.family, *case.sim_args, records=case.records) as sim:
            if case.family == "2210":
                env = harness.com_port_env(COM, sim.pty, work.path)
                address = str(COM)
            else:
                env = None
                address = sim.address()
            started = time.monotonic()
            try:
                result = harness.run_program([case.model, address, "out.txt", "-u", "-c", "-debug"],
                                             cwd=work.path, env=env, timeout=case.bound() + 30)
            except subprocess.TimeoutExpired:
                out.hung = True
                return out
            out.elapsed = time.monotonic() - started
            out.rc = result.rc
            out.stderr = result.stderr
            out.console = result.lines
            out.received = _settled_received(sim, case.received)
            # The simulator prints what it did before it replies; its output may still be on its way.
            out.cleared = sim.wait_for_line(lambda l: l.startswith("records cleared"),
                                            2.0 if case.clears else 0.1) is not None
            out.sim_lines = sim.lines()
        log_path = work.file("Zq-ReadUtility.log")
        out.log = harness.log_messages(log_path) if os.path.exists(log_path) else None
        data_path = work.file("out.txt")
        if os.path.exists(data_path):
            with open(data_path, "rb") as f:
                out.data = f.read()
        else:
            out.data = None
    return out


class FaultMatrix(unittest.TestCase):
    # Requests that must never reach the terminal after a failed download.
    FORBIDDEN = ()

    def run_cases(self, cases):
        started = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
            outcomes = list(pool.map(execute, cases))
        sys.stderr.write("  %d runs in %.1f s\n" % (len(cases), time.monotonic() - started))
        for case, outcome in zip(cases, outcomes):
            with self.subTest(case=repr(case)):
                self.check(case, outcome)

    def check(self, case, out):
        self.assertFalse(out.hung, "still running after %.1f s" % (case.bound() + 30))
        self.assertEqual(out.rc, case.rc)  # a signal would show as a negative code
        self.assertEqual(out.stderr, b"")
        self.assertEqual(out.console, case.console)
        self.assertLess(out.elapsed, case.bound())
        self.assertGreaterEqual(out.elapsed, case.min_elapsed)
        self.assertIsNotNone(out.log, "no debug log")
        if callable(case.log):
            case.log(self, out.log)
        else:
            self.assertEqual(len(out.log), len(case.log), out.log)
            for got, want in zip(out.log, case.log):
                if isinstance(want, str):
                    self.assertEqual(got, want, out.log)
                else:
                    self.assertRegex(got, want, out.log)
        self.assertEqual(out.data, case.data)
        if isinstance(case.received, bytes):
            self.assertEqual(out.received, case.received)
        else:
            self.assertIsNotNone(case.received.fullmatch(out.received), out.received)
        self.assertEqual(out.cleared, case.clears, out.sim_lines)
        if NOT_WRITTEN in case.console:
            for request in self.FORBIDDEN:
                self.assertNotIn(request, out.received)
            self.assertFalse([l for l in out.sim_lines if l.startswith("clock set")], out.sim_lines)


def pick(items, subset, key=lambda item: item):
    """Every item natively; under Wine those whose key is in `subset`."""
    return list(items) if EVERY_CASE else [item for item in items if key(item) in subset]


# ---------------------------------------------------------------------------------------------
# 870 / QVK: GETLOGDATA -> 4 count bytes, 26-byte records; SETTIME / CLEARLOG -> OK

R870 = sample_lines("zq870-records.txt", 3)
E870 = sample_lines("zq870-expected.txt", 3)
RECORDS_870 = b"".join(R870)
FULL_870 = re.compile(rb"GETLOGDATASETTIME00\d{14}CLEARLOG")
# The clearing is never sent after the clock's reply went missing or stray bytes came.
NO_CLEAR_870 = re.compile(rb"GETLOGDATASETTIME00\d{14}")
STREAM_870 = 4 + 26 * len(R870)


def expect_870_break(n, model):
    """The stream ends (peer closed) after n bytes: complete records stay, then the read fails."""
    kept = 0 if n < 4 else (n - 4) // 26
    log = ["[ERROR] Zq870::dump(): Can't read terminal response"] + failed_download_log(model)
    return log, b"".join(E870[:kept])


class Zq870Faults(FaultMatrix):
    FORBIDDEN = (b"SETTIME", b"CLEARLOG")

    def case(self, name, sim_args, console, log, data, received=FULL_870, records=RECORDS_870, **kw):
        return Case(name, "870", sim_args, console, log, data, received, records=records, **kw)

    def test_connection_closed_after_every_offset_of_count_and_first_two_records(self):
        cases = []
        for n in pick(range(0, 4 + 2 * 26 + 1), {0, 1, 3, 4, 17, 30, 56}):
            model = "QVK" if n % 2 else "870"
            log, data = expect_870_break(n, model)
            cases.append(Case("close after %d" % n, "870", ["--close-after", n], [NOT_WRITTEN], log, data,
                              b"GETLOGDATA", model=model, records=RECORDS_870))
        self.run_cases(cases)

    def test_line_silent_after_offsets(self):
        # The peer stays connected but sends nothing more. A receive that got part of what it
        # asked for returns it once its waits run out, and the record is asked for again.
        cases = []
        for n, series in pick([(2, 1), (4, 1), (17, 2), (30, 1), (43, 2)], {17, 30}, key=lambda c: c[0]):
            log, data = expect_870_break(n, "870")
            cases.append(self.case("silent after %d" % n, ["--hangup-after", n], [NOT_WRITTEN],
                                   [READ_TIMEOUT] * 5 * series + log, data, b"GETLOGDATA",
                                   waits=series, min_elapsed=0.9 * series * SERIES))
        self.run_cases(cases)

    def test_garbage_and_unfinished_replies(self):
        cases = [
            # Noise as the count announces more than 2^31 records, of which 12 bytes arrive.
            self.case("garbage GETLOGDATA", ["--garbage", "GETLOGDATA"], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 10 + expect_870_break(0, "870")[0], b"", b"GETLOGDATA", waits=2),
            # A reply without OK or NO is waited for until the waits run out, then judged; its end may
            # still come, so the clearing is not sent after it.
            self.case("garbage SETTIME", ["--garbage", "SETTIME"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + ["[ERROR] Zq870::updateDateTime(): Can't update date/time",
                                            CLOCK_FAILED_LOG] + out_of_step("Zq870::reset"), b"".join(E870),
                      NO_CLEAR_870, waits=1, model="QVK"),
            self.case("garbage CLEARLOG", ["--garbage", "CLEARLOG"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + ["[ERROR] Zq870::reset(): Can't clean up data", CLEAR_FAILED_LOG],
                      b"".join(E870), waits=1, clears=False),
            # The OK never comes: the reply breaks off before it.
            self.case("OK never comes", ["--reply", "SETTIME=SETTIME_O"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + ["[ERROR] Zq870::updateDateTime(): Can't update date/time",
                                            CLOCK_FAILED_LOG] + out_of_step("Zq870::reset"),
                      b"".join(E870), NO_CLEAR_870, waits=1),
        ]
        if not EVERY_CASE:
            cases = cases[:2]
        self.run_cases(cases)

    def test_terminal_stops_answering_between_download_and_clear(self):
        # The clock's reply never came: it may still come and be taken for the clearing's answer.
        silent_log = ([READ_TIMEOUT] * 5 + ["[ERROR] Zq870::updateDateTime(): Can't read terminal response",
                                            CLOCK_FAILED_LOG] + out_of_step("Zq870::reset"))
        cases = [
            self.case("silent SETTIME and CLEARLOG", ["--silent", "SETTIME", "--silent", "CLEARLOG"],
                      [WRITTEN, NOT_UPDATED, NOT_CLEARED], silent_log, b"".join(E870), NO_CLEAR_870,
                      waits=1, min_elapsed=0.9 * SERIES),
            self.case("silent after the download", ["--hangup-after", STREAM_870],
                      [WRITTEN, NOT_UPDATED, NOT_CLEARED], silent_log, b"".join(E870), NO_CLEAR_870,
                      waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[1:])

    def test_replies_that_belong_to_no_request(self):
        data = b"".join(E870)
        cases = [
            # The whole download twice: the second copy waits when the clock is set, and is dropped.
            self.case("duplicate GETLOGDATA", ["--duplicate", "GETLOGDATA"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [dropped("Zq870::updateDateTime")] + out_of_step("Zq870::reset"), data, NO_CLEAR_870),
            # One record more than announced: never cleared unsaved.
            self.case("one record more than announced", ["--count", 2, "--send-all"],
                      [WRITTEN, UPDATED, NOT_CLEARED],
                      [dropped("Zq870::updateDateTime")] + out_of_step("Zq870::reset"), b"".join(E870[:2]),
                      NO_CLEAR_870),
            # The clock's reply comes after the waits: the clearing is not sent for it to answer.
            self.case("late SETTIME", ["--late", "SETTIME=1500"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + ["[ERROR] Zq870::updateDateTime(): Can't read terminal response",
                                            CLOCK_FAILED_LOG] + out_of_step("Zq870::reset"), data, NO_CLEAR_870,
                      waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[:1])

    def test_connection_closed_between_download_and_clear(self):
        # Whether the second request already fails to send depends on when the peer's reset
        # arrives; either way the clearing fails with a line of its own and nothing hangs.
        case = self.case("close after the download", ["--close-after", STREAM_870],
                         [WRITTEN, NOT_UPDATED, NOT_CLEARED], [], b"".join(E870), b"GETLOGDATA")
        out = execute(case)
        self.assertFalse(out.hung)
        self.assertEqual((out.rc, out.console, out.data), (harness.STEP_FAILED, case.console, case.data))
        self.assertLess(out.elapsed, case.bound())
        self.assertRegex(out.log[0], r"^\[ERROR\] Zq870::updateDateTime\(\): Can't (read terminal response|send)")
        self.assertEqual(out.log[-3:], [CLOCK_FAILED_LOG] + out_of_step("Zq870::reset"))

    def test_slow_terminal(self):
        one = R870[0]
        cases = [
            # One byte every 150 ms stays inside a single 192 ms wait.
            self.case("drip 150 ms", ["--drip", 150], FULL_SUCCESS, read_timeouts(0, 4), E870[0], records=one,
                      extra=0.15 * (30 + 2 + 2), min_elapsed=0.15 * 29),
            # Gaps longer than one wait but shorter than the five of a receive are waited out,
            # three time-outs each (3 x 192 < 670 < 4 x 192).
            self.case("gaps of 670 ms", ["--split", 13, "--pause", 670], FULL_SUCCESS, read_timeouts(6, 8),
                      E870[0], records=one, extra=1.4, min_elapsed=1.34),
            # Slower than a whole series of waits: one count byte is all there is.
            self.case("drip 1200 ms", ["--drip", 1200], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 5 + expect_870_break(0, "870")[0], b"", b"GETLOGDATA", records=one,
                      waits=1, min_elapsed=0.9 * SERIES),
            # A gap longer than two series inside a record: the record is given up.
            self.case("gap of 2500 ms in a record", ["--split", 10, "--pause", 2500], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 10 + expect_870_break(0, "870")[0], b"", b"GETLOGDATA", records=one,
                      waits=2, min_elapsed=0.9 * 2 * SERIES),
            # One byte every 250 ms: each record would take 6.5 s, past its whole wait of 5 s.
            self.case("drip 250 ms, past a record's deadline", ["--drip", 250], [NOT_WRITTEN],
                      past_deadline("[ERROR] Socket::recvTimeout(): Reply not complete within 5000 msec",
                                    *expect_870_break(4, "870")[0]), b"", b"GETLOGDATA", records=one,
                      extra=1.0 + 5.0, min_elapsed=0.25 * 3 + 4.9),
            # Between two records a new record is asked for, and one series of waits with nothing
            # at all ends the download: the first record stays.
            self.case("gap of 1500 ms between records", ["--split", 30, "--pause", 1500], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 5 + expect_870_break(30, "870")[0], E870[0], b"GETLOGDATA",
                      records=b"".join(R870[:2]), waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[:1])


# ---------------------------------------------------------------------------------------------
# 735: STX letter args CR; replies STX A data [check] CR; D, N, G per record, S, E

R735 = sample_lines("zq735-records.txt", 3)
E735 = sample_lines("zq735-expected.txt", 3)
REC735 = [r.rstrip(b"\r\n") for r in R735]
D735 = b"\x02D00\r"
N735 = b"\x02N\r"


def g735(i):
    return b"\x02G%04X\r" % i


# The download, N once more for records punched meanwhile, the clock, N again right before E, E.
DOWNLOAD_REQUESTS_735 = D735 + N735 + b"".join(g735(i) for i in range(3)) + N735
FULL_735 = re.compile(re.escape(DOWNLOAD_REQUESTS_735) + rb"\x02S\d{14}\r\x02N\r\x02E\r")
NO_CLEAR_735 = re.compile(re.escape(DOWNLOAD_REQUESTS_735) + rb"\x02S\d{14}\r")
# Reply sizes: D "STX A 00 CR"; N "STX A hhhh cc CR"; G "STX A record cc CR".
REPLIES_735 = [5, 9] + [len(r) + 5 for r in REC735]
REQUESTS_735 = [D735, N735] + [g735(i) for i in range(3)]
DOWNLOAD_735 = sum(REPLIES_735) + 9


def expect_735_break(n):
    """The connection closes after n reply bytes: (log, received). A cut selection reply is judged
    on what arrived; a cut count or record is refused (its CR never came); the next request gets
    nothing."""
    fail = failed_download_log("735")
    at = 0
    for index, size in enumerate(REPLIES_735):
        if n < at + size:
            break
        at += size
    got = n - at  # bytes of reply `index` that arrived
    # The simulator closes as soon as its budget is spent: a request sent after that is lost,
    # unless nothing at all was sent yet (the close then answers the first request).
    received = b"".join(REQUESTS_735[:index + 1 if got > 0 or index == 0 else index])
    if index == 0:
        if got >= 4:  # "STX A 0 0": the data "0" selects the terminal; N then gets nothing
            return ["[ERROR] Zq735::cmd_n(): Can't read terminal response",
                    "[WARNING] Zq735::dump(): No data for read"] + fail, received
        own = {0: ["[ERROR] Zq735::cmd_d(): Can't read terminal response"], 3: []}.get(got, [error_line("Zq735::cmd_d")])
        return own + ["[ERROR] Zq735::dump(): Can't select designated terminal"] + fail, received
    if index == 1:
        own = [error_line("Zq735::cmd_n")] if got else ["[ERROR] Zq735::cmd_n(): Can't read terminal response"]
        return own + ["[WARNING] Zq735::dump(): No data for read"] + fail, received
    record = index - 2
    own = [error_line("Zq735::cmd_g")] if got else ["[ERROR] Zq735::cmd_g(): Can't read terminal response"]
    return own + ["[ERROR] Zq735::dumpRecord(): Empty record",
                  "[ERROR] Zq735::dump(): Can't get record %d" % record] + fail, received


class Zq735Faults(FaultMatrix):
    FORBIDDEN = (b"\x02S", b"\x02E")

    def case(self, name, sim_args, console, log, data, received=FULL_735, records=None, **kw):
        return Case(name, "735", sim_args, console, log, data, received,
                    records=b"".join(R735) if records is None else records, **kw)

    def test_connection_closed_after_every_offset_of_d_n_and_two_records(self):
        last = sum(REPLIES_735[:4])
        cases = []
        for n in pick(range(0, last + 1), {0, 3, 4, 10, 14, 19, 20, 52, last}):
            log, received = expect_735_break(n)
            cases.append(self.case("close after %d" % n, ["--close-after", n], [NOT_WRITTEN], log, b"", received))
        self.run_cases(cases)

    def test_line_silent_after_offsets(self):
        # Each reply is cut by silence instead of a close: one series of waits for the cut reply
        # when part of it arrived, and one for the next request.
        cases = []
        for n, series, log in pick([
            (4, 2, [READ_TIMEOUT] * 10 + ["[ERROR] Zq735::cmd_n(): Can't read terminal response",
                                          "[WARNING] Zq735::dump(): No data for read"]),
            (14, 1, [READ_TIMEOUT] * 5 + ["[ERROR] Zq735::cmd_g(): Can't read terminal response",
                                          "[ERROR] Zq735::dumpRecord(): Empty record",
                                          "[ERROR] Zq735::dump(): Can't get record 0"]),
            # Part of the first record arrived and then silence: its CR never came, it is refused.
            (20, 1, [READ_TIMEOUT] * 5 + [error_line("Zq735::cmd_g"),
                                          "[ERROR] Zq735::dumpRecord(): Empty record",
                                          "[ERROR] Zq735::dump(): Can't get record 0"]),
        ], {20}, key=lambda c: c[0]):
            received = b"".join(REQUESTS_735[:{4: 2, 14: 3, 20: 3}[n]])
            cases.append(self.case("silent after %d" % n, ["--hangup-after", n], [NOT_WRITTEN],
                                   log + failed_download_log("735"), b"", received,
                                   waits=series, min_elapsed=0.9 * series * SERIES))
        self.run_cases(cases)

    def test_garbage_replies(self):
        def err(op):
            return re.compile(r"^\[ERROR\] Zq735::%s\(\): err => 0, , RPL=%s 0D$" % (op, NOISE))
        fail = failed_download_log("735")
        cases = [
            self.case("garbage D", ["--garbage", "D"], [NOT_WRITTEN],
                      [err("cmd_d"), "[ERROR] Zq735::dump(): Can't select designated terminal"] + fail, b"", D735),
            self.case("garbage N", ["--garbage", "N"], [NOT_WRITTEN],
                      [err("cmd_n"), "[WARNING] Zq735::dump(): No data for read"] + fail, b"", D735 + N735),
            self.case("garbage G:1", ["--garbage", "G:1"], [NOT_WRITTEN],
                      [err("cmd_g"), "[ERROR] Zq735::dumpRecord(): Empty record",
                       "[ERROR] Zq735::dump(): Can't get record 1"] + fail, b"",
                      D735 + N735 + g735(0) + g735(1)),
            self.case("garbage S", ["--garbage", "S"], [WRITTEN, NOT_UPDATED, CLEARED],
                      [err("cmd_s"), CLOCK_FAILED_LOG], b"".join(E735)),
            self.case("garbage E", ["--garbage", "E"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [err("cmd_e"), CLEAR_FAILED_LOG], b"".join(E735), clears=False),
        ]
        self.run_cases(cases if EVERY_CASE else cases[2:3])

    def test_replies_without_their_end(self):
        # A reply without CR is judged on what arrived once the waits run out. A selection
        # carries nothing to lose; a count or a record cut short is refused, so that a digit or
        # a character taken for the end byte never reaches the file before the terminal is cleared.
        cases = [
            # "STX A 0 0": the data "0" still selects the terminal and the download succeeds, a series
            # later; but the CR may still come, so nothing is cleared on this connection.
            self.case("no end D", ["--no-end", "D"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + out_of_step("Zq735::reset"), b"".join(E735), NO_CLEAR_735, waits=1),
            self.case("no end N", ["--no-end", "N"], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 5 + [error_line("Zq735::cmd_n"), "[WARNING] Zq735::dump(): No data for read"]
                      + failed_download_log("735"), b"", D735 + N735, waits=1),
            self.case("no end G:0", ["--no-end", "G:0"], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 5 + [error_line("Zq735::cmd_g"), "[ERROR] Zq735::dumpRecord(): Empty record",
                                            "[ERROR] Zq735::dump(): Can't get record 0"] + failed_download_log("735"),
                      b"", D735 + N735 + g735(0), waits=1),
        ]
        self.run_cases(cases if EVERY_CASE else cases[1:2])

    def test_terminal_stops_answering_between_download_and_clear(self):
        # The clock's reply never came: nothing more is asked, nothing cleared.
        silent_log = ([READ_TIMEOUT] * 5 + ["[ERROR] Zq735::cmd_s(): Can't read terminal response", CLOCK_FAILED_LOG]
                      + out_of_step("Zq735::reset"))
        cases = [
            self.case("silent S and E", ["--silent", "S", "--silent", "E"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      silent_log, b"".join(E735), NO_CLEAR_735, waits=1, min_elapsed=0.9 * SERIES),
            self.case("silent after the download", ["--hangup-after", DOWNLOAD_735],
                      [WRITTEN, NOT_UPDATED, NOT_CLEARED], silent_log, b"".join(E735), NO_CLEAR_735,
                      waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[1:])

    def test_replies_that_belong_to_no_request(self):
        data = b"".join(E735)
        cases = [
            # Record 1's reply twice in one write: the reply ends at its own CR, the copy is dropped
            # before the next request, and the file holds each record once.
            self.case("duplicate G:1", ["--duplicate", "G:1"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [dropped("Zq735::cmd_g")] + out_of_step("Zq735::reset"), data, NO_CLEAR_735),
            # The clock's reply comes after the waits: no N, no E is sent for it to answer.
            self.case("late S", ["--late", "S=1500"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      [READ_TIMEOUT] * 5 + ["[ERROR] Zq735::cmd_s(): Can't read terminal response",
                                            CLOCK_FAILED_LOG] + out_of_step("Zq735::reset"), data, NO_CLEAR_735,
                      waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[:1])

    def test_slow_terminal(self):
        one = R735[0]
        fail = failed_download_log("735")
        cases = [
            self.case("drip 100 ms", ["--drip", 100], FULL_SUCCESS, read_timeouts(0, 4), E735[0],
                      re.compile(re.escape(D735 + N735 + g735(0) + N735) + rb"\x02S\d{14}\r\x02N\r\x02E\r"),
                      records=one, extra=0.1 * (5 + 9 + len(REC735[0]) + 5 + 9 + 3 + 9 + 3),
                      min_elapsed=0.1 * 70),
            # A record that drips on past the reply's whole time (5 s) is no reply, however steady.
            self.case("drip 200 ms", ["--drip", 200], [NOT_WRITTEN],
                      lambda test, log: test.assertEqual(
                          [line for line in log if line != READ_TIMEOUT],
                          ["[ERROR] Socket::recvTimeout(): Reply not complete within 5000 msec",
                           "[ERROR] Zq735::cmd_g(): Can't read terminal response",
                           "[ERROR] Zq735::dumpRecord(): Empty record", "[ERROR] Zq735::dump(): Can't get record 0"]
                          + fail, log),
                      b"", D735 + N735 + g735(0), records=one, extra=0.2 * (5 + 9) + 5.0,
                      min_elapsed=0.2 * (4 + 8) + 4.9),
            # Slower than a whole series of waits: the first byte of D's reply is all there is.
            self.case("drip 1200 ms", ["--drip", 1200], [NOT_WRITTEN],
                      [READ_TIMEOUT] * 5 + [error_line("Zq735::cmd_d"),
                                            "[ERROR] Zq735::dump(): Can't select designated terminal"] + fail,
                      b"", D735, records=one, waits=1, min_elapsed=0.9 * SERIES),
        ]
        self.run_cases(cases if EVERY_CASE else cases[1:])


# ---------------------------------------------------------------------------------------------
# 2210 on a serial line: STX "11" letters args CR; replies STX "11" code data CR; a reply ends
# at its CR or at 35 ms of silence

R2210 = sample_lines("zq2210-records.txt", 3)
E2210 = sample_lines("zq2210-expected.txt", 3)
REC2210 = [r.rstrip(b"\r\n") for r in R2210]


def req(command, args=b""):
    return b"\x02" + b"11" + command + args + b"\r"


LI, LO, RA, RN, RH, RI = (req(c) for c in (b"LI", b"LO", b"RA", b"RN", b"RH", b"RI"))


def rg(index):
    return req(b"RG", b"%d" % index)


DOWNLOAD_REQUESTS = LI + RA + RN + b"".join(rg(i) + RH for i in range(3)) + LO
DOWNLOAD_REPLIES = 5 + 5 + 6 + sum(5 + len(r) + 5 for r in REC2210) + 5
DATE = rb'\x0211IS"DATE"00\d\d-\d\d-\d{4}\r'
TIME = rb'\x0211IS"TIME"00\d\d:\d\d:\d\d\r'
# The clearing dialogue asks the count before it clears.
CLEARING_2210 = LI + RN + RI + LO
FULL_2210 = re.compile(re.escape(DOWNLOAD_REQUESTS + LI) + DATE + TIME + re.escape(LO + CLEARING_2210))


def expect_2210_break(n):
    """The line goes silent after n reply bytes: (log, received). A reply of four bytes has its
    code "A"; only the count and the record need the data and the CR after it."""
    fail = failed_download_log("2210")
    lo = "[ERROR] Zq2210::cmd_lo(): Can't read terminal response"
    read = "[ERROR] Zq2210::%s(): Can't read terminal response"
    rg0 = 5 + len(REC2210[0])
    if n < 4:
        own = [read % "cmd_li"] if n == 0 else [error_line("Zq2210::cmd_li")]
        return own + ["[ERROR] Zq2210::dump(): Can't log in the terminal"] + fail, LI
    if n < 9:  # log-in accepted; RA gets nothing or too little
        own = [read % "cmd_ra"] if n in (4, 5) else [error_line("Zq2210::cmd_ra")]
        return own + ["[ERROR] Zq2210::dump(): Can't close read transaction", lo] + fail, LI + RA + LO
    if n < 16:  # RA accepted; the count gets nothing, or is cut before its CR
        own = {9: [read % "cmd_rn"], 10: [read % "cmd_rn"]}.get(n, [error_line("Zq2210::cmd_rn")])
        return own + [lo, "[WARNING] Zq2210::dump(): No data for read"] + fail, LI + RA + RN + LO
    got = n - 16  # bytes of the first record's reply
    if got < rg0:  # nothing, or cut before its CR
        own = [read % "cmd_rg"] if got == 0 else [error_line("Zq2210::cmd_rg")]
        return own + ["[ERROR] Zq2210::dumpRecord(): Empty record", lo,
                      "[ERROR] Zq2210::dump(): Can't get record 0"] + fail, LI + RA + RN + rg(0) + LO
    # The record is written; RH's failure does not stop the download.
    got = n - 16 - rg0  # bytes of RH's reply
    own = [read % "cmd_rh"] if got <= 0 else [error_line("Zq2210::cmd_rh")] if got < 4 else []
    return own + [read % "cmd_rg", "[ERROR] Zq2210::dumpRecord(): Empty record", lo,
                  "[ERROR] Zq2210::dump(): Can't get record 1"] + fail, LI + RA + RN + rg(0) + RH + rg(1) + LO


class Zq2210Faults(FaultMatrix):
    FORBIDDEN = (b"11IS", b"11RI")

    def case(self, name, sim_args, console, log, data, received=FULL_2210, records=None, **kw):
        return Case(name, "2210", sim_args, console, log, data, received,
                    records=b"".join(R2210) if records is None else records, **kw)

    def test_line_silent_after_every_offset_of_li_ra_rn_rg0_rh(self):
        last = 16 + 5 + len(REC2210[0]) + 5
        cases = []
        for n in pick(range(0, last + 1), {0, 4, 9, 15, 16, 21, 22, last}):
            log, received = expect_2210_break(n)
            cases.append(self.case("silent after %d" % n, ["--hangup-after", n], [NOT_WRITTEN], log, b"", received))
        self.run_cases(cases)

    def test_garbage_replies(self):
        def err(op):
            return re.compile(r"^\[ERROR\] Zq2210::%s\(\): err => [89A-F][0-9A-F]H, , RPL=%s 0D$" % (op, NOISE))
        fail = failed_download_log("2210")
        data = b"".join(E2210)
        cases = [
            self.case("garbage LI", ["--garbage", "LI"], [NOT_WRITTEN],
                      [err("cmd_li"), "[ERROR] Zq2210::dump(): Can't log in the terminal"] + fail, b"", LI),
            self.case("garbage RA", ["--garbage", "RA"], [NOT_WRITTEN],
                      [err("cmd_ra"), "[ERROR] Zq2210::dump(): Can't close read transaction"] + fail, b"",
                      LI + RA + LO),
            self.case("garbage RN", ["--garbage", "RN"], [NOT_WRITTEN],
                      [err("cmd_rn"), "[WARNING] Zq2210::dump(): No data for read"] + fail, b"", LI + RA + RN + LO),
            self.case("garbage RG:1", ["--garbage", "RG:1"], [NOT_WRITTEN],
                      [err("cmd_rg"), "[ERROR] Zq2210::dumpRecord(): Empty record",
                       "[ERROR] Zq2210::dump(): Can't get record 1"] + fail, b"",
                      LI + RA + RN + rg(0) + RH + rg(1) + LO),
            # A failed RH does not stop the download.
            self.case("garbage RH", ["--garbage", "RH"], FULL_SUCCESS, [err("cmd_rh")] * 3, data),
            self.case("garbage IS", ["--garbage", "IS"], [WRITTEN, NOT_UPDATED, CLEARED],
                      [err("cmd_is"), CLOCK_FAILED_LOG], data,
                      re.compile(re.escape(DOWNLOAD_REQUESTS + LI) + DATE + re.escape(LO + CLEARING_2210))),
            self.case("garbage RI", ["--garbage", "RI"], [WRITTEN, UPDATED, NOT_CLEARED],
                      [err("cmd_ri"), CLEAR_FAILED_LOG], data, clears=False),
        ]
        self.run_cases(cases if EVERY_CASE else cases[3:4])

    def test_replies_without_their_end(self):
        cases = [
            # "STX 1 1 A": the code is there, log-in needs nothing more.
            self.case("no end LI", ["--no-end", "LI"], FULL_SUCCESS, [], b"".join(E2210)),
            # A count or a record cut short is refused: its last digit would be taken for the end byte.
            self.case("no end RN", ["--no-end", "RN"], [NOT_WRITTEN],
                      [error_line("Zq2210::cmd_rn"), "[WARNING] Zq2210::dump(): No data for read"]
                      + failed_download_log("2210"), b"", LI + RA + RN + LO),
            self.case("no end RG:0", ["--no-end", "RG:0"], [NOT_WRITTEN],
                      [error_line("Zq2210::cmd_rg"), "[ERROR] Zq2210::dumpRecord(): Empty record",
                       "[ERROR] Zq2210::dump(): Can't get record 0"] + failed_download_log("2210"), b"",
                      LI + RA + RN + rg(0) + LO),
        ]
        self.run_cases(cases if EVERY_CASE else cases[1:2])

    def test_terminal_stops_answering_between_download_and_clear(self):
        cases = [
            # The line is dead from the clock's log-in on: no log-out follows a failed log-in, and a
            # reply that never came keeps the clearing dialogue from starting.
            self.case("silent after the download", ["--hangup-after", DOWNLOAD_REPLIES],
                      [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      ["[ERROR] Zq2210::cmd_li(): Can't read terminal response",
                       "[ERROR] Zq2210::updateDateTime(): Can't log in the terminal", CLOCK_FAILED_LOG]
                      + out_of_step("Zq2210::reset"), b"".join(E2210), DOWNLOAD_REQUESTS + LI),
            self.case("silent IS and RI", ["--silent", "IS", "--silent", "RI"], [WRITTEN, NOT_UPDATED, NOT_CLEARED],
                      ["[ERROR] Zq2210::cmd_is(): Can't read terminal response", CLOCK_FAILED_LOG]
                      + out_of_step("Zq2210::reset"), b"".join(E2210),
                      re.compile(re.escape(DOWNLOAD_REQUESTS + LI) + DATE + re.escape(LO))),
        ]
        self.run_cases(cases if EVERY_CASE else cases[:1])

    def test_slow_terminal(self):
        cases = [
            # Slower than the line's 35 ms: the log-in reply ends after its first byte.
            self.case("drip 150 ms", ["--drip", 150], [NOT_WRITTEN],
                      [error_line("Zq2210::cmd_li"), "[ERROR] Zq2210::dump(): Can't log in the terminal"]
                      + failed_download_log("2210"), b"", LI),
        ]
        if EVERY_CASE:
            # Well inside 35 ms between bytes: a slow line, but every reply is whole.
            cases.append(self.case("drip 3 ms", ["--drip", 3], FULL_SUCCESS, [], b"".join(E2210)))
        self.run_cases(cases)


if __name__ == "__main__":
    unittest.main()
