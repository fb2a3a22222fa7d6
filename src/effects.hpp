// Effect extraction: the conversion of one stored group into one raw group, and the writer
// that turns every sound entry into an effect file.
#pragma once

#include "level_file.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// A stored group: the sound parameters of units 0 to 7, one byte each, then 28 words of
// sample data in which byte k carries unit 2k in its low nibble and unit 2k + 1 in its high
// nibble.
inline constexpr std::size_t soundUnitCount = 8;
inline constexpr std::size_t sampleDataSize = 112;
inline constexpr std::size_t storedGroupSize = soundUnitCount + sampleDataSize;

// A raw group has the layout of a 4-bit ADPCM sound group of CD-ROM XA audio: each run of
// four parameter bytes is written twice before the same sample data.
inline constexpr std::size_t rawGroupSize = 2 * soundUnitCount + sampleDataSize;

using StoredGroup = std::array<std::uint8_t, storedGroupSize>;
using RawGroup = std::array<std::uint8_t, rawGroupSize>;

// Keeps the units the selector picks (0: the even units, any other value: the odd units),
// places them in the odd unit positions and zeroes the even ones.
RawGroup convertGroup(const StoredGroup& stored, std::uint8_t unitSelector);

// The effect file's name, "effect<level>_<index>.raw", in the working directory.
std::string effectFileName(std::int32_t levelNumber, int entryIndex);

// Writes one effect file for every sound entry whose group count is not 0.
void writeEffects(LevelRun& run, const SoundTable& table);
