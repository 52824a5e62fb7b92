"""End-to-end test harness: runs the programs, Zq-ReadUtility and zq-nightly, natively or as .exe's
under Wine, and reads what they print and log.

CTest sets the environment (see tests/e2e/CMakeLists.txt):
  ZQ_TARGET           native | wine
  ZQ_PROGRAM          Zq-ReadUtility (or Zq-ReadUtility.exe)
  ZQ_NIGHTLY          zq-nightly (or zq-nightly.exe)
  ZQ_SIMULATOR        the native terminal simulator
  ZQ_UNREADABLE_CLOCK a library preloaded into the native program for a clock that cannot be read
  ZQ_SOURCE_DIR       the repository root
  WINEPREFIX          the Wine prefix (wine target)
"""

import fcntl
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

__all__ = [
    "Result", "Started", "WorkDir", "RunCase", "target", "program", "simulator", "source_dir", "run_program",
    "start_program", "expected_console_bytes", "console_text", "log_lines", "log_messages", "run_record",
    "com_port_env", "remove_com_port", "closed_loopback_port", "WRITTEN", "NOT_WRITTEN", "UPDATED", "NOT_UPDATED",
    "CLEARED", "NOT_CLEARED", "READ_TIMEOUT", "DONE", "NOT_STARTED", "NO_DATA_FILE", "STEP_FAILED",
]


def target():
    return os.environ.get("ZQ_TARGET", "native")


def program(which="ZQ_PROGRAM"):
    """The program under test: Zq-ReadUtility, or with "ZQ_NIGHTLY" the nightly job."""
    path = os.environ.get(which, "")
    if not path or not os.path.exists(path):
        raise RuntimeError("%s is not set or missing: %r" % (which, path))
    return path


def simulator():
    """The native simulator's path, or "" when the build has none."""
    path = os.environ.get("ZQ_SIMULATOR", "")
    return path if path and os.path.exists(path) else ""


