"""The morning view: five nights of simulated terminals make every state appear (a healthy one, one
failing three nights in a row, a never-cleared one whose memory grows, a refused clear, a first
night, a terminal taken out of the file, a day without a job and one whose job was killed and
completed by the next), and then status.json, status.html in a real browser, --status and the
metrics say what an operator needs in the morning."""

import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from simulator import Simulator  # noqa: E402
from test_nightly import Night, NightlyCase, punches, records  # noqa: E402

WINE = harness.target() == "wine"
DAYS = ["2026-03-01", "2026-03-02", "2026-03-03", "2026-03-04", "2026-03-05"]
STATUS_KEYS = {"generated", "version", "day", "historyDays", "outputFolder", "terminalsFile", "summary", "exitCode",
               "counts", "terminals", "formerTerminals", "days"}
TERMINAL_KEYS = {"name", "model", "address", "state", "why", "lastComplete", "nightsFailing", "lastClear",
                 "recordsHeld", "suspectLastNight", "rerun", "nights"}
NIGHT_KEYS = {"day", "report", "outcome", "cause", "reason", "records", "newRecords", "held", "cleared", "firstNight"}


def test_logs():
    folder = os.path.join(harness.source_dir(), "build", "test-logs")
    os.makedirs(folder, exist_ok=True)
    return folder


