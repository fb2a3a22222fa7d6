// The command line of the companion programs, in the GNU manner: -h or --help, --version,
// one option that takes a value ("--rate HZ" or "--rate=HZ", "-o OUT" or "-oOUT"), and "--"
// to end the options so that an operand may start with "-".
#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

struct CommandLine {
  std::vector<const char*> operands;
  const char* value = nullptr; // the value option's value; null when it is not given
  bool help = false;
  bool version = false;
  std::string problem; // what is wrong with the command line; empty when nothing is
};

// Reads all of `text` as a decimal number that fits `number`; false when it is not one.
template <typename Number> bool readDecimal(std::string_view text, Number& number) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc{} && end == text.data() + text.size();
}

// Reads the arguments after the program name. Reading stops at help, version or a problem.
CommandLine readCommandLine(int argc, const char* const* argv, std::string_view valueOption);
