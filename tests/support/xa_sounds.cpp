#include "xa_sounds.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace lvlsnd;

namespace {

std::vector<std::int16_t> synthesize(double seconds, auto sampleAt) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * sampleRate));
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<std::int16_t>(std::lround(sampleAt(static_cast<double>(k))));
  }
  return samples;
}

} // namespace

Bytes storedGroupsOf(const std::vector<SoundUnit>& even, const std::vector<SoundUnit>& odd) {
  auto groupCount = (std::max(even.size(), odd.size()) + 3) / 4;
  Bytes groups(groupCount * 120);
  for (std::size_t unitIndex = 0; unitIndex < 8 * groupCount; ++unitIndex) {
    const auto& units = unitIndex % 2 == 0 ? even : odd;
    auto source = unitIndex / 8 * 4 + unitIndex % 8 / 2;
    if (source >= units.size()) {
      continue;
    }
    auto* group = groups.data() + unitIndex / 8 * 120;
    auto unit = unitIndex % 8;
    group[unit] = units[source].parameter;
    // Byte unit/2 of each data word: even units in the low nibble, odd ones in the high.
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      auto nibble = units[source].nibbles[k];
      group[8 + 4 * k + unit / 2] |=
          static_cast<std::uint8_t>(unit % 2 == 0 ? nibble : nibble << 4);
    }
  }
  return groups;
}

std::vector<std::int16_t> toneSamples() {
  return synthesize(0.3, [](double k) {
    return 12000.0 * std::sin(2 * std::numbers::pi * 440.0 * k / sampleRate);
  });
}

std::vector<std::int16_t> sweepSamples() {
  constexpr double seconds = 0.4;
  constexpr double from = 200.0;
  constexpr double to = 4000.0;
  return synthesize(seconds, [](double k) {
    double t = k / sampleRate;
    double phase = 2 * std::numbers::pi * (from * t + (to - from) * t * t / (2 * seconds));
    return 9000.0 * std::sin(phase);
  });
}

std::vector<std::int16_t> noiseSamples() {
  constexpr double seconds = 0.2;
  std::uint32_t seed = 12345;
  return synthesize(seconds, [&seed](double k) {
    seed = seed * 1103515245u + 12345u;
    double white = static_cast<double>(seed >> 16 & 0x7FFF) / 0x7FFF * 2 - 1;
    return 14000.0 * white * (1 - k / (seconds * sampleRate));
  });
}

Bytes sampleLevelFile() {
  auto shared = storedGroupsOf(encodeUnits(toneSamples()), encodeUnits(sweepSamples()));
  auto noise = storedGroupsOf({}, encodeUnits(noiseSamples()));
  auto sharedGroups = static_cast<std::uint16_t>(shared.size() / 120);
  auto noiseGroups = static_cast<std::uint16_t>(noise.size() / 120);

  LevelLayout layout;
  layout.blockSizes[0] = 0x1234;
  layout.blockSizes[1] = 0x800;
  layout.blockSizes[3] = 0x2A0;
  layout.blockFill = 0x3C;
  layout.records = {{offsetToTail(1, 4, 0), sharedGroups, 0},
                    {offsetToTail(2, 4, 0), sharedGroups, 1},
                    {offsetToTail(3, 4, 0), 0, 0},
                    {offsetToTail(4, 4, shared.size()), noiseGroups, 1}};
  layout.tail = shared;
  layout.tail.insert(layout.tail.end(), noise.begin(), noise.end());
  return buildLevelFile(layout);
}
