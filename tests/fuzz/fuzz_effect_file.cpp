// libFuzzer target: converts the input, any length and any parameter bytes, as an effect file
// into a WAV file, through the same function as lvlsnd-wav, in a scratch folder of its own.
#include "scratch_folder.hpp"
#include "wav.hpp"
#include "wav_tool.hpp"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* devNull = std::fopen("/dev/null", "w");
  auto scratch = makeScratchFolder();
  auto effect = (scratch / "effect7_1.raw").string();
  writeInput(effect, data, size);
  const char* arguments[] = {"lvlsnd-wav", "--rate", "18900", effect.c_str()};
  int status = runWavTool(4, arguments, {devNull, devNull});
  // Whole groups convert without a complaint; a partial group is left out with one.
  auto groups = size / rawGroupSize;
  auto wavSize = fs::file_size(scratch / "effect7_1.wav");
  if (status != (size % rawGroupSize == 0 ? 0 : 1) ||
      wavSize != wavHeaderSize + groups * 2 * samplesPerEffectGroup) {
    std::abort();
  }
  fs::remove_all(scratch);
  return 0;
}
