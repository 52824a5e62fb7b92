"""The debug log seen from outside: where it goes, when it exists, what a line looks like."""

import datetime
import errno
import os
import re
import shutil
import socket
import subprocess
import threading
import time
import unittest

import harness

LOG = "Zq-ReadUtility.log"
# The weekday abbreviations of the locale each build runs in: the Windows build sets
# Russian_Russia.1251, the native one takes the environment's (the tests pass LC_ALL=C).
WEEKDAYS = {
    "native": ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"],
    "wine": ["пн", "вт", "ср", "чт", "пт", "сб", "вс"],
}
LINE = re.compile(r"^\[(?P<weekday>[^,\]]+), (?P<day>\d\d)\.(?P<month>\d\d)\.(?P<year>\d{4}) "
                  r"(?P<h>\d\d):(?P<m>\d\d):(?P<s>\d\d)\] \[(?P<level>ERROR|WARNING|INFO)\] (?P<message>.*) "
                  r"at (?P<source>[A-Za-z0-9\\-]+):(?P<line>\d+)$")


class HangUpPeer:
    """A loopback listener that accepts connections and closes them at once."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.accepted = 0
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.accepted += 1
            connection.close()

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(5)


class LogTest(unittest.TestCase):
    def setUp(self):
        self.work = harness.WorkDir()
        self.addCleanup(self.work.__exit__, None, None, None)

    def run_program(self, *args, **kwargs):
        env = dict(kwargs.pop("env", None) or {})
        env.setdefault("LC_ALL", "C")
        return harness.run_program(list(args), cwd=self.work.path, env=env, **kwargs)

    def test_log_is_made_in_the_working_directory_not_beside_the_program(self):
        bin_dir = harness.WorkDir(prefix="zq-e2e-bin-")
        self.addCleanup(bin_dir.__exit__, None, None, None)
        copy = os.path.join(bin_dir.path, os.path.basename(harness.program()))
        shutil.copy2(harness.program(), copy)
        port = harness.closed_loopback_port()
        result = self.run_program("870", "127.0.0.1:%d" % port, "out.txt", "-debug", program_path=copy)
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(result.text, "Can't connect to the terminal 870.\n")
        self.assertEqual(self.work.listing(), [LOG])
        self.assertEqual(bin_dir.listing(), [os.path.basename(copy)])
        self.assertGreater(len(harness.log_lines(self.work.file(LOG))), 0)

    def test_no_log_without_debug(self):
        port = harness.closed_loopback_port()
        result = self.run_program("870", "127.0.0.1:%d" % port, "out.txt")
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(self.work.listing(), [])

    def test_existing_log_is_emptied(self):
        with open(self.work.file(LOG), "wb") as f:
            f.write(b"a line of an earlier run\r\n")
        # 730 opens the log and then has nothing to do: the log stays empty.
        result = self.run_program("730", "1", "out.txt", "-debug")
        self.assertEqual(result.rc, 0)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(self.work.listing(), [LOG])
        self.assertEqual(os.path.getsize(self.work.file(LOG)), 0)

    def test_invalid_command_line_opens_no_log(self):
        result = self.run_program("870", "127.0.0.1", "out.txt", "-debug", "-x")
        self.assertEqual(result.rc, 1)
        self.assertEqual(self.work.listing(), [])

    def test_data_file_named_like_the_log_is_refused_not_interleaved(self):
        # The log holds its file against other writers: the download cannot empty it and write
        # its records between the log lines.
        peer = HangUpPeer()
        self.addCleanup(peer.close)
        result = self.run_program("870", "127.0.0.1:%d" % peer.port, LOG, "-debug", "-c")
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(result.text, "Can't write data file \"%s\".\n" % LOG)
        messages = harness.log_messages(self.work.file(LOG))
        self.assertEqual(messages, ["[ERROR] Can't open file %s" % LOG,
                                    "[ERROR] Can't write data file \"%s\" mode 0" % LOG,
                                    "[ERROR] Can't update terminal 870 data"])

    def test_line_format_time_stamp_and_line_ends(self):
        peer = HangUpPeer()
        self.addCleanup(peer.close)
        before = datetime.datetime.now().replace(microsecond=0)
        result = self.run_program("870", "127.0.0.1:%d" % peer.port, "out.txt", "-debug", "-u", "-c")
        after = datetime.datetime.now()
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(result.text, "Can't write data file \"out.txt\".\n")

        with open(self.work.file(LOG), "rb") as f:
            raw = f.read()
        if harness.target() == "wine":
            self.assertTrue(raw.endswith(b"\r\n"))
            self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))
            text = raw.decode("cp1251").replace("\r\n", "\n")
        else:
            self.assertTrue(raw.endswith(b"\n"))
            self.assertNotIn(b"\r", raw)
            text = raw.decode("utf-8")
        lines = text.split("\n")[:-1]
        self.assertGreater(len(lines), 0)

        stamps = []
        for line in lines:
            match = LINE.match(line)
            self.assertIsNotNone(match, line)
            stamp = datetime.datetime(int(match["year"]), int(match["month"]), int(match["day"]),
                                      int(match["h"]), int(match["m"]), int(match["s"]))
            # Read as hour, minute, second, the stamp lies within the run.
            self.assertLessEqual(before, stamp, line)
            self.assertLessEqual(stamp, after, line)
            self.assertEqual(match["weekday"], WEEKDAYS[harness.target()][stamp.weekday()], line)
            stamps.append(stamp)
        self.assertEqual(stamps, sorted(stamps))

        # The application's own reports of the failed download, at the end of the chain.
        application = [m for m in (LINE.match(line) for line in lines) if m["source"] == "Application"]
        self.assertEqual([(m["level"], m["message"]) for m in application],
                         [("ERROR", "Can't write data file \"out.txt\" mode 0"),
                          ("ERROR", "Can't update terminal 870 data")])
        self.assertEqual(harness.log_messages(self.work.file(LOG))[-2:],
                         ["[ERROR] Can't write data file \"out.txt\" mode 0",
                          "[ERROR] Can't update terminal 870 data"])

    def assertLogOpenFails(self, result, expected_stderr):
        self.assertEqual(result.rc, 1)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr, expected_stderr)

    def test_log_that_cannot_be_opened(self):
        # The program runs as root here, and a read-only directory does not stop root; a
        # directory standing where the log file should be does.
        os.mkdir(self.work.file(LOG))
        peer = HangUpPeer()
        self.addCleanup(peer.close)
        result = self.run_program("870", "127.0.0.1:%d" % peer.port, "out.txt", "-debug", "-c")
        if harness.target() == "wine":
            expected = b"ERROR: Can't open log file Zq-ReadUtility.log: err => 13 (Permission denied).\r\n"
        else:
            expected = ("ERROR: Can't open log file Zq-ReadUtility.log: err => %d (%s).\n"
                        % (errno.EISDIR, os.strerror(errno.EISDIR))).encode()
        self.assertLogOpenFails(result, expected)
        self.assertEqual(self.work.listing(), [LOG])
        self.assertTrue(os.path.isdir(self.work.file(LOG)))
        time.sleep(0.2)
        self.assertEqual(peer.accepted, 0, "the terminal must not be contacted")

    @unittest.skipUnless(harness.target() == "native" and hasattr(os, "geteuid") and os.geteuid() == 0
                         and shutil.which("setpriv"), "needs root to run the program as another user")
    def test_read_only_working_directory(self):
        # An unprivileged user in a directory it may not write to: the permission error itself.
        bin_dir = harness.WorkDir(prefix="zq-e2e-bin-")
        self.addCleanup(bin_dir.__exit__, None, None, None)
        copy = os.path.join(bin_dir.path, "Zq-ReadUtility")
        shutil.copy2(harness.program(), copy)
        os.chmod(bin_dir.path, 0o755)
        os.chmod(self.work.path, 0o555)
        self.addCleanup(os.chmod, self.work.path, 0o755)
        result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", copy,
                                 "730", "1", "out.txt", "-debug"],
                                cwd=self.work.path, env=dict(os.environ, LC_ALL="C"),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        expected = ("ERROR: Can't open log file Zq-ReadUtility.log: err => %d (%s).\n"
                    % (errno.EACCES, os.strerror(errno.EACCES))).encode()
        self.assertLogOpenFails(harness.Result(result.returncode, result.stdout, result.stderr), expected)
        self.assertEqual(self.work.listing(), [])


if __name__ == "__main__":
    unittest.main()
