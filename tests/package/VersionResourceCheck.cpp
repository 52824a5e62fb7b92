// Reads the version resource of a Windows program the way Explorer's Properties and
// VersionInfo do (GetFileVersionInfo, VerQueryValue) and checks it against the project.
// Usage: VersionResourceCheck <program.exe> <version>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failures = 0;

void expect(bool ok, const char* what, const std::string& found, const std::string& wanted) {
  std::printf("%-22s %s%s\n", what, found.c_str(), ok ? "" : "   <- WRONG");
  if (!ok) {
    std::printf("%-22s expected %s\n", "", wanted.c_str());
    ++failures;
  }
}

// "1.2.3" as the four numbers of the fixed block: missing numbers are zero.
std::vector<unsigned> versionNumbers(const std::string& text) {
  std::vector<unsigned> numbers;
  const char* p = text.c_str();
  while (*p != '\0' && numbers.size() < 4) {
    char* end = nullptr;
    numbers.push_back(static_cast<unsigned>(std::strtoul(p, &end, 10)));
    p = *end == '.' ? end + 1 : end;
  }
  numbers.resize(4, 0);
  return numbers;
}

std::string numeric(DWORD high, DWORD low) {
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(high)),
                static_cast<unsigned long>(LOWORD(high)), static_cast<unsigned long>(HIWORD(low)),
                static_cast<unsigned long>(LOWORD(low)));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: VersionResourceCheck <program.exe> <version>\n");
    return 2;
  }
  const char* program = argv[1];
  const std::string version = argv[2];

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(program, &ignored);
  if (size == 0) {
    std::printf("%s: no version resource (error %lu)\n", program, static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(program, 0, size, block.data())) {
    std::printf("%s: version resource unreadable (error %lu)\n", program, static_cast<unsigned long>(GetLastError()));
    return 1;
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed ||
      fixed->dwSignature != 0xFEEF04BDu) {
    std::printf("%s: no fixed version block\n", program);
    return 1;
  }
  const std::vector<unsigned> n = versionNumbers(version);
  char wantedNumeric[64];
  std::snprintf(wantedNumeric, sizeof wantedNumeric, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
  const std::string fileNumeric = numeric(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  const std::string productNumeric = numeric(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  expect(fileNumeric == wantedNumeric, "FileVersion (fixed)", fileNumeric, wantedNumeric);
  expect(productNumeric == wantedNumeric, "ProductVersion (fixed)", productNumeric, wantedNumeric);
  expect(fixed->dwFileType == VFT_APP, "FileType", fixed->dwFileType == VFT_APP ? "application" : "other",
         "application");

  // The strings live in the table the first translation names, as Explorer looks them up.
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof *translation) {
    std::printf("%s: no translation entry\n", program);
    return 1;
  }
  auto text = [&](const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage,
                  name);
    char* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &chars) || value == nullptr) {
      return std::string("(missing)");
    }
    return std::string(value);
  };
  const std::string productName = text("ProductName");
  const std::string originalName = text("OriginalFilename");
  const std::string internalName = text("InternalName");
  const std::string description = text("FileDescription");
  expect(text("FileVersion") == version, "FileVersion", text("FileVersion"), version);
  expect(text("ProductVersion") == version, "ProductVersion", text("ProductVersion"), version);
  expect(productName == "Zq-ReadUtility", "ProductName", productName, "Zq-ReadUtility");
  expect(originalName == "Zq-ReadUtility.exe", "OriginalFilename", originalName, "Zq-ReadUtility.exe");
  expect(internalName == "Zq-ReadUtility", "InternalName", internalName, "Zq-ReadUtility");
  expect(description != "(missing)" && !description.empty(), "FileDescription", description, "a description");
  return failures == 0 ? 0 : 1;
}
