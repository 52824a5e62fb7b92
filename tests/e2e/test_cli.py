"""The command line seen from outside: usage text, error messages, exit codes, unreachable terminals."""

import os
import socket
import threading
import unittest

import harness

# The usage text, line by line, as the user reads it. Written out here on its own so that a
# change to the program's copy shows up as a failure.
USAGE_LINES = [
    "Zq-ReadUtility.exe      Предназначена для чтения данных с терминалов учёта",
    "                        рабочего времени.",
    "",
    "Использование:",
    "",
    "  Zq-ReadUtility.exe Model COMPort/IP[:port] [Full_path]FileName",
    "                     [-c][-u][-n0/1/2][-debug]",
    "",
    "Параметры:",
    "",
    "  Model                 Номер модели аппарата: 730, 735, 2210, 2240, 870, QVK",
    "",
    "  COMPort/IP[:port]     Номер COM-порта.",
    "",
    "                        Для моделей 730 и 2210 указывается номер COM-порта",
    "                        (от 1 до 255). Скорость COM-порта всегда фиксированная",
    "                        38400bps, поэтому не указывается. Для остальных",
    "                        моделей указывается IP-адрес аппарата. Если IP-порт",
    "                        используется не по умолчанию (1001), то нужно указать",
    "                        IP-порт через двоеточие.",
    "",
    "  [Full_path]FileName   Полный путь к файлу и имя файла, куда будет сохранена",
    "                        считанная информация из устройства база записей.",
    "                        Существующий файл будет перезаписан.",
    "",
    "  [-c]                  Очищение данных из терминала.",
    "",
    "  [-u]                  Обновление времени. Берется системное время ПК.",
    "",
    "  [-n0/1/2]             Формат выходных данных номера карточки.",
    "",
    "                        0 - будут выгружены максимально возможные данные,",
    "                        1 - номер карточки в 10-ном формате,",
    "                        2 - номер карточки в HEX формате (8 байт).",
    "",
    "  [-debug]              Создать лог файл Zq-ReadUtility.log.",
]
# The native program names itself without ".exe"; its columns stay aligned.
if harness.target() == "native":
    USAGE_LINES[0] = "Zq-ReadUtility          Предназначена для чтения данных с терминалов учёта"
    USAGE_LINES[5] = "  Zq-ReadUtility Model COMPort/IP[:port] [Full_path]FileName"
    USAGE_LINES[6] = "                 [-c][-u][-n0/1/2][-debug]"
USAGE = "".join(line + "\n" for line in USAGE_LINES)

INVALID_MODEL = "Неверно указан номер модели аппарата %s.\n\n"
INVALID_IP_PORT = "Неверно указан IP порт %s.\n\n"
INVALID_COM_PORT = "Неверно указан COM порт %s.\n\n"
INVALID_IP_ADDRESS = "Неверно указан IP адрес %s.\n\n"
INVALID_FORMAT = "Неверно указан формат выходных данных %s.\n\n"
INVALID_PARAMETER = "Неверный параметр %s.\n\n"


