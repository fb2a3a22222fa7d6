#include "sound_encoding.hpp"

#include "resample.hpp"
#include "xa_encoder.hpp"

#include <algorithm>
#include <string_view>

namespace lvlsnd {

bool takesRate(std::uint32_t wavRate) {
  return wavRate >= lowestWavRate && wavRate <= highestWavRate;
}

Outcome readSoundFor(ByteSource& source, std::uint64_t effectSamples, std::uint32_t rate,
                     WavSound& sound) {
  if (auto problem = readWavLayout(source, sound.layout)) {
    return problem;
  }
  auto from = sound.layout.sampleRate;
  auto wanted = from == rate ? effectSamples : framesFor(effectSamples, from, rate);
  sound.samples.resize(
      takesRate(from) ? static_cast<std::size_t>(std::min(wanted, sound.layout.frames)) : 0);
  return readWavFrames(source, sound.layout, 0, sound.samples);
}

std::uint64_t lengthAtRate(const WavSound& sound, std::uint32_t rate) {
  auto from = sound.layout.sampleRate;
  return from == rate ? sound.layout.frames : resampledLength(sound.layout.frames, from, rate);
}

std::vector<std::int16_t> samplesForEffect(const WavSound& sound, std::uint32_t rate,
                                           std::uint64_t effectSamples) {
  auto from = sound.layout.sampleRate;
  auto samples =
      from == rate ? sound.samples : resampled(sound.samples, sound.layout.frames, from, rate);
  samples.resize(static_cast<std::size_t>(effectSamples));
  return samples;
}

Digest encodingKey(const WavSound& sound, std::uint32_t rate, std::uint64_t effectSamples,
                   bool cut) {
  DigestStream key;
  std::string_view encoder = "lvlsnd " LVLSND_VERSION " encoder edition ";
  key.add({reinterpret_cast<const std::uint8_t*>(encoder.data()), encoder.size()});
  for (std::uint64_t number :
       {std::uint64_t{encoderEdition}, std::uint64_t{sound.layout.sampleRate}, sound.layout.frames,
        std::uint64_t{rate}, effectSamples, std::uint64_t{cut},
        std::uint64_t{sound.samples.size()}}) {
    key.addNumber(number);
  }
  // The samples little-endian, a few thousand at a time.
  std::array<std::uint8_t, 8192> bytes{};
  for (std::size_t at = 0; at < sound.samples.size();) {
    auto count = std::min(sound.samples.size() - at, bytes.size() / 2);
    for (std::size_t k = 0; k < count; ++k) {
      putU16le(bytes.data() + 2 * k, static_cast<std::uint16_t>(sound.samples[at + k]));
    }
    key.add(std::span(bytes).first(2 * count));
    at += count;
  }
  return key.digest();
}

Digest digestOfUnits(std::span<const SoundUnit> units) {
  DigestStream digest;
  for (std::size_t at = 0; at + unitsPerEffectGroup <= units.size(); at += unitsPerEffectGroup) {
    StoredGroup stored{};
    storeUnits(stored, 1, units.subspan(at).first<unitsPerEffectGroup>());
    digest.add(convertGroup(stored, 1));
  }
  return digest.digest();
}

Digest digestOfStoredGroups(std::span<const StoredGroup> groups, std::uint8_t unitSelector) {
  DigestStream digest;
  for (const auto& group : groups) {
    digest.add(convertGroup(group, unitSelector));
  }
  return digest.digest();
}

} // namespace lvlsnd
