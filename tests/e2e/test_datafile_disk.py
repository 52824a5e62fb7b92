"""A data file that cannot be written completely fails the download, and the terminal keeps its
records: no clock setting, no clearing, and the next download still gets everything."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

COM = 11


def written(name):
    return 'Data file "%s" written successfully.\n' % name


def not_written(name):
    return 'Can\'t write data file "%s".\n' % name


@unittest.skipUnless(harness.simulator(), "the terminal simulator is not built")
class DataFileDiskTest(unittest.TestCase):
    def setUp(self):
        from simulator import Simulator
        self.Simulator = Simulator
        self.work = harness.WorkDir()
        self.addCleanup(self.work.__exit__, None, None, None)

    def run_zq(self, model, sim, data_file, *switches, rc=harness.DONE):
        env = {}
        if model == "2210":
            env = harness.com_port_env(COM, sim.pty, self.work.path)
            address = str(COM)
        else:
            address = sim.address()
        result = harness.run_program([model, address, data_file] + list(switches), cwd=self.work.path, env=env,
                                     timeout=300)
        self.assertEqual(result.rc, rc, result)
        self.assertEqual(result.stderr, b"")
        return result

    def line_count(self, name):
        with open(self.work.file(name), "rb") as f:
            data = f.read()
        self.assertTrue(data.endswith(b"\r\n"))
        return data.count(b"\r\n")

    def assertRecordsKept(self, model, sim, count):
        """A normal download afterwards still finds all `count` records."""
        result = self.run_zq(model, sim, "again.txt")
        self.assertEqual(result.text, written("again.txt"))
        self.assertEqual(self.line_count("again.txt"), count)

    def test_full_device_fails_the_download_in_every_family(self):
        # /dev/full takes the open and refuses every byte (Wine reaches it as Z:\dev\full).
        for model in ["870", "735", "2210"]:
            with self.subTest(model=model), self.Simulator(model, "--generate", "3") as sim:
                result = self.run_zq(model, sim, "/dev/full", "-u", "-c", rc=harness.NO_DATA_FILE)
                self.assertEqual(result.text, not_written("/dev/full"))
                self.assertEqual(sim.clock_lines(), [])
                self.assertRecordsKept(model, sim, 3)

    def mount_small_disk(self):
        """A 64 KiB tmpfs at small/ in the working directory (needs root, as CI has)."""
        path = self.work.file("small")
        os.mkdir(path)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", path],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here")
        self.addCleanup(subprocess.run, ["umount", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return "small/out.txt"

    def test_disk_that_fills_up_during_the_download(self):
        data_file = self.mount_small_disk()
        # About 35 bytes a line: 4000 records need twice the room there is.
        with self.Simulator("870", "--generate", "4000") as sim:
            result = self.run_zq("870", sim, data_file, "-u", "-c", rc=harness.NO_DATA_FILE)
            self.assertEqual(result.text, not_written(data_file))
            self.assertEqual(sim.clock_lines(), [])
            self.assertRecordsKept("870", sim, 4000)

    def test_download_that_fits_on_the_small_disk_is_saved_and_cleared(self):
        data_file = self.mount_small_disk()
        with self.Simulator("870", "--generate", "50") as sim:
            result = self.run_zq("870", sim, data_file, "-u", "-c")
            self.assertEqual(result.text, written(data_file) + "Date/time updated successfully.\n"
                             "Data cleared successfully.\n")
            self.assertEqual(self.line_count(data_file), 50)
            again = self.run_zq("870", sim, "again.txt")
            self.assertEqual(again.text, written("again.txt"))  # the terminal is empty now
            self.assertEqual(os.path.getsize(self.work.file("again.txt")), 0)


if __name__ == "__main__":
    unittest.main()
