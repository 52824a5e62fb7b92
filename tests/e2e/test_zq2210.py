"""Zq-ReadUtility against a simulated 2210 terminal on a pseudo-terminal reached as COM7."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_WRITTEN, UPDATED, NOT_UPDATED, CLEARED, NOT_CLEARED, NO_DATA_FILE, STEP_FAILED  # noqa: E402
from simulator import Simulator, close_to_now, sample_bytes  # noqa: E402

COM = 7


def req(command, args=b""):
    return b"\x02" + b"11" + command + args + b"\r"


LI, LO, RA, RN, RH, RI = (req(c) for c in (b"LI", b"LO", b"RA", b"RN", b"RH", b"RI"))


def rg(index):
    return req(b"RG", b"%d" % index)


def download(count):
    return LI + RA + RN + b"".join(rg(i) + RH for i in range(count)) + LO


CLOCK = re.compile(rb'\x0211IS"DATE"00(\d\d-\d\d-\d{4})\r\x0211IS"TIME"00(\d\d:\d\d:\d\d)\r')


class Zq2210Case(harness.RunCase):
    def zq(self, sim, *switches, rc=harness.DONE):
        return super().zq("2210", str(COM), "out.txt", *switches, env=harness.com_port_env(COM, sim.pty, self.dir), rc=rc)


class FullRun(Zq2210Case):
    def test_download_update_clear_then_nothing_left(self):
        with Simulator("2210", records=sample_bytes("zq2210-records.txt")) as sim:
            run = self.zq(sim, "-c", "-u", "-debug")
            self.assertEqual(run.lines, [WRITTEN, UPDATED, CLEARED])
            self.assertEqual(self.data_file(), sample_bytes("zq2210-expected.txt"))
            received = sim.received()
            self.assertTrue(received.startswith(download(5)), received)
            rest = received[len(download(5)):]
            self.assertTrue(rest.startswith(LI), rest)
            clock = CLOCK.match(rest, len(LI))
            self.assertIsNotNone(clock, rest)
            self.assertEqual(len(clock.group(0)), 24 + 22)
            stamp = (clock.group(1) + b" " + clock.group(2)).decode()
            self.assertTrue(close_to_now(stamp, "%d-%m-%Y %H:%M:%S"), stamp)
            # The clearing asks the count first: only what the download saved is cleared.
            self.assertEqual(rest[clock.end():], LO + LI + RN + RI + LO)
            self.assertIsNotNone(sim.wait_for_line(lambda l: l.startswith("clock set to ")))
            self.assertEqual(self.log(info=True), harness.run_record(
                "Zq2210", "COMConnection::connect(): Opened serial port COM7 at 38400 bps", 5, sim.clock_lines()[0]))

            # An empty memory is a complete download of no records; the clock is still set.
            again = self.zq(sim, "-debug", "-u")
            self.assertEqual(again.lines, [WRITTEN, UPDATED])
            self.assertEqual(self.data_file(), b"")
            rest = sim.received()[len(received):]
            self.assertTrue(rest.startswith(download(0) + LI), rest)
            self.assertIsNotNone(CLOCK.fullmatch(rest, len(download(0) + LI), len(rest) - len(LO)), rest)
            self.assertEqual(self.log(), ["[WARNING] Zq2210::dump(): No data for read"])

    def test_refused_record_confirmation_does_not_stop_the_download(self):
        with Simulator("2210", "--generate", "3", "--error", "RH=F") as sim:
            run = self.zq(sim, "-debug")
            self.assertEqual(run.lines, [WRITTEN])
            self.assertEqual(sim.received(), download(3))
            self.assertEqual(self.data_file(), b"0012AB34\t1\t01.01.2024\t08:00:00\t00\r\n"
                                               b"0012CA23\t2\t01.01.2024\t08:01:01\t01\r\n"
                                               b"0012E912\t3\t01.01.2024\t08:02:02\t02\r\n")
            self.assertEqual(self.log(), ["[ERROR] Zq2210::cmd_rh(): err => 46H, Command execution failed, "
                                          "RPL=02 31 31 46 0D"] * 3)


class Failures(Zq2210Case):
    def test_refused_log_in_sends_nothing_more(self):
        with Simulator("2210", "--generate", "3", "--error", "LI=D") as sim:
            run = self.zq(sim, "-u", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), LI)
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(self.log(), [
                "[ERROR] Zq2210::cmd_li(): err => 44H, Access denied, RPL=02 31 31 44 0D",
                "[ERROR] Zq2210::dump(): Can't log in the terminal",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 2210 data"])

    def test_refused_read_transaction(self):
        with Simulator("2210", "--generate", "3", "--error", "RA=B") as sim:
            run = self.zq(sim, "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), LI + RA + LO)
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(self.log()[:2], [
                "[ERROR] Zq2210::cmd_ra(): err => 42H, Busy, RPL=02 31 31 42 0D",
                "[ERROR] Zq2210::dump(): Can't close read transaction"])

    def test_count_that_is_not_a_number_is_no_download(self):
        for count, data in (("abc", "61 62 63"), ("-1", "2D 31"), (" 2", "20 32")):
            with self.subTest(count=count), Simulator("2210", "--generate", "2", "--count", count) as sim:
                run = self.zq(sim, "-u", "-c", "-debug", rc=NO_DATA_FILE)
                self.assertEqual(run.lines, [NOT_WRITTEN])
                self.assertEqual(sim.received(), LI + RA + RN + LO)
                self.assertEqual(self.data_file(), b"")
                self.assertEqual(self.log(), [
                    "[ERROR] Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 %s 0D" % data,
                    "[WARNING] Zq2210::dump(): No data for read",
                    '[ERROR] Can\'t write data file "out.txt" mode 0',
                    "[ERROR] Can't update terminal 2210 data"])

    def test_failure_at_record_2_of_5_empties_the_file(self):
        with Simulator("2210", "--generate", "5", "--error", "RG:2=N") as sim:
            run = self.zq(sim, "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), LI + RA + RN + rg(0) + RH + rg(1) + RH + rg(2) + LO)
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(self.log(), [
                "[ERROR] Zq2210::cmd_rg(): err => 4EH, Command is not applicable or data not available, "
                "RPL=02 31 31 4E 0D",
                "[ERROR] Zq2210::dumpRecord(): Empty record",
                "[ERROR] Zq2210::dump(): Can't get record 2",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 2210 data"])

    def test_rejected_date_sends_no_time_and_still_clears(self):
        with Simulator("2210", "--generate", "1", "--error", "IS:DATE=C") as sim:
            run = self.zq(sim, "-u", "-c", "-debug", rc=STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, NOT_UPDATED, CLEARED])
            received = sim.received()
            self.assertTrue(received.startswith(download(1) + LI + b'\x0211IS"DATE"00'), received)
            self.assertTrue(received.endswith(b"\r" + LO + LI + RN + RI + LO), received)
            self.assertNotIn(b"TIME", received)
            self.assertEqual(self.log(), ["[ERROR] Zq2210::cmd_is(): err => 43H, Check error, RPL=02 31 31 43 0D",
                                          "[ERROR] Can't update the date/time"])

    def test_records_punched_during_the_download_are_not_cleared(self):
        # A record arrives while record 1 of 2 is read: the count before the clearing tells.
        with Simulator("2210", "--generate", "2", "--punch", "RG:1=1") as sim:
            run = self.zq(sim, "-c", "-debug", rc=STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, NOT_CLEARED])
            self.assertEqual(sim.received(), download(2) + LI + RN + LO)
            self.assertEqual(len(self.data_file().splitlines()), 2)
            self.assertEqual(self.log(), ["[WARNING] Zq2210::reset(): 3 records stored, 2 saved: nothing is cleared",
                                          "[ERROR] Can't clean up the data"])

    def test_reply_without_cr_is_judged_when_the_line_falls_silent(self):
        with Simulator("2210", "--generate", "2", "--no-end", "RN") as sim:
            # The count reply "<STX>11A2" has no end byte: reading it would lose its last digit.
            run = self.zq(sim, "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), LI + RA + RN + LO)


if __name__ == "__main__":
    unittest.main()
