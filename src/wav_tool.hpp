// lvlsnd-wav: turns effect files into WAV files that any player or sound editor opens.
#pragma once

#include "platform.hpp"
#include "xa_adpcm.hpp"

#include <cstdint>
#include <span>
#include <string>

// The rate of CD-ROM XA stereo audio; its other rate is 18900. The level file does not say
// at which rate the game plays an effect.
inline constexpr std::uint32_t defaultWavRate = 37800;
inline constexpr std::uint32_t lowestWavRate = 1000;
inline constexpr std::uint32_t highestWavRate = 192000;

// Decodes the odd units of one raw group, carrying the predictor state on.
void decodeEffectGroup(std::span<const std::uint8_t, rawGroupSize> group, PredictorState& state,
                       std::span<std::int16_t, samplesPerEffectGroup> samples);

// The WAV file's name beside the effect file: a trailing ".raw" in any case becomes ".wav",
// any other name gets ".wav" appended.
std::string wavNameFor(const std::string& effectPath);

// The whole program: options, then every effect file named; returns the exit status.
int runWavTool(int argc, const char* const* argv, Console console);
