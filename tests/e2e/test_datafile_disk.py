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

    def test_path_that_is_no_regular_file_is_refused_before_the_terminal_is_contacted(self):
        # A device (Wine reaches /dev/full as Z:\dev\full), a directory, a FIFO: none can hold
        # the records, and none is replaced or written through.
        os.mkdir(self.work.file("folder"))
        paths = ["/dev/full", "folder"]
        if harness.target() == "native":
            os.mkfifo(self.work.file("fifo"))
            paths.append("fifo")
        for model, path in zip(["870", "735", "2210"] * 2, paths):
            with self.subTest(model=model, path=path), self.Simulator(model, "--generate", "3") as sim:
                result = self.run_zq(model, sim, path, "-u", "-c", rc=harness.NO_DATA_FILE)
                self.assertEqual(result.text, not_written(path))
                self.assertEqual(sim.received(), b"")
                self.assertRecordsKept(model, sim, 3)
        self.assertTrue(os.path.isdir(self.work.file("folder")))
        self.assertFalse(os.path.isfile("/dev/full"))

    def test_fields_with_control_characters_keep_the_columns(self):
        # A TAB or an LF inside a field would shift the columns or make up a line: each is a space.
        cases = [
            ("870", [], b"00\tAB\rCD 02024013123595900\n", b"00 AB CD\t1\t31.01.2024\t23:59:59\t00\r\n",
             "Zq870::dumpRecord(): Record 1"),
            ("735", [], b"12,00\tA1,0,2024/01/31,08:15:00\n", b"00 A1\t2\t31.01.2024\t08:15:00\t00\r\n",
             "Zq735::dumpRecord(): Record 0"),
            ("2210", ["--reply", "RG:0=\\x0211A1\\t05-01-2026\\t07:58\\n12\\tX00A1\\t3\\r"], b"1\tx\tx\tx\t1\n",
             b"00A1\t1\t05.01.2026\t07:58 12\t03\r\n", "Zq2210::dumpRecord(): Record 0"),
        ]
        for model, options, records, line, warning in cases:
            with self.subTest(model=model), self.Simulator(model, *options, records=records) as sim:
                result = self.run_zq(model, sim, "out.txt", "-debug")
                self.assertEqual(result.text, written("out.txt"))
                with open(self.work.file("out.txt"), "rb") as f:
                    self.assertEqual(f.read(), line)
                self.assertIn("[WARNING] %s: a TAB, CR or LF in a field is written as a space" % warning,
                              harness.log_messages(self.work.file("Zq-ReadUtility.log")))

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
