#include "run.hpp"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::string utf8Of(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back(); // the terminating zero
  return utf8;
}

} // namespace

// Windows hands the arguments over as UTF-16. The tool works in UTF-8 throughout, so a path
// outside the ANSI code page still opens, and the console shows it as typed while the tool
// runs with the console's output code page set to UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int k = 0; k < argc; ++k) {
    arguments.push_back(utf8Of(argv[k]));
  }
  std::vector<const char*> argumentPointers;
  for (const auto& argument : arguments) {
    argumentPointers.push_back(argument.c_str());
  }
  const UINT consoleCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  int status = runTool(argc, argumentPointers.data(), {stdout, stderr});
  std::fflush(stdout);
  std::fflush(stderr);
  if (consoleCodePage != 0) {
    SetConsoleOutputCP(consoleCodePage);
  }
  return status;
}

#else

int main(int argc, char** argv) {
  return runTool(argc, argv, {stdout, stderr});
}

#endif
