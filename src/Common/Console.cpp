// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/Console.h"

#include <cstdarg>
#include <cstdio>

namespace Console {

std::string utf8ToCp1251(const std::string& utf8) {
  std::string result;
  result.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      result += static_cast<char>(lead);
      ++i;
      continue;
    }
    // Two-byte sequences cover Cyrillic; anything else is not in the program's texts.
    if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      const unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      i += 2;
      if (code >= 0x410 && code <= 0x44F) result += static_cast<char>(code - 0x410 + 0xC0);
      else if (code == 0x401) result += static_cast<char>(0xA8);  // Ё
      else if (code == 0x451) result += static_cast<char>(0xB8);  // ё
      else result += '?';
      continue;
    }
    result += '?';
    ++i;
    while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
  }
  return result;
}

void print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  const int length = std::vsnprintf(nullptr, 0, format, args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  va_end(again);
  va_end(args);
  write(text);
}

void write(const std::string& utf8) {
  const std::string converted = toConsoleEncoding(utf8);
  std::fwrite(converted.data(), 1, converted.size(), stdout);
  std::fflush(stdout);
}

}  // namespace Console

#ifdef _WIN32
#include "Common/Win32/Console.inc"
#else
#include "Common/Posix/Console.inc"
#endif
