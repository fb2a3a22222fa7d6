// lvlsnd-wav: turns effect files into WAV files that any player or sound editor opens.
#pragma once

#include "messages.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace lvlsnd {

// The WAV file's name beside the effect file: a trailing ".raw" in any case becomes ".wav",
// any other name gets ".wav" appended.
std::string wavNameFor(const std::string& effectPath);

// Converts the effect file whose bytes are `bytes`, called `name`, into its WAV file beside it
// at `rate`, as the program converts each file, without a page: from memory, for the fuzzer.
Outcome convertEffectBytes(std::span<const std::uint8_t> bytes, const std::string& name,
                           std::uint32_t rate, Console console);

// The whole program: options, then every effect file named; returns the exit status.
int lvlsndWavMain(int argc, const char* const* argv, Console console);

} // namespace lvlsnd