def source_dir():
    return os.environ.get("ZQ_SOURCE_DIR",
                          os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


# ---------------------------------------------------------------------------------------------
# Wine

def _wine_prefix():
    return os.environ.get("WINEPREFIX") or os.path.join(source_dir(), "build", "wineprefix")


def _wine_env(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": _wine_prefix(),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    if extra:
        env.update(extra)
    return env


_wine_ready = False


def _ensure_wine():
    """Creates the prefix once (under a lock: tests may start together) and keeps a server warm."""
    global _wine_ready
    if _wine_ready:
        return
    prefix = _wine_prefix()
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            os.makedirs(prefix, exist_ok=True)
            subprocess.run(["wineboot", "-i"], env=_wine_env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        # -p: the server stays up between runs, which saves seconds per run.
        subprocess.run(["wineserver", "-p"], env=_wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    _wine_ready = True


# ---------------------------------------------------------------------------------------------
# Running the program

class Result:
    def __init__(self, rc, stdout, stderr):
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr

    @property
    def text(self):
        return console_text(self.stdout)

    @property
    def lines(self):
        return self.text.splitlines()

    def __repr__(self):
        return "Result(rc=%r, stdout=%r, stderr=%r)" % (self.rc, self.stdout, self.stderr)


class Started:
    """A program started in its own process group (start_program); wait() gives its Result."""

    def __init__(self, process, outdir=None):
        self.process = process
        self._outdir = outdir

    @property
    def pid(self):
        return self.process.pid

    def wait(self, timeout=60):
        """Waits for the end, killing the whole group on a time-out; the exact bytes of standard
        output and error."""
        try:
            out, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.communicate()
            if self._outdir is not None:
                self._outdir.cleanup()
            raise
        if self._outdir is not None:
            with open(os.path.join(self._outdir.name, "stdout"), "rb") as f:
                out = f.read()
            with open(os.path.join(self._outdir.name, "stderr"), "rb") as f:
                err = f.read()
            self._outdir.cleanup()
        return Result(self.process.returncode, out, err)


def start_program(args, cwd, env=None, program_path=None, console=True):
    """Starts the program (or `program_path`) with `args` in `cwd` without waiting; `env` adds to
    (or, with None values, removes from) the environment. Under Wine the pseudo-terminal of
    `script` gives it a Windows console, while its own output goes to files outside the working
    directory (tests look at what it creates); `console` False runs the .exe without a console
    (its output a pipe)."""
    args = [str(a) for a in args]
    executable = program_path or program()
    outdir = None
    if target() == "wine":
        _ensure_wine()
        run_env = _wine_env(env)
        if console:
            outdir = tempfile.TemporaryDirectory(prefix="zq-e2e-out-")
            inner = "wine %s >%s 2>%s" % (
                " ".join(shlex.quote(a) for a in [executable] + args),
                shlex.quote(os.path.join(outdir.name, "stdout")), shlex.quote(os.path.join(outdir.name, "stderr")))
            command = ["script", "-qec", inner, "/dev/null"]
        else:
            command = ["wine", executable] + args
    else:
        run_env = dict(os.environ)
        if env:
            run_env.update(env)
        command = [executable] + args
    run_env = {k: v for k, v in run_env.items() if v is not None}
    process = subprocess.Popen(command, cwd=cwd, env=run_env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    return Started(process, outdir)


def run_program(args, cwd, env=None, timeout=60, program_path=None, console=True):
    """Runs the program with `args` in `cwd` (see start_program) and returns a Result with the
    exact bytes of standard output and error."""
    # Now and then Wine fails to start a program at all: an exit code and not one byte on either
    # stream, which no run of these programs produces once it has a console. Such a start is
    # tried again (three starts at most); any run that did start stands.
    for _ in range(3 if target() == "wine" and console else 1):
        result = start_program(args, cwd, env, program_path, console).wait(timeout)
        if result.rc == 0 or result.stdout or result.stderr:
            break
    return result


# ---------------------------------------------------------------------------------------------
# Console and log texts

def _encoding():
    return "cp1251" if target() == "wine" else "utf-8"


def expected_console_bytes(text):
    """What the target prints for `text`: UTF-8 with LF natively, code page 1251 with CR LF on Windows."""
    if target() == "wine":
        return text.replace("\n", "\r\n").encode("cp1251")
    return text.encode("utf-8")


def console_text(data):
    """The inverse of expected_console_bytes (undecodable bytes are replaced)."""
    text = data.decode(_encoding(), errors="replace")
    if target() == "wine":
        text = text.replace("\r\n", "\n")
    return text


_STAMP = re.compile(r"^\[[^\]]*, \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\] ")
_SUFFIX = re.compile(r" at [^ ]+:\d+$")


def log_lines(path, info=False):
    """The debug log's lines with the time stamp and the line end removed: the faults (Error and
    Warning lines), and with `info` also the Info lines that record the run's progress."""
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode(_encoding(), errors="replace")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    lines = [_STAMP.sub("", line[:-1] if line.endswith("\r") else line) for line in lines]
    return lines if info else [line for line in lines if not line.startswith("[INFO] ")]


def log_messages(path, info=False):
    """log_lines without the " at <source>:<line>" suffix."""
    return [_SUFFIX.sub("", line) for line in log_lines(path, info)]


def run_record(driver, connection, records, clock):
    """The Info lines of a successful -u -c run into out.txt: the connection made, the records
    written, the clock value sent (the simulator's "YYYY-MM-DD hh:mm:ss") with the UTC offset in
    force, and the clearing."""
    import datetime
    moment = datetime.datetime.strptime(clock, "%Y-%m-%d %H:%M:%S")
    minutes = int(moment.astimezone().utcoffset().total_seconds() // 60)
    offset = "UTC%s%02d:%02d" % ("-" if minutes < 0 else "+", abs(minutes) // 60, abs(minutes) % 60)
    value = "%s (%s)" % (moment.strftime("%d.%m.%Y %H:%M:%S"), offset)
    return ["[INFO] " + connection,
            "[INFO] %s::dump(): %d records written to out.txt" % (driver, records),
            "[INFO] %s::updateDateTime(): Date/time set to %s" % (driver, value),
            "[INFO] %s::reset(): Records cleared" % driver]


# ---------------------------------------------------------------------------------------------
# Serial ports and addresses

def com_port_env(n, device_path, tmpdir):
    """Makes COM<n> reach `device_path`; returns the environment to run the program with."""
    if target() == "wine":
        _ensure_wine()
        link = os.path.join(_wine_prefix(), "dosdevices", "com%d" % n)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(device_path, link)
        return {}
    link = os.path.join(tmpdir, "COM%d" % n)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(device_path, link)
    return {"ZQ_COMPORT_DIR": tmpdir}


def remove_com_port(n):
    """Makes sure COM<n> reaches nothing under Wine (native: use an empty ZQ_COMPORT_DIR)."""
    if target() == "wine":
        _ensure_wine()
        link = os.path.join(_wine_prefix(), "dosdevices", "com%d" % n)
        if os.path.lexists(link):
            os.remove(link)


def closed_loopback_port():
    """A loopback TCP port that nothing listens on (bound once by us, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class WorkDir:
    """A fresh temporary working directory (.path), removed afterwards."""

    def __init__(self, prefix="zq-e2e-"):
        self.path = tempfile.mkdtemp(prefix=prefix)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)
        return False

    def file(self, name):
        return os.path.join(self.path, name)

    def listing(self):
        return sorted(os.listdir(self.path))


# ---------------------------------------------------------------------------------------------
# A test that runs the program in a working directory of its own

# The console lines of a run whose data file is out.txt.
WRITTEN = 'Data file "out.txt" written successfully.'
NOT_WRITTEN = 'Can\'t write data file "out.txt".'
UPDATED = "Date/time updated successfully."
NOT_UPDATED = "Can't update the date/time."
CLEARED = "Data cleared successfully."
NOT_CLEARED = "Can't clean up the data."
READ_TIMEOUT = "[WARNING] Socket::canRead(): Read timeout (192 msec)"


# The program's exit codes.
DONE = 0          # everything asked for was done
NOT_STARTED = 1   # the command line (or the console, the log) was refused
NO_DATA_FILE = 2  # no complete data file; neither clock nor memory touched
STEP_FAILED = 3   # the data file is complete; the clock, the clearing or the disconnection failed


class RunCase(unittest.TestCase):
    """A fresh working directory (.dir) per test, runs of the program in it (each must end with
    the exit code `rc`, DONE unless told), and what a run left there: the data file out.txt and
    the debug log."""

    def setUp(self):
        work = WorkDir()
        self.dir = work.path
        self.addCleanup(work.__exit__, None, None, None)

    def zq(self, *args, env=None, rc=DONE):
        started = time.monotonic()
        result = run_program(list(args), cwd=self.dir, env=env)
        result.elapsed = time.monotonic() - started
        self.assertEqual(result.rc, rc, result.stdout)
        return result

    def data_file(self):
        path = os.path.join(self.dir, "out.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def log(self, info=False):
        return log_messages(os.path.join(self.dir, "Zq-ReadUtility.log"), info)

    def full_log(self):
        return log_lines(os.path.join(self.dir, "Zq-ReadUtility.log"))
