// libFuzzer target: converts the input, any length and any bytes, as an effect file read from
// memory into a WAV file, through the same code as lvlsnd-wav, in a scratch folder of its own.
#include "scratch_folder.hpp"
#include "wav.hpp"
#include "wav_tool.hpp"
#include "xa_adpcm.hpp"

#include <cstring>

using namespace lvlsnd;

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* devNull = std::fopen("/dev/null", "w");
  auto scratch = makeScratchFolder();
  auto effect = (scratch / "effect7_1.raw").string();
  auto problem = convertEffectBytes({data, size}, effect, 18900, {devNull, devNull});
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
                  ? problem && !fs::exists(wav)
                  : problem.has_value() == (size % rawGroupSize != 0) &&
                        fs::file_size(wav) == wavHeaderSize + groups * 2 * samplesPerEffectGroup;
  if (!held) {
    std::abort();
  }
  fs::remove_all(scratch);
  return 0;
}
