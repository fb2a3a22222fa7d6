#include "command_line.hpp"

CommandLine readCommandLine(int argc, const char* const* argv, std::string_view valueOption) {
  CommandLine line;
  bool optionsEnded = false;
  // A long option takes its value after "=", a short one right after its letter.
  std::string attached(valueOption);
  if (valueOption.starts_with("--")) {
    attached += '=';
  }
  for (int k = 1; k < argc && line.problem.empty() && !line.help && !line.version; ++k) {
    std::string_view argument = argv[k];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      line.operands.push_back(argv[k]);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      line.help = true;
    } else if (argument == "--version") {
      line.version = true;
    } else if (argument == valueOption) {
      line.value = k + 1 < argc ? argv[++k] : nullptr;
      if (line.value == nullptr) {
        line.problem = std::string(valueOption) + " needs a value";
      }
    } else if (argument.starts_with(attached)) {
      line.value = argv[k] + attached.size();
    } else {
      line.problem = "unknown option '" + std::string(argument) + "'";
    }
  }
  return line;
}
