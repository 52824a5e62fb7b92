"""Runs that are stopped (SIGINT, SIGTERM, SIGHUP; under Wine the .exe gets Ctrl+C), killed or started
with their standard descriptors closed: the data file under its own name is only ever empty, complete
or as it was, and a stop that comes once the file is saved never ends the run by a signal."""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import WRITTEN, NOT_WRITTEN, UPDATED, CLEARED, NOT_CLEARED  # noqa: E402
from simulator import Simulator  # noqa: E402

NATIVE = harness.target() == "native"
# What the calling shell sees of a Windows process that ended on Ctrl+C (0xC000013A), as Wine
# hands it on: the low byte.
INTERRUPTED_EXE = 0xC000013A & 0xFF


class Run:
    """The program started in the background (harness.start_program: the .exe in a pseudo-terminal)."""

    def __init__(self, case, args, env=None):
        self.address = args[1]
        self.started = harness.start_program(args, cwd=case.dir, env=env)

    def stop(self, signal_number):
        """Sends the stop request to the program itself (under Wine: the .exe's own process)."""
        if NATIVE:
            os.kill(self.started.pid, signal_number)
            return
        # The .exe's own process: its command line begins with the .exe (script's and the shell's
        # begin with their own names).
        pattern = r"^\S*Zq-ReadUtility\.exe \S+ %s " % self.address.replace(".", r"\.")
        found = subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True).stdout.split()
        for pid in found:
            os.kill(int(pid), signal_number)

    def finish(self, timeout=30):
        """(exit code, console lines) once the run has ended."""
        result = self.started.wait(timeout)
        return result.rc, result.lines


def wait_for(sim, request, timeout=15.0):
    deadline = time.monotonic() + timeout
    while request not in sim.received():
        if time.monotonic() > deadline:
            raise AssertionError("the terminal never got %r: %r" % (request, sim.received()))
        time.sleep(0.02)


class StopRequests(harness.RunCase):
    def start(self, sim, *switches):
        return Run(self, ["870", sim.address(), "out.txt", "-debug"] + list(switches))

    def interrupted(self, signal_number):
        return -signal_number if NATIVE else INTERRUPTED_EXE

    def test_stop_before_the_file_is_saved_ends_the_run_as_interrupted(self):
        signals = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP] if NATIVE else [signal.SIGINT]
        for number in signals:
            with self.subTest(signal=number), Simulator("870", "--generate", "3", "--drip", "100") as sim:
                with open(os.path.join(self.dir, "out.txt"), "wb") as old:
                    old.write(b"yesterday\r\n")
                run = self.start(sim, "-u", "-c")
                wait_for(sim, b"GETLOGDATA")
                time.sleep(0.3)
                run.stop(number)
                rc, console = run.finish()
                self.assertEqual(rc, self.interrupted(number))
                self.assertEqual(console, [NOT_WRITTEN])
                # As any failed download leaves it: empty, not half a line, not yesterday's.
                self.assertEqual(self.data_file(), b"")
                self.assertEqual(sorted(os.listdir(self.dir)), ["Zq-ReadUtility.log", "out.txt"])
                self.assertEqual(sim.received(), b"GETLOGDATA")
                self.assertIn("[WARNING] Socket::canRead(): Stop requested", self.log())

    def test_stop_during_the_clearing_lets_it_finish(self):
        with Simulator("870", "--generate", "3", "--late", "CLEARLOG=600") as sim:
            run = self.start(sim, "-u", "-c")
            wait_for(sim, b"CLEARLOG")
            run.stop(signal.SIGINT if not NATIVE else signal.SIGTERM)
            rc, console = run.finish()
            self.assertEqual(rc, harness.DONE)
            self.assertEqual(console, [WRITTEN, UPDATED, CLEARED])
            self.assertEqual(len(self.data_file().splitlines()), 3)
            self.assertIsNotNone(sim.wait_for_line(lambda l: l.startswith("records cleared")))

    def test_stop_during_the_clock_leaves_out_the_clearing(self):
        with Simulator("870", "--generate", "3", "--late", "SETTIME=600") as sim:
            run = self.start(sim, "-u", "-c")
            wait_for(sim, b"SETTIME")
            run.stop(signal.SIGINT if not NATIVE else signal.SIGHUP)
            rc, console = run.finish()
            self.assertEqual(rc, harness.STEP_FAILED)
            self.assertEqual(console, [WRITTEN, UPDATED, NOT_CLEARED])
            self.assertNotIn(b"CLEARLOG", sim.received())
            self.assertIn("[WARNING] Application::updateTerminalData(): Stop requested: the records are not cleared",
                          self.log())


@unittest.skipUnless(NATIVE, "signals and descriptors of the native program")
class KilledAndClosed(harness.RunCase):
    def test_killed_run_never_leaves_a_torn_file_and_its_leftover_goes_next_time(self):
        with Simulator("735", "--generate", "40", "--drip", "2") as sim:
            with open(os.path.join(self.dir, "out.txt"), "wb") as old:
                old.write(b"yesterday\r\n")
            run = Run(self, ["735", sim.address(), "out.txt"])
            wait_for(sim, b"\x02G0005\r")
            run.stop(signal.SIGKILL)
            run.finish()
            self.assertEqual(self.data_file(), b"yesterday\r\n")
            temporary = os.path.join(self.dir, ".out.txt.zq-tmp")
            self.assertTrue(os.path.exists(temporary))
        with Simulator("735", "--generate", "2") as sim:
            self.zq("735", sim.address(), "out.txt")
            self.assertEqual(len(self.data_file().splitlines()), 2)
            self.assertFalse(os.path.exists(temporary))

    def test_closed_standard_descriptors_never_reach_the_terminal(self):
        # Started with 0, 1 and 2 closed, the socket would take descriptor 1 and the console lines
        # would go to the terminal; on the null device they go nowhere.
        with Simulator("870", "--generate", "2") as sim:
            process = subprocess.run([harness.program(), "870", sim.address(), "out.txt", "-u", "-c"], cwd=self.dir,
                                     preexec_fn=lambda: [os.close(fd) for fd in (0, 1, 2)], timeout=60)
            self.assertEqual(process.returncode, harness.DONE)
            self.assertRegex(sim.received(), rb"^GETLOGDATASETTIME00\d{14}CLEARLOG$")
            self.assertEqual(len(self.data_file().splitlines()), 2)


if __name__ == "__main__":
    unittest.main()
