// libFuzzer target: runs the whole extraction on the input as a level file, in a scratch
// folder of its own that is removed after every input.
#include "run.hpp"

#include "level_file.hpp"
#include "scratch_folder.hpp"
#include "wav.hpp"

#include <cstdlib>
#include <filesystem>

using namespace lvlsnd;

namespace fs = std::filesystem;

namespace {

// Inputs that would write more than this are skipped, to keep every run short.
constexpr std::int64_t maxGroupsPerInput = 4096;
constexpr std::int64_t maxEffectsPerInput = 256;

// Reads the sound table from memory the way a run does and tells whether its effects stay small.
bool writesLittle(const std::uint8_t* data, std::size_t size) {
  auto level = levelStreamOf({data, size});
  seekLevel(level, readSoundHeaderOffset(level));
  auto table = readSoundTable(level);
  std::int64_t groups = 0;
  std::int64_t effects = 0;
  for (const auto& entry : table.entries) {
    groups += entry.groupCount > 0 ? entry.groupCount : 0;
    effects += entry.groupCount != 0 ? 1 : 0;
  }
  return groups <= maxGroupsPerInput && effects <= maxEffectsPerInput;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* devNull = std::fopen("/dev/null", "w");
  const Console quiet{devNull, devNull};
  if (!writesLittle(data, size)) {
    return 0;
  }
  auto scratch = makeScratchFolder();
  auto level = (scratch / "level7.dat").string();
  writeInput(level, data, size);
  // Effect files go to the working directory; libFuzzer needs its own back for its files.
  auto fuzzerFolder = fs::current_path();
  fs::create_directory(scratch / "work");
  fs::current_path(scratch / "work");
  // A readable level file always completes; a WAV file or an effect file is refused.
  auto source = memorySource({data, size});
  bool refused = startsLikeWav({data, size}) || levelFileKind(source) == LevelFileKind::effect;
  if (runLevelFile(level.c_str(), quiet) != (refused ? exitComplaint : exitDone)) {
    std::abort();
  }
  fs::current_path(fuzzerFolder);
  fs::remove_all(scratch);
  return 0;
}
