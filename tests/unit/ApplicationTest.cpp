#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "Common/Console.h"
#include "LogCapture.h"
#include "Version.h"
#include "Zq/Terminal.h"

using ZqReadUtility::Application;
using ZqReadUtility::Settings;

namespace {

// What the console receives for a text of the program's (UTF-8) sources: the Windows build
// prints code page 1251 (the converter has its own tests in ConsoleTest).
std::string console(const std::string& utf8) {
#ifdef _WIN32
  return Console::utf8ToCp1251(utf8);
#else
  return utf8;
#endif
}

// Captured standard output with the text-mode CR LF of the Windows runtime folded to LF.
std::string capturedStdout() {
  std::string out = testing::internal::GetCapturedStdout();
  std::string folded;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    folded += out[i];
  }
  return folded;
}

struct Parse {
  bool ok = false;
  bool showUsage = false;
  Settings settings;
  std::string output;
};

// One fresh Application per command line, as the program has.
Parse parse(const std::vector<std::string>& args) {
  std::vector<std::string> storage{"Zq-ReadUtility.exe"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  Application application;
  testing::internal::CaptureStdout();
  Parse result;
  result.ok = application.loadSettings(static_cast<int>(storage.size()), argv.data());
  result.output = capturedStdout();
  result.showUsage = application.showUsage;
  result.settings = application.settings;
  return result;
}

const std::string usage() { return console(ZqReadUtility::usageText()); }

}  // namespace

TEST(LoadSettingsTest, SerialCommandLineWithEverySwitch) {
  const Parse p = parse({"2210", "3", "C:\\data\\out.txt", "-u", "-c", "-n1", "-debug"});
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(p.showUsage);
  EXPECT_EQ(p.output, "");
  EXPECT_EQ(p.settings.model, ZqReadUtility::Model2210);
  EXPECT_EQ(p.settings.port, 3);
  EXPECT_EQ(p.settings.fileName, "C:\\data\\out.txt");
  EXPECT_EQ(p.settings.options, ZqReadUtility::OptionClear | ZqReadUtility::OptionUpdateTime);
  EXPECT_EQ(p.settings.cardFormat, 1);
  EXPECT_TRUE(p.settings.debug);
  EXPECT_EQ(p.settings.baudRate, 38400);
  EXPECT_EQ(p.settings.ipAddress, "");
}

// Parsing only: nothing here connects anywhere.
TEST(LoadSettingsTest, NetworkAddressTakesAnOptionalPort) {
  const Parse withPort = parse({"870", "127.0.0.50:5005", "out.txt"});
  ASSERT_TRUE(withPort.ok);
  EXPECT_EQ(withPort.output, "");
  EXPECT_EQ(withPort.settings.model, ZqReadUtility::Model870);
  EXPECT_EQ(withPort.settings.ipAddress, "127.0.0.50");
  EXPECT_EQ(withPort.settings.port, 5005);
  EXPECT_EQ(withPort.settings.fileName, "out.txt");
  EXPECT_EQ(withPort.settings.options, 0u);
  EXPECT_EQ(withPort.settings.cardFormat, 0);
  EXPECT_FALSE(withPort.settings.debug);

  const Parse defaultPort = parse({"735", "127.0.0.50", "out.txt"});
  ASSERT_TRUE(defaultPort.ok);
  EXPECT_EQ(defaultPort.settings.model, ZqReadUtility::Model735);
  EXPECT_EQ(defaultPort.settings.ipAddress, "127.0.0.50");
  EXPECT_EQ(defaultPort.settings.port, 1001);

  const Parse normalised = parse({"QVK", "127.000.001.010:65535", "out.txt"});
  ASSERT_TRUE(normalised.ok);
  EXPECT_EQ(normalised.settings.model, ZqReadUtility::ModelQVK);
  EXPECT_EQ(normalised.settings.ipAddress, "127.0.1.10");
  EXPECT_EQ(normalised.settings.port, 65535);

  const Parse lowest = parse({"870", "127.0.0.1:1", "out.txt"});
  ASSERT_TRUE(lowest.ok);
  EXPECT_EQ(lowest.settings.port, 1);
}

