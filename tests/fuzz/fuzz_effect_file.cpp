// libFuzzer target: converts the input, any length and any bytes, as an effect file into a WAV
// file, through the same function as lvlsnd-wav, in a scratch folder of its own.
#include "scratch_folder.hpp"
#include "wav.hpp"
#include "wav_tool.hpp"
#include "xa_adpcm.hpp"

#include <cstring>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* devNull = std::fopen("/dev/null", "w");
  auto scratch = makeScratchFolder();
  auto effect = (scratch / "effect7_1.raw").string();
  writeInput(effect, data, size);
  const char* arguments[] = {"lvlsnd-wav", "--rate", "18900", effect.c_str()};
  int status = runWavTool(4, arguments, {devNull, devNull});
  // A WAV file, or a file with a group that is no XA sound group, is refused with nothing
  // written; otherwise whole groups convert without a complaint, and a partial group is left
  // out with one.
  bool wavFile =
      size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WAVE", 4) == 0;
  auto groups = size / rawGroupSize;
  bool soundGroups = true;
  for (std::size_t k = 0; k < groups; ++k) {
    soundGroups =
        soundGroups &&
        isXaSoundGroup(std::span(data + k * rawGroupSize, rawGroupSize).first<rawGroupSize>());
  }
  auto wav = scratch / "effect7_1.wav";
  bool held = wavFile || !soundGroups
                  ? status == 1 && !fs::exists(wav)
                  : status == (size % rawGroupSize == 0 ? 0 : 1) &&
                        fs::file_size(wav) == wavHeaderSize + groups * 2 * samplesPerEffectGroup;
  if (!held) {
    std::abort();
  }
  fs::remove_all(scratch);
  return 0;
}
