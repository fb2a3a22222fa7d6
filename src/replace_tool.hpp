// lvlsnd-replace: encodes a WAV file into the stored groups of one sound entry of a level
// file, leaving every other byte of the file as it was.
#pragma once

#include "platform.hpp"
#include "xa_adpcm.hpp"

#include <cstdint>
#include <span>

// Puts four encoded units into the units of a stored group that the selector names (0: units
// 0, 2, 4, 6; any other value: units 1, 3, 5, 7): their parameter bytes and their nibbles.
// The other four units stay as they are.
void storeUnits(StoredGroup& group, std::uint8_t unitSelector,
                std::span<const SoundUnit, unitsPerEffectGroup> units);

// The whole program: options, level file, entry index, WAV file; returns the exit status.
int runReplaceTool(int argc, const char* const* argv, Console console);