TEST(LoadSettingsTest, ComPortIsDecimalDigitsOnly) {
  const struct {
    const char* text;
    int32_t port;
  } cases[] = {{"1", 1}, {"255", 255}, {"007", 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Parse p = parse({"2210", c.text, "out.txt"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.output, "");
    EXPECT_EQ(p.settings.port, c.port);
  }
  // A serial model given a network address is refused like any other text that is no port.
  for (const char* model : {"2210", "730"}) {
    for (const char* text : {"0", "256", "COM3", "-1", "", " 7", "3x", "+9", "127.0.0.1", "99999999999"}) {
      SCOPED_TRACE(std::string(model) + " " + text);
      const Parse p = parse({model, text, "out.txt"});
      EXPECT_FALSE(p.ok);
      EXPECT_TRUE(p.showUsage);
      EXPECT_EQ(p.output, console("Неверно указан COM порт " + std::string(text) + ".\n\n") + usage());
    }
  }
}

TEST(LoadSettingsTest, IpAddressIsFourNumbersUpTo255AndAnOptionalPortOfDigits) {
  for (const char* text : {"0.0.0.0", "255.255.255.255", "0127.00.000.0001"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parse({"870", text, "out.txt"}).ok);
  }
  // Each would have reached another address than the one typed, or none at all.
  const char* const refused[] = {
      "127.0.0.1x:5005", "1.2.3.4.5",  "300.1.1.1",     "1.2.3.256",    "1.2.3",        "1..2.3",       "1.2.3.",
      " 127.0.0.1",      "127.0.0.1 ", "1.2.3.-4",      "1.2.3.+4",     "localhost",    "200",          "",
      ":5005",           "127.0.0.1:", "127.0.0.1:abc", "127.0.0.1:-5", "127.0.0.1:+5", "127.0.0.1: 5", "127.0.0.1:5x",
      "127.0.0.1:5:6"};
  for (const char* text : refused) {
    for (const char* model : {"735", "870", "QVK", "2240"}) {
      SCOPED_TRACE(std::string(model) + " " + text);
      const Parse p = parse({model, text, "out.txt"});
      EXPECT_FALSE(p.ok);
      EXPECT_TRUE(p.showUsage);
      EXPECT_EQ(p.output, console("Неверно указан IP адрес " + std::string(text) + ".\n\n") + usage());
    }
  }
}

TEST(LoadSettingsTest, IpPortOutsideOneTo65535IsRejectedWithTheNumberRead) {
  const struct {
    const char* address;
    const char* shown;
  } cases[] = {{"127.0.0.1:0", "0"},
               {"127.0.0.1:00000", "0"},
               {"127.0.0.1:65536", "65536"},
               {"127.0.0.1:99999999999", "2147483647"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const Parse p = parse({"870", c.address, "out.txt"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.output, console("Неверно указан IP порт " + std::string(c.shown) + ".\n\n") + usage());
  }
}

TEST(LoadSettingsTest, CardFormatSwitch) {
  for (int format = 0; format <= 2; ++format) {
    const std::string argument = "-n" + std::to_string(format);
    const Parse p = parse({"870", "127.0.0.1", "out.txt", argument});
    ASSERT_TRUE(p.ok) << argument;
    EXPECT_EQ(p.settings.cardFormat, format);
  }
  for (const char* bad : {"-n3", "-nx", "-n-", "-n "}) {
    SCOPED_TRACE(bad);
    const Parse p = parse({"870", "127.0.0.1", "out.txt", bad});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.output, console("Неверно указан формат выходных данных " + std::string(bad) + ".\n\n") + usage());
  }
}

TEST(LoadSettingsTest, UnknownSwitchesAreInvalidParameters) {
  for (const char* bad : {"-n10", "-N1", "-DEBUG", "-x", "-C", "-U", "-cc", "-debugx", "debug", "", "/h", "-c "}) {
    SCOPED_TRACE(bad);
    const Parse p = parse({"870", "127.0.0.1", "out.txt", bad});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.output, console("Неверный параметр " + std::string(bad) + ".\n\n") + usage());
  }
}

TEST(LoadSettingsTest, ModelKeywordsAreExactAndCaseSensitive) {
  const struct {
    const char* keyword;
    int32_t model;
    const char* address;
  } models[] = {{"730", 1, "1"},          {"735", 2, "127.0.0.1"}, {"2210", 3, "1"},
                {"2240", 4, "127.0.0.1"}, {"870", 5, "127.0.0.1"}, {"QVK", 6, "127.0.0.1"}};
  for (const auto& m : models) {
    const Parse p = parse({m.keyword, m.address, "out.txt"});
    ASSERT_TRUE(p.ok) << m.keyword;
    EXPECT_EQ(p.settings.model, m.model) << m.keyword;
  }
  for (const char* bad : {"qvk", "Qvk", "8700", "87", "0870", "2210 ", "", "-h1"}) {
    SCOPED_TRACE(bad);
    const Parse p = parse({bad, "127.0.0.1", "out.txt"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.output, console("Неверно указан номер модели аппарата " + std::string(bad) + ".\n\n") + usage());
  }
}

TEST(LoadSettingsTest, AddressAndFileNameAreRequiredForEveryModelBut730) {
  const std::vector<std::vector<std::string>> incomplete = {
      {"735", "127.0.0.1"}, {"870", "127.0.0.1"}, {"QVK", "127.0.0.1"}, {"2240", "127.0.0.1"}, {"870"}, {"2210"},
      {"2210", "3"},        {"2210", "3", ""}};
  for (const std::vector<std::string>& args : incomplete) {
    SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] : args[0]);
    const Parse p = parse(args);
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(p.showUsage);
    EXPECT_EQ(p.output, usage());  // no message, the usage text alone
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"730"}, {"730", "2"}}) {
    const Parse nothingToDo = parse(args);
    ASSERT_TRUE(nothingToDo.ok);
    EXPECT_EQ(nothingToDo.output, "");
    EXPECT_EQ(nothingToDo.settings.port, args.size() > 1 ? 2 : 1001);
  }
}

