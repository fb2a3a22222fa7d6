// The front end: the command line, the run sequence over one level file and the exit status.
#pragma once

#include "level_file.hpp"

#include <cstdint>

inline constexpr int exitCompleted = 0;
inline constexpr int exitCannotOpen = 1;
inline constexpr int exitCannotRead = 1; // a read error, in the sound table or an effect
inline constexpr int exitUsage = 2;

// The level number is the first run of decimal digits anywhere in the path, directory names
// included; 0 when there is none. Too many digits saturate at the largest 32-bit value.
std::int32_t levelNumberFromPath(const char* path);

// Opens the level file at `path` for a run; the run's level file is null when it cannot be
// opened.
LevelRun openLevelRun(const char* path, Console console);

// Extracts the sound effects of the level file at `path` into the working directory and
// returns the exit status: 0 when every effect was read in full (some may not have been
// created or written), 1 when the level file cannot be opened or read.
int runLevelFile(const char* path, Console console);

// The whole tool: exactly one argument, the level file, or the usage text.
int runTool(int argc, const char* const* argv, Console console);
