#include "run.hpp"

#include "effects.hpp"

#include <cinttypes>
#include <limits>

namespace lvlsnd {

std::int32_t levelNumberFromPath(const char* path) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (*path != '\0' && !isDigit(*path)) {
    ++path;
  }
  constexpr auto largest = std::numeric_limits<std::int32_t>::max();
  std::int32_t number = 0;
  for (; isDigit(*path); ++path) {
    auto digit = *path - '0';
    if (number > (largest - digit) / 10) {
      return largest;
    }
    number = number * 10 + digit;
  }
  return number;
}

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

int runLevelFile(const char* path, Console console) {
  auto run = openLevelRun(path, console);
  if (run.level.source.file == nullptr) {
    complain(console, {path, "Cannot open", ""});
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