TEST(LoadSettingsTest, NoArgumentsPrintTheUsageTextOnly) {
  const Parse p = parse({});
  EXPECT_FALSE(p.ok);
  EXPECT_TRUE(p.showUsage);
  EXPECT_EQ(p.output, usage());
}

TEST(LoadSettingsTest, HelpAndVersionOnTheirOwnAreAnswers) {
  for (const char* help : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(help);
    const Parse p = parse({help});
    EXPECT_TRUE(p.ok);
    EXPECT_FALSE(p.showUsage);
    EXPECT_EQ(p.output, usage());
    EXPECT_EQ(p.settings.model, ZqReadUtility::ModelNone);  // nothing to drive
  }
  const Parse version = parse({"--version"});
  EXPECT_TRUE(version.ok);
  EXPECT_EQ(version.output, std::string("Zq-ReadUtility ") + ZQ_VERSION + "\n");
  EXPECT_EQ(version.settings.model, ZqReadUtility::ModelNone);

  // Anywhere else they are what they always were: a model keyword that does not exist.
  const Parse notAlone = parse({"--version", "127.0.0.1", "out.txt"});
  EXPECT_FALSE(notAlone.ok);
  EXPECT_EQ(notAlone.output, console("Неверно указан номер модели аппарата --version.\n\n") + usage());
}

TEST(LoadSettingsTest, HelpInASwitchPositionStopsTheReadingWithoutAMessage) {
  const Parse p = parse({"870", "127.0.0.1", "out.txt", "-c", "/?", "-x", "-n9"});
  EXPECT_FALSE(p.ok);
  EXPECT_TRUE(p.showUsage);
  EXPECT_EQ(p.output, usage());
}

TEST(LoadSettingsTest, RepeatedSwitchesAreHarmlessAndTheLastCardFormatWins) {
  const Parse p = parse({"870", "127.0.0.1", "out.txt", "-c", "-debug", "-n2", "-c", "-u", "-debug", "-u", "-n1"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.output, "");
  EXPECT_EQ(p.settings.options, 3u);
  EXPECT_TRUE(p.settings.debug);
  EXPECT_EQ(p.settings.cardFormat, 1);

  const Parse onlyUpdate = parse({"870", "127.0.0.1", "out.txt", "-u"});
  ASSERT_TRUE(onlyUpdate.ok);
  EXPECT_EQ(onlyUpdate.settings.options, ZqReadUtility::OptionUpdateTime);
}

TEST(LoadSettingsTest, OnlyTheFirstErrorIsReported) {
  const Parse model = parse({"qvk", "0", "out.txt", "-x"});
  EXPECT_EQ(model.output, console("Неверно указан номер модели аппарата qvk.\n\n") + usage());

  const Parse port = parse({"870", "127.0.0.1:0", "out.txt", "-x", "-n9"});
  EXPECT_EQ(port.output, console("Неверно указан IP порт 0.\n\n") + usage());

  const Parse switches = parse({"870", "127.0.0.1", "out.txt", "-n9", "-x", "/?"});
  EXPECT_EQ(switches.output, console("Неверно указан формат выходных данных -n9.\n\n") + usage());
}

TEST(UsageTextTest, ThirtySixLinesWithoutTrailingBlanks) {
  const std::string text = ZqReadUtility::usageText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  size_t lines = 0;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(line.empty() || line.back() != ' ') << "line " << lines + 1;
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, 36u);
  EXPECT_EQ(start, text.size());
}

