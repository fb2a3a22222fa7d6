#include "xa_sounds.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

// The prediction filters of XA ADPCM, in 1/64ths.
constexpr int filterCount = 4;
constexpr int filterGain[filterCount][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}};
constexpr int largestRange = 12;

struct DecoderState {
  int previous = 0;
  int beforePrevious = 0;
};

int clampSample(long value) {
  return static_cast<int>(std::clamp<long>(value, std::numeric_limits<std::int16_t>::min(),
                                           std::numeric_limits<std::int16_t>::max()));
}

// Encodes one unit with one filter and range; returns the squared error and updates `state`
// to what a decoder holds afterwards.
long encodeWith(std::span<const std::int16_t, samplesPerUnit> samples, int filter, int range,
                DecoderState& state, SoundUnit& unit) {
  const int shift = largestRange - range;
  long error = 0;
  for (std::size_t k = 0; k < samplesPerUnit; ++k) {
    int prediction = (state.previous * filterGain[filter][0] +
                      state.beforePrevious * filterGain[filter][1] + 32) >>
                     6;
    double step = static_cast<double>(1 << shift);
    long nibble = std::clamp(std::lround((samples[k] - prediction) / step), -8L, 7L);
    int decoded = clampSample(nibble * (1L << shift) + prediction);
    error += static_cast<long>(samples[k] - decoded) * (samples[k] - decoded);
    unit.nibbles[k] = static_cast<std::uint8_t>(nibble & 0x0F);
    state.beforePrevious = state.previous;
    state.previous = decoded;
  }
  unit.parameter = static_cast<std::uint8_t>(filter << 4 | range);
  return error;
}

SoundUnit encodeUnit(std::span<const std::int16_t, samplesPerUnit> samples, DecoderState& state) {
  SoundUnit best;
  DecoderState bestState;
  long bestError = std::numeric_limits<long>::max();
  for (int filter = 0; filter < filterCount; ++filter) {
    for (int range = 0; range <= largestRange; ++range) {
      SoundUnit unit;
      DecoderState tried = state;
      long error = encodeWith(samples, filter, range, tried, unit);
      if (error < bestError) {
        best = unit;
        bestState = tried;
        bestError = error;
      }
    }
  }
  state = bestState;
  return best;
}

std::vector<std::int16_t> synthesize(double seconds, auto sampleAt) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * sampleRate));
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<std::int16_t>(std::lround(sampleAt(static_cast<double>(k))));
  }
  return samples;
}

} // namespace

std::vector<SoundUnit> encodeUnits(std::span<const std::int16_t> samples) {
  std::vector<std::int16_t> padded(samples.begin(), samples.end());
  padded.resize((padded.size() + samplesPerUnit - 1) / samplesPerUnit * samplesPerUnit);
  std::vector<SoundUnit> units;
  DecoderState state;
  for (std::size_t at = 0; at < padded.size(); at += samplesPerUnit) {
    units.push_back(encodeUnit(std::span(padded).subspan(at).first<samplesPerUnit>(), state));
  }
  return units;
}

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
