// The console: code pages, locale and the program's console output.
#pragma once

#include <cstdint>
#include <string>

#include "Log.h"

namespace Console {

// A reader of the output that went away (a closed pipe) must not end the run halfway, between
// the download and the clearing: console writes then fail quietly instead.
void keepRunningWithoutReader();

// Zero when the console refused; `lastError` then tells why.
bool setInputCodePage(uint32_t codePage);
bool setOutputCodePage(uint32_t codePage);
long lastError();
// The runtime's locale; null when the system lacks it.
const char* setLocale(const char* locale);

// The program's texts are UTF-8 in the sources; the console wants them in its own encoding
// (Windows-1251 on Windows, UTF-8 elsewhere).
std::string toConsoleEncoding(const std::string& utf8);
std::string utf8ToCp1251(const std::string& utf8);

// printf on standard output, with the format converted to the console's encoding.
void print(const char* format, ...) ZQ_PRINTF_FORMAT(1, 2);
// Writes a text as it stands, converted to the console's encoding.
void write(const std::string& utf8);

}  // namespace Console
