// The command line of the companion programs, in the GNU manner: -h or --help, --version,
// options that take a value ("--rate HZ" or "--rate=HZ", "-o OUT" or "-oOUT"), and "--" to
// end the options so that an operand may start with "-".
#pragma once

#include "messages.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lvlsnd {

// The rate the game plays an effect at, in samples a second. The level file does not say it;
// 37800 is the rate of CD-ROM XA stereo audio, and its other rate is 18900.
inline constexpr std::uint32_t defaultEffectRate = 37800;
inline constexpr std::uint32_t lowestEffectRate = 1000;
inline constexpr std::uint32_t highestEffectRate = 192000;

// One option of a program's table, as getopt_long's tables name them: its names (a second one
// an alias, "-j" and "--jobs"), and the field of the program's options it fills: `value` for an
// option that takes one (left null when the option is not given), else `flag`.
struct Option {
  std::array<std::string_view, 2> names;
  const char** value = nullptr;
  bool* flag = nullptr;
};

struct CommandLine {
  std::vector<const char*> operands;
  bool help = false;
  bool version = false;
  Outcome problem; // what is wrong with the command line, named for the program when printed
};

// Reads all of `text` as a decimal number that fits `number`; false when it is not one.
template <typename Number> bool readDecimal(std::string_view text, Number& number) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc{} && end == text.data() + text.size();
}

// Reads the arguments after the program name. Reading stops at help, version or a problem.
CommandLine readCommandLine(int argc, const char* const* argv, std::span<const Option> options);

// Reads the value of --rate into `rate` (left at the default when there is none); a bad value
// becomes the command line's problem.
void readRateOption(CommandLine& line, const char* value, std::uint32_t& rate);

// A usage problem: what is wrong with a command line, named for the program when printed.
Problem usageProblem(const std::string& text);
// Takes `problem`, when there is one, as what is wrong with the operands, unless the command line
// has a problem already or asks for help or the version.
void noteOperandProblem(CommandLine& line, const Outcome& problem);

// What every companion program does first. A usage error prints the problem and the usage on
// standard error (status 2); help prints the usage and --version the program's name and
// version on standard output (status 0). Returns that status, or nothing when the run goes on.
std::optional<int> answerCommandLine(const CommandLine& line, const char* program,
                                     const char* usage, Console console);

} // namespace lvlsnd
