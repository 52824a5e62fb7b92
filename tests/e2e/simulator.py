"""Runs Zq-TerminalSimulator for the end-to-end tests: start it, learn its port or pseudo-terminal,
read what it printed and the exact bytes it received, stop it."""

import os
import subprocess
import tempfile
import threading
import time


def simulator_path():
    path = os.environ.get("ZQ_SIMULATOR")
    if not path:
        raise RuntimeError("ZQ_SIMULATOR is not set (the path of the native Zq-TerminalSimulator)")
    return path


class Simulator:
    """One simulator process. Use as a context manager:

        with Simulator("870", "--generate", "3") as sim:
            run_program(["870", "127.0.0.1:%d" % sim.port, "out.txt"], ...)
            sim.received()   # bytes the terminal got, all connections
    """

    def __init__(self, model, *args, records=None, start_timeout=10.0):
        self._dir = tempfile.TemporaryDirectory(prefix="zq-sim-")
        self.received_path = os.path.join(self._dir.name, "received.bin")
        argv = [simulator_path(), model]
        if model != "2210":
            argv += ["--port", "0"]
        if records is not None:
            path = os.path.join(self._dir.name, "records.txt")
            with open(path, "wb") as f:
                f.write(records if isinstance(records, bytes) else records.encode("ascii"))
            argv += ["--records", path]
        argv += ["--received", self.received_path, "--verbose"]
        argv += [str(a) for a in args]
        self.argv = argv
        self.port = None
        self.pty = None
        self._lines = []
        self._lock = threading.Lock()
        self._proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = self._read_first_line(start_timeout)
        if first.startswith("port="):
            self.port = int(first[len("port="):])
        elif first.startswith("pty="):
            self.pty = first[len("pty="):]
        else:
            err = self._proc.stderr.read().decode(errors="replace") if self._proc.poll() is not None else ""
            self.stop()
            raise RuntimeError("simulator did not start: %r %r" % (first, err))
        self._reader = threading.Thread(target=self._read_rest, daemon=True)
        self._reader.start()

    def _read_first_line(self, timeout):
        result = []
        reader = threading.Thread(target=lambda: result.append(self._proc.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        if not result:
            return ""
        return result[0].decode(errors="replace").rstrip("\n")

    def _read_rest(self):
        for raw in self._proc.stdout:
            with self._lock:
                self._lines.append(raw.decode(errors="replace").rstrip("\n"))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self._proc.poll() is None:
            self._proc.terminate()
            try:
                self._proc.wait(5)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        if getattr(self, "_reader", None) is not None:
            self._reader.join(2)
        self._proc.stdout.close()
        self._proc.stderr.close()
        self._dir.cleanup()

    def received(self):
        """The exact bytes received so far, over all connections, in order."""
        try:
            with open(self.received_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def lines(self):
        """What the simulator printed after its first line (requests, clock, clearing, connections)."""
        with self._lock:
            return list(self._lines)

    def wait_for_line(self, predicate, timeout=3.0):
        """The first printed line that satisfies predicate, waiting for it; None after timeout."""
        deadline = time.monotonic() + timeout
        while True:
            for line in self.lines():
                if predicate(line):
                    return line
            if time.monotonic() > deadline:
                return None
            time.sleep(0.02)

    def clock_lines(self):
        return [l[len("clock set to "):] for l in self.lines() if l.startswith("clock set to ")]

    def address(self):
        return "127.0.0.1:%d" % self.port


SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "samples")


def sample_path(name):
    return os.path.join(SAMPLES, name)


def sample_bytes(name):
    with open(sample_path(name), "rb") as f:
        return f.read()


def close_to_now(stamp, fmt, seconds=15):
    """True when the local date-time text `stamp` (strptime format) is within `seconds` of now."""
    import datetime
    value = datetime.datetime.strptime(stamp, fmt)
    return abs((datetime.datetime.now() - value).total_seconds()) <= seconds
