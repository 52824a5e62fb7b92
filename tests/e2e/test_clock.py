"""The clock that -u sends: the local time of the PC's time zone, and never a made-up one."""

import datetime
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_UPDATED, CLEARED  # noqa: E402
from simulator import Simulator  # noqa: E402

FULL_RUN = re.compile(rb"GETLOGDATASETTIME00(\d{14})CLEARLOG")
COM = 7


class Clock(harness.RunCase):
    def test_clock_is_the_local_time_of_the_time_zone(self):
        # Moscow keeps UTC+3 all year. The .exe reads the system's local time, which Wine takes
        # from TZ; the Linux program's C library follows TZ itself. A zone name and a POSIX rule
        # both give Moscow time.
        for zone in ("Europe/Moscow", "MSK-3"):
            with self.subTest(zone=zone), Simulator("870", "--generate", "1") as sim:
                self.zq("870", sim.address(), "out.txt", "-u", "-c", env={"TZ": zone})
                sent = FULL_RUN.fullmatch(sim.received())
                self.assertIsNotNone(sent, sim.received())
                moscow = datetime.datetime.utcnow() + datetime.timedelta(hours=3)
                stamp = datetime.datetime.strptime(sent.group(1).decode(), "%Y%m%d%H%M%S")
                self.assertLess(abs((stamp - moscow).total_seconds()), 60, (stamp, moscow))

    @unittest.skipUnless(harness.target() == "native", "TZ is the C library's; Windows keeps its own zone")
    def test_zone_that_names_nothing_sets_no_clock(self):
        # A mistyped zone would be taken as UTC without a word: -u is refused instead.
        with Simulator("870", "--generate", "1") as sim:
            run = self.zq("870", sim.address(), "out.txt", "-u", "-c", "-debug", env={"TZ": "Europe/Moskow"},
                          rc=harness.STEP_FAILED)
            self.assertEqual(run.lines, [WRITTEN, NOT_UPDATED, CLEARED])
            self.assertNotIn(b"SETTIME", sim.received())
            self.assertEqual(self.log()[0], '[ERROR] localTime(): TZ "Europe/Moskow" names no time zone: the C '
                                            "library would take UTC")

    @unittest.skipUnless(harness.target() == "native" and os.environ.get("ZQ_UNREADABLE_CLOCK"),
                         "the failing clock is preloaded into the native program only")
    def test_clock_that_cannot_be_read_is_never_sent(self):
        env = {"LD_PRELOAD": os.environ["ZQ_UNREADABLE_CLOCK"],
               "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
        prepare = {"870": "Zq870::updateDateTime(): Can't prepare command <SETTIME>",
                   "735": "Zq735::updateDateTime(): Can't prepare the date/time value",
                   "2210": "Zq2210::updateDateTime(): Can't prepare the date value for the command"}
        clock_request = {"870": b"SETTIME", "735": b"\x02S", "2210": b"11IS"}
        for model in ("870", "735", "2210"):
            with self.subTest(model=model), Simulator(model, "--generate", "2") as sim:
                if model == "2210":
                    address = str(COM)
                    env.update(harness.com_port_env(COM, sim.pty, self.dir))
                else:
                    address = sim.address()
                run = self.zq(model, address, "out.txt", "-u", "-c", "-debug", env=env, rc=harness.STEP_FAILED)
                self.assertEqual(run.lines, [WRITTEN, NOT_UPDATED, CLEARED])
                self.assertNotIn(clock_request[model], sim.received())
                self.assertEqual(sim.clock_lines(), [])
                self.assertEqual(self.log(), ["[ERROR] " + prepare[model], "[ERROR] Can't update the date/time"])
                self.assertIsNotNone(sim.wait_for_line(lambda l: l.startswith("records cleared")))


if __name__ == "__main__":
    unittest.main()