def chromium():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def browse(page_folder, page, screenshot=None):
    """Serves `page_folder` on loopback and opens `page` in headless Chromium: the DOM it rendered,
    and every path it asked for."""
    asked = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=page_folder, **kwargs)

        def log_message(self, *args):
            asked.append(self.path)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="zq-chromium-")
    url = "http://127.0.0.1:%d/%s" % (server.server_address[1], page)
    flags = [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--window-size=1500,700"]
    try:
        dom = subprocess.run(flags + ["--dump-dom", url], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=120).stdout.decode("utf-8")
        seen = list(asked)  # what the page asked for; the screenshot's own request is not counted
        if screenshot:
            subprocess.run(flags + ["--screenshot=" + screenshot, url], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
    finally:
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    return dom, seen


class StatusCase(NightlyCase):
    def status(self):
        with open(os.path.join(self.out, "status.json"), encoding="utf-8") as f:
            status = json.load(f)
        self.assertEqual(set(status), STATUS_KEYS)
        for terminal in status["terminals"] + status["formerTerminals"]:
            self.assertEqual(set(terminal), TERMINAL_KEYS)
            for night in terminal["nights"]:
                self.assertEqual(set(night), NIGHT_KEYS)
        return status


@unittest.skipIf(WINE, "five nights with a job killed are run natively; Wine writes the first night below")
class FiveNights(StatusCase):
    def run_nights(self):
        stored = {name: [] for name in ("healthy", "failing", "growing", "refusing", "gone", "newcomer")}
        self.punched = {}
        for index, day in enumerate(DAYS):
            if day == "2026-03-03":
                continue  # no job ran that night: a gap
            names = ["healthy", "failing", "refusing"] + (["gone"] if index < 2 else []) + \
                (["newcomer"] if index == 4 else []) + ["growing"]
            simulators = {}
            for name in names:
                stored[name] += punches("%X%X" % (names.index(name), index), 3)
                if name == "failing" and index >= 3:
                    continue  # the terminal is down from the fourth night on
                options = ["--error", "CLEARLOG"] if name == "refusing" else []
                if name == "growing" and day == "2026-03-04":
                    options = ["--drip", "3"]  # slow enough for the job to be killed meanwhile
                simulators[name] = Simulator("870", *options, records=records(stored[name]))
            try:
                closed = harness.closed_loopback_port()
                switches = {"healthy": "-u -c", "failing": "-c", "refusing": "-c", "gone": "-c", "newcomer": "-c",
                            "growing": "-u"}
                text = "".join("%-9s 870 %s %s\n" % (name, simulators[name].address() if name in simulators
                                                      else "127.0.0.1:%d" % closed, switches[name])
                               for name in names)
                args = ["-f", self.terminals(text), "-o", self.out, "-d", day, "-r", "0", "-j", "1",
                        "--metrics", os.path.join(self.work, "zq.prom")]
                if day == "2026-03-04":
                    # The job is killed while it reads the last terminal; the next night completes it.
                    job = self.start(*args)
                    sim = simulators["growing"]
                    self.wait_for(lambda: sim.received().startswith(b"GETLOGDATA"), timeout=60)
                    os.kill(job.pid, signal.SIGKILL)
                    job.wait(timeout=30)
                    time.sleep(1)
                else:
                    self.last = self.nightly(*args)
                for name, simulator in simulators.items():
                    if simulator.wait_for_line(lambda l: l.startswith("records cleared"), timeout=0):
                        stored[name] = []
            finally:
                for simulator in simulators.values():
                    simulator.stop()
        return stored

    def test_every_state_a_terminal_and_a_day_can_be_in(self):
        stored = self.run_nights()
        self.assertEqual(self.last.rc, 2, self.last)
        status = self.status()
        self.assertEqual((status["day"], status["historyDays"], status["exitCode"]), ("2026-03-05", 5, 2))
        self.assertEqual(status["counts"], {"ok": 1, "attention": 3, "failing": 1})
        # Worst first: failing, then those that need attention, then the fine one.
        self.assertEqual([t["name"] for t in status["terminals"]],
                         ["failing", "growing", "newcomer", "refusing", "healthy"])
        by_name = {t["name"]: t for t in status["terminals"]}

        failing = by_name["failing"]
        self.assertEqual((failing["state"], failing["nightsFailing"], failing["lastComplete"]["day"],
                          failing["lastComplete"]["records"]), ("failing", 3, "2026-03-02", 3))
        self.assertEqual(failing["lastClear"], "2026-03-02")
        self.assertTrue(failing["why"][0].startswith("failed: Socket::connect(): Connection timeout"), failing)
        self.assertTrue(failing["rerun"].endswith(" -d 2026-03-05 -t failing"), failing["rerun"])
        self.assertEqual([n["outcome"] for n in failing["nights"]], ["complete", "complete", None, "failed", "failed"])
        self.assertEqual([n["cause"] for n in failing["nights"]][3:], ["refused", "refused"])

        growing = by_name["growing"]
        self.assertEqual((growing["state"], growing["why"]), ("attention", ["records held growing"]))
        self.assertEqual(growing["recordsHeld"], len(stored["growing"]))
        self.assertEqual([n["held"] for n in growing["nights"]], [3, 6, None, None, 12])
        self.assertEqual([n["newRecords"] for n in growing["nights"]], [3, 3, None, None, 6])
        self.assertEqual(growing["nights"][3]["outcome"], "stopped")  # the killed job's, recovered
        self.assertIsNone(growing["lastClear"])

        self.assertEqual((by_name["newcomer"]["state"], by_name["newcomer"]["why"]), ("attention", ["first night"]))
        refusing = by_name["refusing"]
        self.assertEqual((refusing["state"], refusing["why"][0], refusing["lastClear"]),
                         ("attention", "not cleared", None))
        self.assertEqual(refusing["recordsHeld"], 12)
        healthy = by_name["healthy"]
        self.assertEqual((healthy["state"], healthy["why"], healthy["lastClear"], healthy["recordsHeld"],
                          healthy["nightsFailing"], healthy["rerun"]), ("ok", [], "2026-03-05", 0, 0, None))
        self.assertEqual([t["name"] for t in status["formerTerminals"]], ["gone"])
        self.assertEqual([(d["day"], d["state"]) for d in status["days"]],
                         [("2026-03-01", "failures"), ("2026-03-02", "failures"), ("2026-03-03", "missing"),
                          ("2026-03-04", "interrupted"), ("2026-03-05", "failures")])
        self.assertTrue(status["summary"].startswith("5 terminals: 1 fine, 1 failing for 3 nights (failing)"),
                        status["summary"])

        self.check_page()
        self.check_status_command()
        self.check_metrics()

    def check_page(self):
        if not chromium():
            self.skipTest("Chromium is not installed (.ci/run installs Debian's chromium)")
        with open(os.path.join(self.out, "status.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertNotIn("<script", page.lower())
        self.assertIsNone(re.search(r"(src|href)=\"(?!data:)", page), "the page fetches something")
        shot = os.path.join(test_logs(), "status.png")
        dom, asked = browse(self.out, "status.html", screenshot=shot)
        self.assertEqual(asked, ["/status.html"])
        rows = re.findall(r'<tr class="terminal" data-state="(\w+)"><td class="name">([^<]+)<', dom)
        self.assertEqual([name for _, name in rows], ["failing", "growing", "newcomer", "refusing", "healthy"])
        self.assertIn('<span class="state failing">failing</span>', dom)
        self.assertIn("5 terminals: 1 fine, 1 failing for 3 nights (failing)", dom)
        self.assertIn("<li>2026-03-03</li>", dom)  # the day without a report
        self.assertGreater(os.path.getsize(shot), 10000)

    def check_status_command(self):
        night = Night(harness.run_program(["--status", "-o", self.out], self.work,
                                          program_path=harness.program("ZQ_NIGHTLY")))
        self.assertEqual(night.rc, 2, night)
        self.assertTrue(night.lines[0].startswith("2026-03-05: 5 terminals: 1 fine, 1 failing"), night)
        self.assertRegex(night.lines[3], r"^failing +failing +2026-03-02 \d\d:\d\d +3 +0 +failed: ")
        self.assertIn("run again: zq-nightly -f ", night.lines[4])
        self.assertNotIn("\x1b[", "\n".join(night.lines))  # a pipe gets no colours
        self.assertIn("Days without a report: 2026-03-03", night.lines)
        # The second night: nobody failing, the growing memory needs attention: 3.
        night = Night(harness.run_program(["--status", "-o", self.out, "-d", "2026-03-02"], self.work,
                                          program_path=harness.program("ZQ_NIGHTLY")))
        self.assertEqual(night.rc, 3, night)
        # Only the healthy terminal: 0. Nothing is written.
        before = sorted(os.listdir(self.out))
        only = self.terminals("healthy 870 127.0.0.1:1 -u -c\n")
        night = Night(harness.run_program(["--status", "-o", self.out, "-f", only], self.work,
                                          program_path=harness.program("ZQ_NIGHTLY")))
        self.assertEqual((night.rc, night.lines[0]), (0, "2026-03-05: 1 terminal: 1 fine"), night)
        self.assertEqual(sorted(os.listdir(self.out)), before)

    def check_metrics(self):
        with open(os.path.join(self.work, "zq.prom"), encoding="utf-8") as f:
            text = f.read()
        samples = parse_metrics(self, text)
        self.assertEqual(samples[("zq_nightly_exit_code", ())], 2)
        terminal = (("terminal", "failing"),)
        self.assertEqual(samples[("zq_nightly_nights_failing", terminal)], 3)
        self.assertEqual(samples[("zq_nightly_failing", terminal)], 1)
        self.assertEqual(samples[("zq_nightly_records_held", (("terminal", "growing"),))], 12)
        self.assertEqual(samples[("zq_nightly_attention", (("terminal", "healthy"),))], 0)
        self.assertEqual(samples[("zq_nightly_new_records", (("terminal", "newcomer"),))], 3)
        self.assertGreater(samples[("zq_nightly_last_complete_timestamp_seconds", (("terminal", "healthy"),))],
                           1.7e9)


def parse_metrics(case, text):
    """The samples of a Prometheus text exposition, checked against the format's rules: HELP and TYPE
    before a family's samples, names and labels as the format spells them, escapes within label
    values, one sample per name and label set, a line feed at the end."""
    case.assertTrue(text.endswith("\n"))
    name_rule = re.compile(r"^[a-zA-Z_:][a-zA-Z0-9_:]*$")
    sample_rule = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(.*)\})? (\S+)$')
    label_rule = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)"(,|$)')
    typed, helped, samples = {}, set(), {}
    for line in text.split("\n")[:-1]:
        if line.startswith("# HELP "):
            name = line.split(" ")[2]
            case.assertRegex(name, name_rule)
            helped.add(name)
        elif line.startswith("# TYPE "):
            _, _, name, kind = line.split(" ")
            case.assertIn(kind, ("counter", "gauge", "histogram", "summary", "untyped"))
            case.assertNotIn(name, typed, "a second TYPE line")
            typed[name] = kind
        else:
            match = sample_rule.match(line)
            case.assertIsNotNone(match, line)
            name, labels_text, value = match.group(1), match.group(3) or "", match.group(4)
            case.assertIn(name, typed, "a sample before its TYPE line")
            case.assertIn(name, helped)
            labels, at = [], 0
            while at < len(labels_text):
                label = label_rule.match(labels_text, at)
                case.assertIsNotNone(label, line)
                labels.append((label.group(1), label.group(2).replace('\\"', '"').replace("\\n", "\n")
                               .replace("\\\\", "\\")))
                at = label.end()
            key = (name, tuple(labels))
            case.assertNotIn(key, samples, "the same sample twice")
            samples[key] = float(value)
    return samples


class FirstNight(StatusCase):
    """One first night, native or under Wine: status.json is the same on both, but for times and
    paths; and texts from the terminals are escaped on the page."""

    def first_night(self, native=None):
        """The first night, by the job under test, or by the native job at `native`."""
        with Simulator("870", records=records(punches("F1", 4))) as fine, \
                Simulator("870", "--error", "CLEARLOG", records=records(punches("F2", 2))) as refusing:
            text = "fine 870 %s -c\nrefusing 870 %s -c\ndown 870 127.0.0.1:%d -c\n" % (
                fine.address(), refusing.address(), harness.closed_loopback_port())
            args = ["-f", self.terminals(text), "-o", self.out, "-d", DAYS[0], "-r", "0"]
            if native is None:
                return self.nightly(*args)
            return subprocess.run([native] + args, cwd=self.work, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=240).returncode

    def normalised(self):
        status = self.status()
        text = json.dumps(status, indent=1, sort_keys=True)
        text = re.sub(r'"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d"', '"<time>"', text)
        for path in (status["outputFolder"], status["terminalsFile"]):
            text = text.replace(json.dumps(path)[1:-1], "<path>")
        text = re.sub(r"127\.0\.0\.1:\d+", "127.0.0.1:<port>", text)
        # The system's error number of a refused connection is its own on each platform.
        return re.sub(r"err => \d+", "err => <number>", text)

    def test_the_same_status_on_both_platforms(self):
        night = self.first_night()
        self.assertEqual(night.rc, 2, night)
        mine = self.normalised()
        self.assertIn('"summary": "3 terminals: 0 fine, 1 failing for 1 night (down), 1 on its first night (fine), '
                      '1 not cleared (refusing, holds 2 records)"', mine)
        other = os.environ.get("ZQ_NATIVE_NIGHTLY", "")
        if not WINE or not other:
            return
        # The same night by the native job, in a folder of its own.
        self.out = os.path.join(self.work, "native")
        self.assertEqual(self.first_night(other), 2)
        self.assertEqual(self.normalised(), mine)

    @unittest.skipIf(WINE, "the page is the same text on both; the browser runs natively")
    def test_texts_from_a_report_are_shown_as_text(self):
        self.first_night()
        # A reason as a terminal or a person might put it: markup, an ampersand, quotes, non-ASCII.
        report_path = os.path.join(self.folder(DAYS[0]), "report.json")
        with open(report_path, encoding="utf-8") as f:
            report = json.load(f)
        hostile = '<script>alert("x")</script> & <b>Größe</b> \'quoted\''
        for terminal in report["terminals"]:
            if terminal["name"] == "down":
                terminal["reason"] = hostile
        with open(report_path, "w", encoding="utf-8") as f:
            json.dump(report, f)
        night = self.nightly("--status", "-o", self.out)
        self.assertEqual(night.rc, 2, night)
        self.assertIn("failed: " + hostile, "\n".join(night.lines))
        # The day again for the complete one only: the page keeps what the day said of the others.
        self.nightly("-f", os.path.join(self.work, "terminals.txt"), "-o", self.out, "-d", DAYS[0], "-t", "fine")
        with open(os.path.join(self.out, "status.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertNotIn("<script>", page)
        if not chromium():
            self.skipTest("Chromium is not installed")
        dom, asked = browse(self.out, "status.html")
        self.assertEqual(asked, ["/status.html"])
        self.assertNotIn("<script>", dom)
        self.assertIn("failed: &lt;script&gt;alert(\"x\")&lt;/script&gt; &amp; &lt;b&gt;Größe&lt;/b&gt; 'quoted'", dom)


if __name__ == "__main__":
    unittest.main()
