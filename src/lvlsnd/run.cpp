#include "run.hpp"

#include "effects.hpp"

#include "file_update.hpp"

#include "wav.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>

namespace lvlsnd {

LevelRun openLevelRun(const char* path, Console console) {
  LevelRun run;
  run.path = path;
  run.console = console;
  run.level = openLevelStream(path);
  run.levelNumber = levelNumberFromPath(path);
  return run;
}

SoundTable readTables(LevelRun& run) {
  std::fprintf(run.console.out, "Reading block header from %s @$0...\n", run.path);
  auto headerOffset = readSoundHeaderOffset(run.level);
  seekLevel(run.level, headerOffset);
  std::fprintf(run.console.out, "Reading sound header from %s @$%" PRIx32 "...\n", run.path,
               headerOffset);
  return readSoundTable(run.level);
}

namespace {

// Why the opened file is not to be read as a level file: a WAV file or an effect file given by
// mistake would read as a level file of noise, whose effects might be written over the real
// ones of its level, and a file whose start cannot be read might be one. The stream is left at
// its start.
Outcome problemOfStart(LevelStream& level, const char* path) {
  std::array<std::uint8_t, 12> start{};
  readBytes(level, start);
  seekLevel(level, 0);
  if (level.failed) {
    return Problem{path, "Cannot read", ""};
  }
  if (startsLikeWav(start)) {
    return Problem{path, "A WAV file, not a level file", ""};
  }
  switch (levelFileKind(level.source)) {
  case LevelFileKind::effect:
    return Problem{path, "An effect file, not a level file", ""};
  case LevelFileKind::unreadable:
    return Problem{path, "Cannot read", ""};
  case LevelFileKind::level:
    break;
  }
  return std::nullopt;
}

} // namespace

int runLevelFile(const char* path, Console console) {
  FoldersOfRun folders;
  auto run = openLevelRun(path, console);
  if (run.level.source.file == nullptr) {
    complain(console, {path, "Cannot open", ""});
    return exitComplaint;
  }
  if (auto problem = problemOfStart(run.level, path)) {
    complain(console, *problem);
    closeLevelStream(run.level);
    return exitComplaint;
  }
  std::fprintf(console.out, "Extracting Orrelin sound effects from level %d data:\n",
               run.levelNumber);
  auto table = readTables(run);
  bool allWritten = !run.level.failed && writeEffects(run, table);
  if (run.level.failed) {
    // A table read in part would name effects that are not in the file.
    complain(console, {path, "Cannot read", ""});
  }
  closeLevelStream(run.level);
  return allWritten ? exitDone : exitComplaint;
}

int lvlsndMain(int argc, const char* const* argv, Console console) {
  if (argc != 2) {
    std::fputs("Usage: lvlsnd levelN.dat\n"
               "Function: Extracts Orrelin sound effects from level data\n"
               "Raw sound effect data is written to effectN_M.raw\n"
               "Written by the lvlsnd developers\n",
               console.err);
    return exitUsage;
  }
  return runLevelFile(argv[1], console);
}

} // namespace lvlsnd
