// lvlsnd's front end: the command line, the run sequence over one level file and the exit
// status.
#pragma once

#include "effect_names.hpp"
#include "level_file.hpp"
#include "messages.hpp"

#include <cstdint>

namespace lvlsnd {

// One run over one level file: the path as typed, the level number that names the effect
// files, the open level file and where messages go.
struct LevelRun {
  const char* path = nullptr;
  std::int32_t levelNumber = 0;
  LevelStream level;
  Console console{};
};

// Opens the level file at `path` for a run; the run's level file is null when it cannot be
// opened.
LevelRun openLevelRun(const char* path, Console console);

// Reads the block header from the freshly opened level file, then the sound table from the
// start of block 4, printing a line before each.
SoundTable readTables(LevelRun& run);

// Extracts the sound effects of the level file at `path` into the working directory and
// returns the exit status: 0 when every effect file was written, 1 when the level file cannot
// be opened or read, or some effect file could not be created or written.
int runLevelFile(const char* path, Console console);

// The whole program: exactly one argument, the level file, or the usage text.
int lvlsndMain(int argc, const char* const* argv, Console console);

} // namespace lvlsnd
