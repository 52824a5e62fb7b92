// The command line: arguments split at NUL bytes, read as a user would type them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Application.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"Zq-ReadUtility"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  arguments.push_back(current);

  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  ZqReadUtility::Application application;
  application.loadSettings(static_cast<int>(arguments.size()), argv.data());

  const std::string address = ZqReadUtility::normalizeIpAddress(current);
  if (address.size() > 15) __builtin_trap();
  return 0;
}
