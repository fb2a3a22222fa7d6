// libFuzzer target: reads the input as a WAV file with the replacer's reader, from memory through
// the reader's one read path, and resamples what it reads to the effect's rate.
#include "resample.hpp"
#include "wav.hpp"

#include <cstdlib>

using namespace lvlsnd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An entry holds at most 32767 groups of 112 samples; fuzz inputs are far shorter.
  constexpr std::size_t wantedSamples = 4096;
  auto source = memorySource({data, size});
  WavSound sound;
  auto problem = readWavSound(source, wantedSamples, sound);
  if (sound.samples.size() > wantedSamples || (problem && problem->text.size() > 80)) {
    std::abort();
  }
  // A sound at any rate lvlsnd-replace takes is resampled to the effect's, to its whole length.
  constexpr std::uint32_t effectRate = 37800;
  auto rate = sound.layout.sampleRate;
  if (!problem && rate >= lowestWavRate && rate <= highestWavRate) {
    auto samples = resampled(sound.samples, sound.samples.size(), rate, effectRate);
    if (samples.size() != resampledLength(sound.samples.size(), rate, effectRate)) {
      std::abort();
    }
  }
  return 0;
}
