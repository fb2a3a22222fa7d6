// Synthetic sounds encoded as 4-bit XA ADPCM sound units, laid into the stored groups of a
// level file. They make the sample level file and let tests decode what the tool extracted.
#pragma once

#include "level_builder.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::size_t samplesPerUnit = 28;
inline constexpr int sampleRate = 37800;

// One sound unit: its parameter byte (filter in the high nibble, range in the low nibble)
// and its 28 four-bit samples.
struct SoundUnit {
  std::uint8_t parameter = 0;
  std::array<std::uint8_t, samplesPerUnit> nibbles{};
};

// Encodes `samples`, padded with silence to whole units, as consecutive units, each with the
// filter and range that decode closest to it; the decoder's state runs on from unit to unit.
std::vector<SoundUnit> encodeUnits(std::span<const std::int16_t> samples);

// Stored groups that carry `even` in units 0, 2, 4, 6 and `odd` in units 1, 3, 5, 7, four
// units of each a group, in order; the shorter one is followed by silent units.
Bytes storedGroupsOf(const std::vector<SoundUnit>& even, const std::vector<SoundUnit>& odd);

std::vector<std::int16_t> toneSamples();  // 0.3 s of 440 Hz
std::vector<std::int16_t> sweepSamples(); // 0.4 s rising from 200 Hz to 4 kHz
std::vector<std::int16_t> noiseSamples(); // 0.2 s of fading noise

// The sample level file: level 3, with the tone (even units) and the sweep (odd units) in
// shared stored groups, an entry with no groups, and the noise burst in odd units of its own.
inline constexpr int sampleLevel = 3;
inline constexpr int sampleToneEntry = 1;
Bytes sampleLevelFile();