class CliTest(unittest.TestCase):
    def setUp(self):
        self.work = harness.WorkDir()
        self.addCleanup(self.work.__exit__, None, None, None)

    def run_program(self, *args, **kwargs):
        return harness.run_program(list(args), cwd=self.work.path, **kwargs)

    def assertUsageError(self, args, message):
        """The program prints `message` (or nothing) and the usage text, exits 1, creates nothing."""
        result = self.run_program(*args)
        expected = (message or "") + USAGE
        self.assertEqual(result.stdout, harness.expected_console_bytes(expected), "arguments %r" % (args,))
        self.assertEqual(result.stderr, b"", "arguments %r" % (args,))
        self.assertEqual(result.rc, 1, "arguments %r" % (args,))
        self.assertEqual(self.work.listing(), [], "arguments %r" % (args,))

    def test_usage_text_has_its_36_lines(self):
        self.assertEqual(len(USAGE_LINES), 36)
        for line in USAGE_LINES:
            self.assertEqual(line, line.rstrip())
        self.assertEqual(USAGE_LINES[0].index("Предназначена"), USAGE_LINES[1].index("рабочего"))
        self.assertEqual(USAGE_LINES[6].index("["), USAGE_LINES[5].index("Model"))

    def test_no_arguments_print_the_usage_text_only(self):
        result = self.run_program()
        self.assertEqual(result.rc, 1)
        self.assertEqual(result.stdout, harness.expected_console_bytes(USAGE))
        self.assertEqual(result.text, USAGE)
        self.assertEqual(len(result.lines), 36)
        if harness.target() == "wine":
            self.assertNotIn(b"\n\n", result.stdout.replace(b"\r\n", b""))  # every LF is a CR LF
            self.assertIn(b"\xf3\xf7\xb8\xf2\xe0", result.stdout)  # "учёта" in code page 1251
        else:
            self.assertNotIn(b"\r", result.stdout)

    def test_invalid_model(self):
        for model in ["qvk", "Qvk", "8700", "87", "abc"]:
            self.assertUsageError([model, "127.0.0.1", "out.txt"], INVALID_MODEL % model)

    def test_help_and_version_alone_are_answers(self):
        for args in (["/?"], ["--help"], ["-h"]):
            result = self.run_program(*args)
            self.assertEqual((result.rc, result.stdout, result.stderr),
                             (0, harness.expected_console_bytes(USAGE), b""), args)
        version = self.run_program("--version")
        self.assertEqual(version.rc, 0)
        self.assertRegex(version.text, r"^Zq-ReadUtility \d+\.\d+\.\d+\n$")
        with open(os.path.join(harness.source_dir(), "CMakeLists.txt")) as cmake:
            self.assertIn("VERSION %s " % version.text.split()[1], cmake.read())
        self.assertEqual(self.work.listing(), [])
        self.assertUsageError(["--help", "127.0.0.1", "out.txt"], INVALID_MODEL % "--help")

    def test_help_in_a_switch_position_prints_the_usage_text_only(self):
        self.assertUsageError(["870", "127.0.0.1", "out.txt", "-c", "/?", "-x"], None)

    def test_invalid_com_port(self):
        for port in ["0", "256", "COM3", "3x", "127.0.0.1"]:
            self.assertUsageError(["2210", port, "out.txt"], INVALID_COM_PORT % port)

    def test_mistyped_address_reaches_no_terminal(self):
        # A terminal listens where the typing error would have led; it must never hear a word.
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        listener.setblocking(False)
        port = listener.getsockname()[1]
        for address in ["127.0.0.1x:%d" % port, "127.0.0.1.5:%d" % port, "383.0.0.1:%d" % port,
                        "127.0.0.1:%dx" % port, "127.0.0.1:", "localhost", str(port)]:
            self.assertUsageError(["870", address, "out.txt", "-c"], INVALID_IP_ADDRESS % address)
        with self.assertRaises(BlockingIOError):
            listener.accept()

    def test_serial_model_needs_its_port_and_file(self):
        for args in (["2210"], ["2210", "3"]):
            self.assertUsageError(args, None)

    def test_invalid_ip_port(self):
        self.assertUsageError(["870", "127.0.0.1:0", "out.txt"], INVALID_IP_PORT % "0")
        self.assertUsageError(["870", "127.0.0.1:65536", "out.txt"], INVALID_IP_PORT % "65536")

    def test_invalid_output_format(self):
        for switch in ["-n3", "-nx"]:
            self.assertUsageError(["870", "127.0.0.1", "out.txt", switch], INVALID_FORMAT % switch)

    def test_invalid_parameter(self):
        for switch in ["-n10", "-N1", "-DEBUG", "-x"]:
            self.assertUsageError(["870", "127.0.0.1", "out.txt", "-c", switch], INVALID_PARAMETER % switch)

    def test_only_the_first_error_is_reported(self):
        self.assertUsageError(["870", "127.0.0.1:0", "out.txt", "-x", "-n9"], INVALID_IP_PORT % "0")

    def test_network_model_without_a_file_name(self):
        for model in ["735", "870", "QVK", "2240"]:
            self.assertUsageError([model, "127.0.0.1"], None)

    def test_models_without_a_driver_do_nothing(self):
        port = harness.closed_loopback_port()
        for args in (["730", "1", "out.txt", "-u", "-c"], ["2240", "127.0.0.1:%d" % port, "out.txt", "-c"]):
            result = self.run_program(*args)
            self.assertEqual(result.rc, 0, args)
            self.assertEqual(result.stdout, b"", args)
            self.assertEqual(result.stderr, b"", args)
            self.assertEqual(self.work.listing(), [], args)

    def test_unreachable_network_terminal(self):
        port = harness.closed_loopback_port()
        # 0.0.0.0 passes the address check and is refused before anything is sent.
        # An existing data file stays as it was: nothing was downloaded into it.
        with open(self.work.file("out.txt"), "wb") as old:
            old.write(b"yesterday\r\n")
        for model, address in [("870", "127.0.0.1:%d" % port), ("QVK", "127.0.0.1:%d" % port),
                               ("735", "127.0.0.1:%d" % port), ("870", "0.0.0.0:%d" % port)]:
            result = self.run_program(model, address, "out.txt", "-u", "-c")
            self.assertEqual(result.stdout, harness.expected_console_bytes("Can't connect to the terminal %s.\n" % model))
            self.assertEqual(result.stderr, b"")
            self.assertEqual(result.rc, harness.NO_DATA_FILE)
            self.assertEqual(self.work.listing(), ["out.txt"], model)
            with open(self.work.file("out.txt"), "rb") as f:
                self.assertEqual(f.read(), b"yesterday\r\n")

    @unittest.skipUnless(harness.simulator(), "the terminal simulator is not built")
    def test_file_name_outside_the_code_page_is_taken_as_typed(self):
        # Windows: the wide command line and file calls keep every character; the console shows
        # what its code page lacks as "?", never as a look-alike ("cafe").
        from simulator import Simulator
        name = "café_Ω_日本.txt"
        shown = name if harness.target() == "native" else "caf?_?_??.txt"
        with Simulator("870", "--generate", "1") as sim:
            result = self.run_program("870", sim.address(), name, env={"LANG": "C.UTF-8"})
        self.assertEqual(result.rc, harness.DONE, result)
        self.assertEqual(result.text, 'Data file "%s" written successfully.\n' % shown)
        self.assertEqual(self.work.listing(), [name])

    @unittest.skipUnless(harness.target() == "wine" and harness.simulator(), "a Windows process without a console")
    def test_process_without_a_console_carries_on(self):
        # A scheduled task or a service has no console: there is no code page to set, and the run
        # goes on; its exit code says what happened.
        from simulator import Simulator
        with Simulator("870", "--generate", "2") as sim:
            result = self.run_program("870", sim.address(), "out.txt", "-u", "-c", console=False)
        self.assertEqual(result.rc, harness.DONE, result)
        self.assertEqual(result.text.splitlines(), ['Data file "out.txt" written successfully.',
                                                    "Date/time updated successfully.", "Data cleared successfully."])
        with open(self.work.file("out.txt"), "rb") as f:
            self.assertEqual(len(f.read().splitlines()), 2)

    def test_missing_com_port(self):
        # COM250 reaches nothing: an empty port directory natively, no dosdevices link under Wine.
        env = {}
        if harness.target() == "wine":
            harness.remove_com_port(250)
        else:
            ports = harness.WorkDir(prefix="zq-e2e-ports-")
            self.addCleanup(ports.__exit__, None, None, None)
            env = {"ZQ_COMPORT_DIR": ports.path}
        result = self.run_program("2210", "250", "out.txt", "-c", env=env)
        self.assertEqual(result.stdout, harness.expected_console_bytes("Can't connect to the terminal 2210.\n"))
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(self.work.listing(), [])

    def test_terminal_that_hangs_up_leaves_an_empty_data_file(self):
        # A peer that accepts and closes at once: connected, but the download fails, and the
        # switches are not carried out.
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        listener.settimeout(60)
        port = listener.getsockname()[1]

        def hang_up():
            try:
                connection, _ = listener.accept()
                connection.close()
            except OSError:
                pass

        thread = threading.Thread(target=hang_up, daemon=True)
        thread.start()
        result = self.run_program("870", "127.0.0.1:%d" % port, "out.txt", "-u", "-c")
        thread.join(5)
        self.assertEqual(result.stdout, harness.expected_console_bytes("Can't write data file \"out.txt\".\n"))
        self.assertEqual(result.rc, harness.NO_DATA_FILE)
        self.assertEqual(self.work.listing(), ["out.txt"])
        self.assertEqual(os.path.getsize(self.work.file("out.txt")), 0)


if __name__ == "__main__":
    unittest.main()
