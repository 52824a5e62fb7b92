// The console: code pages, locale and the program's console output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Common/PrintfFormat.h"

namespace Console {

// A reader of the output that went away (a closed pipe) must not end the run halfway, between
// the download and the clearing: console writes then fail quietly instead.
void keepRunningWithoutReader();

// A process started with standard input, output or error closed gets them on the null device, so
// that no socket or serial port ever takes their place: console text must never reach a terminal's
// line.
void reopenClosedStandardStreams();

// The command line as UTF-8 texts: on Windows the wide command line, so that no character outside
// the code page is replaced by a look-alike on the way in; elsewhere `argv` as it is.
std::vector<std::string> arguments(int argc, char** argv);

// Whether the process has a console whose code pages matter (always true where there are none).
bool attached();

// What a program's file name ends in here (".exe" on Windows), for texts that name the program as
// its user types it.
const char* executableSuffix();

// Zero when the console refused; `lastError` then tells why.
bool setInputCodePage(uint32_t codePage);
bool setOutputCodePage(uint32_t codePage);
long lastError();
// The runtime's locale; null when the system lacks it.
const char* setLocale(const char* locale);

// The program's texts (and the file names it is given) are UTF-8; the console wants them in its own
// encoding (its code page on Windows, where a character outside it becomes "?", never a look-alike;
// UTF-8 elsewhere).
std::string toConsoleEncoding(const std::string& utf8);
std::string utf8ToCp1251(const std::string& utf8);

// Whether a standard stream is a terminal (a console window), where colours may be shown.
bool isTerminal(std::FILE* stream);

// One line of UTF-8 text (without its end) on a standard stream, flushed at once (the nightly job's
// output is a log read while it runs): a console window shows every character (Windows is given
// UTF-16); a file or a pipe gets the UTF-8 bytes and a line feed.
void writeLine(std::FILE* stream, const std::string& utf8);

// The program's console and debug log as UTF-8. On Windows it writes its own lines in code page
// 1251 (the weekday of its log's time stamps): lines that are not UTF-8 are converted from it, so
// that the nightly job's logs hold one encoding; elsewhere the program writes UTF-8 already.
std::string programTextToUtf8(const std::string& text);

// printf on standard output, the formatted text converted to the console's encoding.
void print(const char* format, ...) ZQ_PRINTF_FORMAT(1, 2);
// Writes a text as it stands, converted to the console's encoding.
void write(const std::string& utf8);

}  // namespace Console
