// The command line of the companion programs, in the GNU manner: -h or --help, --version,
// options that take a value ("--rate HZ" or "--rate=HZ", "-o OUT" or "-oOUT"), and "--" to
// end the options so that an operand may start with "-".
#pragma once

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct CommandLine {
  std::vector<const char*> operands;
  std::vector<const char*> values; // each value option's value, in order; null when not given
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
CommandLine readCommandLine(int argc, const char* const* argv,
                            std::initializer_list<std::string_view> valueOptions);

// The rate the game plays an effect at, in samples a second. The level file does not say it;
// 37800 is the rate of CD-ROM XA stereo audio, and its other rate is 18900.
inline constexpr std::uint32_t defaultEffectRate = 37800;
inline constexpr std::uint32_t lowestEffectRate = 1000;
inline constexpr std::uint32_t highestEffectRate = 192000;

// Reads the value of --rate into `rate` (left at the default when there is none); a bad value
// becomes the command line's problem.
void readRateOption(CommandLine& line, const char* value, std::uint32_t& rate);
