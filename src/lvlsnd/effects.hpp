// The effect writer: every sound entry of the table becomes an effect file of raw groups.
#pragma once

#include "run.hpp"

#include <cstdint>
#include <string>

namespace lvlsnd {

// The effect file's name, "effect<level>_<index>.raw", in the working directory.
std::string effectFileName(std::int32_t levelNumber, int entryIndex);

// Writes one effect file for every sound entry whose group count is not 0. Returns false when
// some could not be created or written, or the level file could not be read for them (each
// complained of; those files are as they were).
bool writeEffects(LevelRun& run, const SoundTable& table);

} // namespace lvlsnd
