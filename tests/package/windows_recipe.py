"""The Windows Task Scheduler recipe of docs/operations.md, run as written under Wine, as far as
Wine can run it: the ZIP unpacked into C:\\Zq, the terminals file copied and edited, the data folder
made and restricted, the file checked, and the task's action run through cmd /c. A first night
must write its report and its own log. (Wine's schtasks cannot create the task, and its icacls
changes nothing: they are run, not judged.)

Usage: windows_recipe.py ZIP SIMULATOR"""

import datetime
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from simulator import Simulator  # noqa: E402


def main():
    zip_path, simulator = sys.argv[1], sys.argv[2]
    os.environ["ZQ_SIMULATOR"] = simulator
    prefix = os.environ["WINEPREFIX"]
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    drive_c = os.path.join(prefix, "drive_c")
    app, data = os.path.join(drive_c, "Zq"), os.path.join(drive_c, "ZqData")
    for folder in (app, data):
        shutil.rmtree(folder, ignore_errors=True)

    def cmd(line):
        result = subprocess.run(["wine", "cmd", "/c", line], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    failures = []
    try:
        # 1. Unpack the ZIP into C:\Zq.
        zipfile.ZipFile(zip_path).extractall(app)
        with Simulator("870", "--generate", "3") as sim:
            # 2. The terminals file from the example, edited: one terminal.
            with open(os.path.join(app, "terminals.example"), encoding="utf-8") as f:
                example = [line for line in f.read().splitlines() if line.startswith("#")]
            with open(os.path.join(app, "terminals.txt"), "w", newline="\r\n", encoding="utf-8") as f:
                f.write("\n".join(example + ["entrance    870   %s   -u -c -n2" % sim.address()]) + "\n")
            # 3. The data folder, for the task's account and Administrators alone.
            for line in ("mkdir C:\\ZqData",
                         'icacls C:\\ZqData /inheritance:r /grant:r "SYSTEM:(OI)(CI)F" "Administrators:(OI)(CI)F"'):
                rc, out = cmd(line)
                if rc != 0:
                    failures.append("%s: exit %d %s" % (line, rc, out))
            rc, out = cmd("C:\\Zq\\zq-nightly.exe -f C:\\Zq\\terminals.txt -o C:\\ZqData -n")
            if rc != 0 or "entrance: would run" not in out:
                failures.append("the check with -n: exit %d %s" % (rc, out))
            # 4. The task's action, as /TR gives it.
            rc, out = cmd("C:\\Zq\\zq-nightly.exe -f C:\\Zq\\terminals.txt -o C:\\ZqData --log C:\\ZqData\\nightly.log")
            if rc != 0:
                failures.append("the action: exit %d %s" % (rc, out))
        day = os.path.join(data, datetime.date.today().isoformat())
        if not os.path.isfile(os.path.join(day, "report.json")):
            failures.append("no report.json in %s" % day)
        with open(os.path.join(day, "new", "entrance.txt"), "rb") as f:
            if f.read().count(b"\r\n") != 3:
                failures.append("new\\entrance.txt does not hold the 3 records")
        with open(os.path.join(data, "nightly.log"), encoding="utf-8") as f:
            log = f.read().splitlines()
        if not (log and log[0].endswith("started, process " + log[0].rsplit(" ", 1)[-1])
                and log[-1].endswith(": ended, exit 0")):
            failures.append("nightly.log does not open and close the night: %r" % log)
    finally:
        for folder in (app, data):
            shutil.rmtree(folder, ignore_errors=True)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