TEST(ModelNameTest, KeywordsAndUndefined) {
  EXPECT_STREQ(ZqReadUtility::modelName(1), "730");
  EXPECT_STREQ(ZqReadUtility::modelName(2), "735");
  EXPECT_STREQ(ZqReadUtility::modelName(3), "2210");
  EXPECT_STREQ(ZqReadUtility::modelName(4), "2240");
  EXPECT_STREQ(ZqReadUtility::modelName(5), "870");
  EXPECT_STREQ(ZqReadUtility::modelName(6), "QVK");
  EXPECT_STREQ(ZqReadUtility::modelName(0), "undefined");
  EXPECT_STREQ(ZqReadUtility::modelName(7), "undefined");
  EXPECT_STREQ(ZqReadUtility::modelName(-1), "undefined");
}

// An address is read once, into its numbers, and written back as them: leading zeros go. What is
// no address gives no text (the command line has refused it before).
TEST(NormalizeIpAddressTest, WritesTheFourNumbersOfAnAddressThatPassesTheCheck) {
  using ZqReadUtility::normalizeIpAddress;
  EXPECT_EQ(normalizeIpAddress("192.168.001.010"), "192.168.1.10");
  EXPECT_EQ(normalizeIpAddress("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(normalizeIpAddress("255.255.255.255"), "255.255.255.255");
  EXPECT_EQ(normalizeIpAddress("00000000127.0.0.001"), "127.0.0.1");
  for (const char* text : {"10.1", "1.2.3.4.5", "300.1.1.1", "-1.2.3.4", "", "localhost", "1..3", " 127.0.0.1",
                           "127.0.0.1x", "99999999999.1.1.1"}) {
    EXPECT_EQ(normalizeIpAddress(text), "") << text;
    EXPECT_FALSE(ZqReadUtility::isIpv4Address(text)) << text;
  }
}

TEST(IsDigitsTest, EveryCharacterADecimalDigit) {
  EXPECT_FALSE(ZqReadUtility::isDigits(nullptr));
  EXPECT_TRUE(ZqReadUtility::isDigits(""));
  EXPECT_TRUE(ZqReadUtility::isDigits("0123456789"));
  EXPECT_FALSE(ZqReadUtility::isDigits("1a"));
  EXPECT_FALSE(ZqReadUtility::isDigits("-1"));
  EXPECT_FALSE(ZqReadUtility::isDigits(" 1"));
}

namespace {

// Records the order of the terminal operations and answers as told.
class FakeTerminal : public Zq::ITerminal {
public:
  bool dumpResult = true;
  bool updateResult = true;
  bool resetResult = true;
  std::vector<std::string> calls;
  std::string dumpedFile;
  int32_t dumpedFormat = -1;

  bool connect(const Zq::Endpoint&) override { return true; }
  bool disconnect() override { return true; }
  bool dump(const std::string& fileName, Zq::CardFormat cardFormat) override {
    calls.push_back("dump");
    dumpedFile = fileName;
    dumpedFormat = cardFormat;
    return dumpResult;
  }
  bool updateDateTime() override {
    calls.push_back("updateDateTime");
    return updateResult;
  }
  bool reset() override {
    calls.push_back("reset");
    return resetResult;
  }
};

class UpdateTerminalDataTest : public ::testing::Test {
protected:
  // Runs updateTerminalData with the given switches; returns its result, fills `output`.
  ZqReadUtility::ExitCode update(FakeTerminal* terminal, uint32_t options) {
    application.settings.fileName = "out.txt";
    application.settings.cardFormat = Zq::CardHex8;
    application.settings.options = options;
    testing::internal::CaptureStdout();
    const ZqReadUtility::ExitCode result = application.updateTerminalData(terminal);
    output = capturedStdout();
    return result;
  }

  ZqTest::LogCapture log;
  Application application;
  std::string output;
};

}  // namespace

TEST_F(UpdateTerminalDataTest, DownloadThenClockThenClearing) {
  FakeTerminal terminal;
  ASSERT_EQ(update(&terminal, ZqReadUtility::OptionClear | ZqReadUtility::OptionUpdateTime), ZqReadUtility::ExitDone);
  EXPECT_EQ(terminal.calls, (std::vector<std::string>{"dump", "updateDateTime", "reset"}));
  EXPECT_EQ(terminal.dumpedFile, "out.txt");
  EXPECT_EQ(terminal.dumpedFormat, 2);
  EXPECT_EQ(output,
            "Data file \"out.txt\" written successfully.\n"
            "Date/time updated successfully.\n"
            "Data cleared successfully.\n");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(UpdateTerminalDataTest, FailedDownloadTouchesNeitherClockNorMemory) {
  FakeTerminal terminal;
  terminal.dumpResult = false;
  EXPECT_EQ(update(&terminal, ZqReadUtility::OptionClear | ZqReadUtility::OptionUpdateTime),
            ZqReadUtility::ExitNoDataFile);
  EXPECT_EQ(terminal.calls, (std::vector<std::string>{"dump"}));
  EXPECT_EQ(output, "Can't write data file \"out.txt\".\n");
  EXPECT_EQ(log.messagesAt("[ERROR] "), (std::vector<std::string>{"Can't write data file \"out.txt\" mode 2"}));
}

TEST_F(UpdateTerminalDataTest, FailedClockAndClearingAreReportedAndTheRunGoesOn) {
  FakeTerminal terminal;
  terminal.updateResult = false;
  terminal.resetResult = false;
  EXPECT_EQ(update(&terminal, ZqReadUtility::OptionClear | ZqReadUtility::OptionUpdateTime),
            ZqReadUtility::ExitStepFailed);
  EXPECT_EQ(terminal.calls, (std::vector<std::string>{"dump", "updateDateTime", "reset"}));
  EXPECT_EQ(output,
            "Data file \"out.txt\" written successfully.\n"
            "Can't update the date/time.\n"
            "Can't clean up the data.\n");
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (std::vector<std::string>{"Can't update the date/time", "Can't clean up the data"}));
  for (const std::string& line : log.lines()) EXPECT_NE(line.find(" at Application:"), std::string::npos) << line;

  // Either failure alone gives the same exit code and does not stop the other step.
  FakeTerminal clockOnly;
  clockOnly.updateResult = false;
  EXPECT_EQ(update(&clockOnly, ZqReadUtility::OptionClear | ZqReadUtility::OptionUpdateTime),
            ZqReadUtility::ExitStepFailed);
  EXPECT_EQ(clockOnly.calls, (std::vector<std::string>{"dump", "updateDateTime", "reset"}));
  FakeTerminal clearOnly;
  clearOnly.resetResult = false;
  EXPECT_EQ(update(&clearOnly, ZqReadUtility::OptionClear), ZqReadUtility::ExitStepFailed);
}

TEST_F(UpdateTerminalDataTest, WithoutSwitchesOnlyTheDownloadRuns) {
  FakeTerminal terminal;
  ASSERT_EQ(update(&terminal, 0), ZqReadUtility::ExitDone);
  EXPECT_EQ(terminal.calls, (std::vector<std::string>{"dump"}));
  EXPECT_EQ(output, "Data file \"out.txt\" written successfully.\n");

  FakeTerminal clearOnly;
  ASSERT_EQ(update(&clearOnly, ZqReadUtility::OptionClear), ZqReadUtility::ExitDone);
  EXPECT_EQ(clearOnly.calls, (std::vector<std::string>{"dump", "reset"}));
}

TEST_F(UpdateTerminalDataTest, MissingTerminalIsLogged) {
  EXPECT_EQ(update(nullptr, 3), ZqReadUtility::ExitNoDataFile);
  EXPECT_EQ(output, "");
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (std::vector<std::string>{"Application::updateTerminalData(): NULL == pITerminal"}));
}

TEST(ApplicationRunTest, ModelsWithoutADriverDoNothing) {
  for (const ZqReadUtility::Model model :
       {ZqReadUtility::Model730, ZqReadUtility::Model2240, ZqReadUtility::ModelNone}) {
    ZqTest::TempDir dir;
    Application application;
    application.settings.model = model;
    application.settings.fileName = dir.file("out.txt");
    testing::internal::CaptureStdout();
    EXPECT_EQ(application.run(), ZqReadUtility::ExitDone) << model;
    EXPECT_EQ(capturedStdout(), "") << model;
    EXPECT_FALSE(ZqTest::fileExists(application.settings.fileName)) << model;
  }
}

TEST(ApplicationInitTest, InvalidCommandLineFailsBeforeAnythingStarts) {
  ZqTest::TempDir dir;
  Application application;
  application.logFileName = dir.file("Zq-ReadUtility.log");
  std::string program = "Zq-ReadUtility.exe", model = "qvk", address = "1", file = "out.txt", debug = "-debug";
  char* argv[] = {program.data(), model.data(), address.data(), file.data(), debug.data(), nullptr};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(application.init(5, argv));
  capturedStdout();
  EXPECT_FALSE(ZqTest::fileExists(application.logFileName));
  EXPECT_FALSE(application.wsaContext.isStarted());
}
