"""Zq-ReadUtility against a simulated 735 terminal: framed one-letter requests, records, clock, erasing."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_WRITTEN, UPDATED, NOT_UPDATED, CLEARED, NOT_CLEARED, READ_TIMEOUT  # noqa: E402
from harness import NO_DATA_FILE, STEP_FAILED  # noqa: E402
from simulator import Simulator, close_to_now, sample_bytes  # noqa: E402



N = b"\x02N\r"
E = b"\x02E\r"


def fetch(count):
    """The requests of a download that fetched `count` records: D, N, then G for every index."""
    return b"\x02D00\r" + N + b"".join(b"\x02G%04X\r" % i for i in range(count))


def download(count):
    """A whole download of `count` records: N comes once more at the end, for records punched meanwhile."""
    return fetch(count) + N


SET_TIME = re.compile(rb"\x02S(\d{14})\r")


class Zq735Case(harness.RunCase):
    pass


class FullRun(Zq735Case):
    def test_download_update_clear_then_nothing_left(self):
        with Simulator("735", records=sample_bytes("zq735-records.txt")) as sim:
            run = self.zq("735", sim.address(), "out.txt", "-c", "-u", "-debug")
            self.assertEqual(run.lines, [WRITTEN, UPDATED, CLEARED])
            self.assertEqual(self.data_file(), sample_bytes("zq735-expected.txt"))
            received = sim.received()
            self.assertTrue(received.startswith(download(5)), received)
            rest = received[len(download(5)):]
            clock = SET_TIME.match(rest)
            self.assertIsNotNone(clock, rest)
            self.assertTrue(close_to_now(clock.group(1).decode(), "%Y%m%d%H%M%S"), clock.group(1))
            # The count once more right before the erasure: nothing punched since the download.
            self.assertEqual(rest[clock.end():], N + E)
            self.assertIsNotNone(sim.wait_for_line(lambda l: l.startswith("clock set to ")))
            self.assertEqual(self.log(info=True), harness.run_record(
                "Zq735", "TCPConnection::connect(): Connected to %s" % sim.address(), 5, sim.clock_lines()[0]))

            # An empty memory is a complete download of no records; the clock is still set.
            again = self.zq("735", sim.address(), "out.txt", "-debug", "-u")
            self.assertEqual(again.lines, [WRITTEN, UPDATED])
            self.assertEqual(self.data_file(), b"")
            self.assertIsNotNone(SET_TIME.fullmatch(sim.received()[len(received) + len(download(0)):]))
            self.assertEqual(self.log(), ["[WARNING] Zq735::dump(): No data for read"])

    def test_index_255_is_sent_as_00FF(self):
        with Simulator("735", "--generate", "257") as sim:
            run = self.zq("735", sim.address(), "out.txt")
            self.assertEqual(run.lines, [WRITTEN])
            self.assertEqual(sim.received(), download(257))
            self.assertIn(b"\x02G00FF\r\x02G0100\r", sim.received())
            lines = self.data_file().split(b"\r\n")
            self.assertEqual(len(lines), 258)
            self.assertEqual(lines[0], b"0001A2B3\t2\t01.01.2024\t08:00:00\t00")

    def test_records_punched_during_the_run_are_never_erased_unsaved(self):
        # Punched while record 1 of 3 is read: fetched after the last one, saved, then erased.
        with Simulator("735", "--generate", "3", "--punch", "G:1=1") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-c", "-debug")
            self.assertEqual(run.lines, [WRITTEN, CLEARED])
            self.assertEqual(sim.received(), fetch(3) + N + b"\x02G0003\r" + N + N + E)
            self.assertEqual(len(self.data_file().splitlines()), 4)
            self.assertIn("[INFO] Zq735::dump(): 1 records arrived during the download", self.log(info=True))
        # Punched while the clock is set, after the file was saved: no erasure, they come next time.
        with Simulator("735", "--generate", "3", "--punch", "S=1") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-u", "-c", "-debug", rc=STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, UPDATED, NOT_CLEARED])
            self.assertNotIn(E, sim.received())
            self.assertEqual(len(self.data_file().splitlines()), 3)
            self.assertEqual(self.log(), ["[WARNING] Zq735::reset(): 4 records stored, 3 saved: nothing is cleared",
                                          "[ERROR] Can't clean up the data"])

    def test_reply_split_over_segments_is_awaited(self):
        with Simulator("735", "--split", "3", "--pause", "40", records=sample_bytes("zq735-records.txt")) as sim:
            run = self.zq("735", sim.address(), "out.txt")
            self.assertEqual(run.lines, [WRITTEN])
            self.assertEqual(self.data_file(), sample_bytes("zq735-expected.txt"))


class Failures(Zq735Case):
    def test_error_reply_for_record_7_empties_the_file_and_clears_nothing(self):
        with Simulator("735", "--generate", "10", "--error", "G:7=06") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-u", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(sim.received(), fetch(8))
            self.assertEqual(self.log(), [
                "[ERROR] Zq735::cmd_g(): err => 6, Record number is out of range (requested record doesn't exist), "
                "RPL=02 4E 30 36 0D",
                "[ERROR] Zq735::dumpRecord(): Empty record",
                "[ERROR] Zq735::dump(): Can't get record 7",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 735 data"])

    def test_silent_count_costs_five_waits(self):
        with Simulator("735", "--generate", "3", "--silent", "N") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), fetch(0))
            self.assertEqual(self.log(), [READ_TIMEOUT] * 5 + [
                "[ERROR] Zq735::cmd_n(): Can't read terminal response",
                "[WARNING] Zq735::dump(): No data for read",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 735 data"])
            self.assertGreater(run.elapsed, 0.9)
            self.assertLess(run.elapsed, 8.0)

    def test_count_that_is_not_a_number_is_no_download(self):
        for count in ("xyz", "0x12", " 12"):
            with self.subTest(count=count), Simulator("735", "--generate", "3", "--count", count) as sim:
                run = self.zq("735", sim.address(), "out.txt", "-c", "-u", "-debug", rc=NO_DATA_FILE)
                self.assertEqual(run.lines, [NOT_WRITTEN])
                self.assertEqual(sim.received(), fetch(0))
                self.assertEqual(self.data_file(), b"")
                self.assertRegex(self.log()[0], r"^\[ERROR\] Zq735::cmd_n\(\): Invalid terminal response, RPL=02 41 ")
                self.assertEqual(self.log()[1], "[WARNING] Zq735::dump(): No data for read")

    def test_refused_designation(self):
        with Simulator("735", "--generate", "3", "--error", "D=09") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), b"\x02D00\r")
            self.assertEqual(self.log()[:2], [
                "[ERROR] Zq735::cmd_d(): err => 9, Command is denied by terminal (cannot process this command at "
                "the moment), RPL=02 4E 30 39 0D",
                "[ERROR] Zq735::dump(): Can't select designated terminal"])

    def test_failed_update_still_erases_and_failed_erase_is_reported(self):
        with Simulator("735", "--generate", "2", "--error", "S=04") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-u", "-c", "-debug", rc=STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, NOT_UPDATED, CLEARED])
            self.assertTrue(sim.received().endswith(b"\r" + N + E))
            self.assertEqual(self.log(), [
                "[ERROR] Zq735::cmd_s(): err => 4, Illegal (invalid) command (command code or data is wrong), "
                "RPL=02 4E 30 34 0D",
                "[ERROR] Can't update the date/time"])
        with Simulator("735", "--generate", "2", "--error", "E=07") as sim:
            run = self.zq("735", sim.address(), "out.txt", "-c", "-debug", rc=STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, NOT_CLEARED])
            self.assertEqual(sim.received(), download(2) + N + E)
            self.assertEqual(self.log(), [
                "[ERROR] Zq735::cmd_e(): err => 7, Command failed (hardware problem or invalid internal data), "
                "RPL=02 4E 30 37 0D",
                "[ERROR] Can't clean up the data"])


if __name__ == "__main__":
    unittest.main()
