// libFuzzer target: reads the input as a WAV file with the replacer's reader, through a file
// like the program does.
#include "scratch_folder.hpp"
#include "wav.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An entry holds at most 32767 groups of 112 samples; fuzz inputs are far shorter.
  constexpr std::size_t wantedSamples = 4096;
  auto scratch = makeScratchFolder();
  auto wav = scratch / "sound.wav";
  writeInput(wav, data, size);
  std::FILE* file = std::fopen(wav.c_str(), "rb");
  WavSound sound;
  auto problem = readWavSound(file, wantedSamples, sound);
  std::fclose(file);
  if (sound.samples.size() > wantedSamples || (!problem.empty() && problem.size() > 80)) {
    std::abort();
  }
  std::filesystem::remove_all(scratch);
  return 0;
}
