"""Zq-ReadUtility against a simulated 870/QVK terminal: what it sends, what it writes, what it prints."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_WRITTEN, UPDATED, NOT_UPDATED, CLEARED, NOT_CLEARED, READ_TIMEOUT  # noqa: E402
from harness import NO_DATA_FILE, STEP_FAILED  # noqa: E402
from simulator import Simulator, close_to_now, sample_bytes, sample_path  # noqa: E402

FULL_RUN = re.compile(rb"GETLOGDATASETTIME00(\d{14})CLEARLOG")


class Zq870Case(harness.RunCase):
    pass


class FullRun(Zq870Case):
    def check_full_run(self, model, switches):
        with Simulator("870", records=sample_bytes("zq870-records.txt")) as sim:
            run = self.zq(model, sim.address(), "out.txt", "-debug", *switches)
            self.assertEqual(run.lines, [WRITTEN, UPDATED, CLEARED])
            self.assertEqual(run.stdout, harness.expected_console_bytes(WRITTEN + "\n" + UPDATED + "\n" + CLEARED + "\n"))
            # Byte-identical whichever build wrote it, CR LF line ends.
            self.assertEqual(self.data_file(), sample_bytes("zq870-expected.txt"))
            sent = FULL_RUN.fullmatch(sim.received())
            self.assertIsNotNone(sent, sim.received())
            self.assertTrue(close_to_now(sent.group(1).decode(), "%Y%m%d%H%M%S"), sent.group(1))
            clock = sim.wait_for_line(lambda l: l.startswith("clock set to "))
            self.assertIsNotNone(clock)
            # The debug log records the run: where, how many records, which clock value, cleared.
            self.assertEqual(self.log(info=True), harness.run_record(
                "Zq870", "TCPConnection::connect(): Connected to %s" % sim.address(),
                sample_bytes("zq870-expected.txt").count(b"\r\n"), sim.clock_lines()[0]))

            # The terminal's memory really was cleared: the next download finds nothing, which
            # is a complete download of no records.
            again = self.zq(model, sim.address(), "out.txt")
            self.assertEqual(again.lines, [WRITTEN])
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(sim.received()[len(sent.group(0)):], b"GETLOGDATA")

    def test_870_update_then_clear_in_either_switch_order(self):
        self.check_full_run("870", ["-u", "-c"])
        self.check_full_run("870", ["-c", "-u"])

    def test_qvk_is_driven_like_the_870(self):
        self.check_full_run("QVK", ["-c", "-u", "-n0"])

    def test_card_number_formats(self):
        # The second card is two characters padded with zero bytes: it ends at its first zero
        # before it is converted, in every mode.
        records = b"00A1B2C3 02024013108150000\n12\0\0\0\0\0\0 12024013108160000\n"
        line = b"\t%d\t31.01.2024\t08:1%d:00\t00\r\n"
        with Simulator("870", records=records) as sim:
            for switch, cards in (("-n1", (b"0161178195", b"00018")), ("-n2", (b"00A1B2C3", b"00000012")),
                                  ("-n0", (b"00A1B2C3", b"12"))):
                with self.subTest(switch=switch):
                    self.zq("870", sim.address(), "out.txt", switch)
                    self.assertEqual(self.data_file(), cards[0] + line % (1, 5) + cards[1] + line % (2, 6))
            self.assertEqual(sim.received(), b"GETLOGDATA" * 3)


    @unittest.skipUnless(harness.target() == "native", "only a POSIX program is killed by a closed pipe")
    def test_output_nobody_reads_does_not_stop_the_run(self):
        # A nightly script's pipe that went away: the clock and the clearing still follow.
        with Simulator("870", "--generate", "2") as sim:
            reader, writer = os.pipe()
            os.close(reader)
            try:
                proc = subprocess.run([harness.program(), "870", sim.address(), "out.txt", "-u", "-c"],
                                      cwd=self.dir, stdin=subprocess.DEVNULL, stdout=writer,
                                      stderr=subprocess.PIPE, timeout=60)
            finally:
                os.close(writer)
            self.assertEqual((proc.returncode, proc.stderr), (harness.DONE, b""))
            self.assertIsNotNone(FULL_RUN.fullmatch(sim.received()), sim.received())
            self.assertIsNotNone(sim.wait_for_line(lambda l: l.startswith("records cleared")))
            self.assertEqual(len(self.data_file().split(b"\r\n")), 3)

class FailedDownload(Zq870Case):
    def test_silent_terminal_costs_five_waits_and_nothing_else_is_sent(self):
        with Simulator("870", "--silent", "GETLOGDATA", "--generate", "3") as sim:
            run = self.zq("870", sim.address(), "out.txt", "-u", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(sim.received(), b"GETLOGDATA")
            self.assertEqual(self.data_file(), b"")
            self.assertEqual(self.log(), [READ_TIMEOUT] * 5 + [
                "[ERROR] Zq870::dump(): Can't read terminal response",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 870 data"])
            self.assertRegex(self.full_log()[5], r"^\[ERROR\] Zq870::dump\(\): Can't read terminal response at Zq\\Zq870:\d+$")
            # About 5 x 192 ms of waiting (the program's start-up comes on top, more so under Wine).
            self.assertGreater(run.elapsed, 0.9)
            self.assertLess(run.elapsed, 8.0)

    def test_empty_memory_is_a_complete_download_and_the_clock_is_still_set(self):
        with Simulator("870") as sim:
            with open(os.path.join(self.dir, "out.txt"), "wb") as old:
                old.write(b"yesterday's records\r\n")
            run = self.zq("870", sim.address(), "out.txt", "-c", "-u", "-debug")
            self.assertEqual(run.lines, [WRITTEN, UPDATED, CLEARED])
            self.assertEqual(self.data_file(), b"")
            # No records, nothing to clear: a count misread as 0 must never empty a full memory.
            self.assertRegex(sim.received(), rb"^GETLOGDATASETTIME00\d{14}$")
            self.assertEqual(self.log(), ["[WARNING] Zq870::dump(): No data for read"])
            self.assertIn("[INFO] Zq870::reset(): Nothing to clear", self.log(info=True))

    def test_stream_ending_after_one_and_a_half_of_three_records_keeps_the_first_line(self):
        # 4 count bytes + 26 + 13: the second record breaks off and the connection closes.
        with Simulator("870", "--close-after", "43", records=sample_bytes("zq870-records.txt")[:27 * 3]) as sim:
            run = self.zq("870", sim.address(), "out.txt", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(self.data_file(), sample_bytes("zq870-expected.txt").split(b"\r\n")[0] + b"\r\n")
            self.assertEqual(sim.received(), b"GETLOGDATA")
            self.assertEqual(self.log(), [
                "[ERROR] Zq870::dump(): Can't read terminal response",
                '[ERROR] Can\'t write data file "out.txt" mode 0',
                "[ERROR] Can't update terminal 870 data"])

    def test_announced_count_of_ffffffff_reads_until_the_stream_stops(self):
        with Simulator("870", "--count", "0xFFFFFFFF", "--generate", "2") as sim:
            run = self.zq("870", sim.address(), "out.txt", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(len(self.data_file().split(b"\r\n")), 3)  # two lines and the empty rest
            self.assertEqual(sim.received(), b"GETLOGDATA")
            self.assertEqual(self.log()[-3], "[ERROR] Zq870::dump(): Can't read terminal response")
        # A flood of bytes that are no records: the first time stamp that is not one ends it.
        with Simulator("870", "--count", "0xFFFFFFFF", records=(b"X" * 26 + b"\n") * 2000) as sim:
            run = self.zq("870", sim.address(), "out.txt", "-c", "-debug", rc=NO_DATA_FILE)
            self.assertEqual(run.lines, [NOT_WRITTEN])
            self.assertEqual(self.data_file(), b"")
            errors = [line for line in self.log() if line.startswith("[ERROR]")]
            self.assertEqual(errors[:2], ["[ERROR] Zq870::dumpRecord(): Invalid date/time, RPL=" +
                                              " ".join(["58"] * 26), "[ERROR] Zq870::dump(): Can't write record[1]"])

    def test_records_split_over_segments_are_assembled(self):
        with Simulator("870", "--split", "10,16", "--pause", "30", records=sample_bytes("zq870-records.txt")) as sim:
            run = self.zq("870", sim.address(), "out.txt")
            self.assertEqual(run.lines, [WRITTEN])
            self.assertEqual(self.data_file(), sample_bytes("zq870-expected.txt"))


class ClockAndClearReplies(Zq870Case):
    def run_with(self, *faults, rc=harness.DONE):
        with Simulator("870", "--generate", "2", *faults) as sim:
            run = self.zq("870", sim.address(), "out.txt", "-u", "-c", "-debug", rc=rc)
            self.assertIsNotNone(FULL_RUN.fullmatch(sim.received()), sim.received())
            return run

    def test_failed_update_still_clears(self):
        run = self.run_with("--error", "SETTIME", rc=STEP_FAILED)
        self.assertEqual(run.lines, [WRITTEN, NOT_UPDATED, CLEARED])
        self.assertEqual(self.log(), ["[ERROR] Zq870::updateDateTime(): Can't update date/time",
                                      "[ERROR] Can't update the date/time"])

    def test_positive_replies(self):
        for faults in ([], ["--reply", "CLEARLOG=OKAY"], ["--reply", "CLEARLOG=CLEARLOG_OK"],
                       ["--reply", "CLEARLOG=CLEAR|LOG_OK", "--pause", "60"], ["--reply", "SETTIME=SETTIME_OK"]):
            with self.subTest(faults=faults):
                run = self.run_with(*faults)
                self.assertEqual(run.lines, [WRITTEN, UPDATED, CLEARED])
                self.assertEqual(self.log(), [])

    def test_negative_clear_replies(self):
        for faults in (["--error", "CLEARLOG"], ["--reply", "CLEARLOG=CLEARLOG_NO"]):
            with self.subTest(faults=faults):
                run = self.run_with(*faults, rc=STEP_FAILED)
                self.assertEqual(run.lines, [WRITTEN, UPDATED, NOT_CLEARED])
                self.assertEqual(self.log(), ["[ERROR] Zq870::reset(): Can't clean up data",
                                              "[ERROR] Can't clean up the data"])


if __name__ == "__main__":
    unittest.main()
