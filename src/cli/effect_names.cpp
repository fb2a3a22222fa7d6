#include "effect_names.hpp"

#include "command_line.hpp"
#include "paths.hpp"

#include <algorithm>
#include <limits>

namespace lvlsnd {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The first run of decimal digits in `text` as a number, saturated at the largest 32-bit one;
// nothing when `text` holds no digit.
std::optional<std::int32_t> firstNumberIn(std::string_view text) {
  auto start = std::find_if(text.begin(), text.end(), isDigit);
  if (start == text.end()) {
    return std::nullopt;
  }
  constexpr auto largest = std::numeric_limits<std::int32_t>::max();
  std::int32_t number = 0;
  for (auto at = start; at != text.end() && isDigit(*at); ++at) {
    auto digit = *at - '0';
    if (number > (largest - digit) / 10) {
      return largest;
    }
    number = number * 10 + digit;
  }
  return number;
}

// Reads all of `text`, decimal digits alone, into `number`.
template <typename Number> bool readDigits(std::string_view text, Number& number) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isDigit) &&
         readDecimal(text, number);
}

} // namespace

std::int32_t levelNumberFromPath(const char* path) {
  // The file's own name decides: a folder such as "disc1" or "Orrelin 2" would otherwise give
  // every level in it one number, and one level's effects would overwrite another's.
  if (auto number = firstNumberIn(lastNameOf(path))) {
    return *number;
  }
  return firstNumberIn(path).value_or(0);
}

bool endsInAnyCase(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         std::equal(
             ending.begin(), ending.end(), text.end() - std::ssize(ending),
             [](char lower, char c) { return (c >= 'A' && c <= 'Z' ? c + 32 : c) == lower; });
}

std::optional<EffectName> effectNameOf(const std::string& path, std::string_view extension) {
  auto fileName = lastNameOf(path);
  std::string_view name = fileName;
  constexpr std::string_view prefix = "effect";
  if (name.size() <= prefix.size() + extension.size() ||
      !endsInAnyCase(name.substr(0, prefix.size()), prefix) || !endsInAnyCase(name, extension)) {
    return std::nullopt;
  }
  auto numbers = name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
  auto separator = numbers.find('_');
  EffectName effect;
  if (separator == std::string_view::npos ||
      !readDigits(numbers.substr(0, separator), effect.level) ||
      !readDigits(numbers.substr(separator + 1), effect.index)) {
    return std::nullopt;
  }
  return effect;
}

} // namespace lvlsnd
