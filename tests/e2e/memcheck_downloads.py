"""One whole run per terminal family (download, clock, clearing, with the debug log) of the native
program under valgrind's memcheck: no invalid access, no use of uninitialised memory, no leak."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from simulator import Simulator, sample_bytes  # noqa: E402

MEMCHECK = ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect,possible", "--show-leak-kinds=definite,indirect,possible"]
CONSOLE = ['Data file "out.txt" written successfully.', "Date/time updated successfully.",
           "Data cleared successfully."]


class MemcheckDownloads(unittest.TestCase):
    def run_under_memcheck(self, args, env=None):
        with harness.WorkDir() as work:
            run_env = dict(os.environ)
            run_env.update(env or {})
            proc = subprocess.run(MEMCHECK + [harness.program()] + args + ["out.txt", "-u", "-c", "-debug"],
                                  cwd=work.path, env=run_env, capture_output=True, timeout=300)
            report = proc.stderr.decode(errors="replace")
            self.assertEqual(proc.returncode, 0, report)
            self.assertIn("ERROR SUMMARY: 0 errors", report)
            self.assertEqual(proc.stdout.decode().splitlines(), CONSOLE)
            with open(work.file("out.txt"), "rb") as f:
                return f.read()

    def test_870(self):
        with Simulator("870", records=sample_bytes("zq870-records.txt")) as sim:
            data = self.run_under_memcheck(["870", sim.address()])
        self.assertEqual(data, sample_bytes("zq870-expected.txt"))

    def test_735(self):
        with Simulator("735", records=sample_bytes("zq735-records.txt")) as sim:
            data = self.run_under_memcheck(["735", sim.address()])
        self.assertEqual(data, sample_bytes("zq735-expected.txt"))

    def test_2210(self):
        with Simulator("2210", records=sample_bytes("zq2210-records.txt")) as sim, harness.WorkDir() as ports:
            env = harness.com_port_env(7, sim.pty, ports.path)
            data = self.run_under_memcheck(["2210", "7"], env=env)
        self.assertEqual(data, sample_bytes("zq2210-expected.txt"))


if __name__ == "__main__":
    unittest.main()
