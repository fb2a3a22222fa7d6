// Effect extraction: the conversion of one stored group into one raw group, and the writer
// that turns every sound entry into an effect file.
#pragma once

#include "level_file.hpp"
#include "xa_adpcm.hpp"

#include <cstdint>
#include <string>

// Keeps the units the selector picks (0: the even units, any other value: the odd units),
// places them in the odd unit positions and zeroes the even ones.
RawGroup convertGroup(const StoredGroup& stored, std::uint8_t unitSelector);

// The effect file's name, "effect<level>_<index>.raw", in the working directory.
std::string effectFileName(std::int32_t levelNumber, int entryIndex);

// Writes one effect file for every sound entry whose group count is not 0. Returns false when
// the level file could not be read for some of them (those files are removed).
bool writeEffects(LevelRun& run, const SoundTable& table);
