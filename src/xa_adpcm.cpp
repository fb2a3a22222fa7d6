#include "xa_adpcm.hpp"

#include <limits>

namespace {

// The prediction filters, in 1/64ths of the last sample and of the one before it.
constexpr int filterGains[filterCount][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}};

// The 4-bit sample that comes closest to what the prediction left over: the difference
// divided by the step, rounded half away from zero, within -8 to 7.
int nearestSample(int difference, int shift) {
  int half = (1 << shift) >> 1;
  int quotient = difference >= 0 ? (difference + half) >> shift : -((half - difference) >> shift);
  return std::clamp(quotient, -8, 7);
}

// Encodes `samples` with one coding into `unit`, as long as its squared error stays below
// `bound`. Returns the squared error (at least `bound` once it was given up).
std::int64_t encodeWith(std::span<const std::int16_t, samplesPerUnit> samples,
                        const UnitCoding& coding, std::int64_t bound, PredictorState& state,
                        SoundUnit& unit) {
  std::int64_t error = 0;
  for (std::size_t k = 0; k < samplesPerUnit && error < bound; ++k) {
    int sample = nearestSample(samples[k] - predicted(coding, state), coding.shift);
    std::int64_t difference = samples[k] - decodeSample(sample, coding, state);
    error += difference * difference;
    unit.nibbles[k] = static_cast<std::uint8_t>(sample & 0x0F);
  }
  return error;
}

} // namespace

UnitCoding unitCoding(int filter, int range) {
  return {filterGains[filter][0], filterGains[filter][1], largestRange - range};
}

UnitCoding unitCodingOf(std::uint8_t parameter) {
  int range = parameter & 0x0F;
  return unitCoding(parameter >> 4 & 0x03, range > largestRange ? 9 : range);
}

SoundUnit encodeUnit(std::span<const std::int16_t, samplesPerUnit> samples, PredictorState& state) {
  SoundUnit best;
  PredictorState bestState;
  std::int64_t bestError = std::numeric_limits<std::int64_t>::max();
  for (int filter = 0; filter < filterCount; ++filter) {
    for (int range = 0; range <= largestRange; ++range) {
      SoundUnit unit;
      PredictorState tried = state;
      auto error = encodeWith(samples, unitCoding(filter, range), bestError, tried, unit);
      if (error < bestError) {
        unit.parameter = static_cast<std::uint8_t>(filter << 4 | range);
        best = unit;
        bestState = tried;
        bestError = error;
      }
    }
  }
  state = bestState;
  return best;
}

std::vector<SoundUnit> encodeUnits(std::span<const std::int16_t> samples) {
  std::vector<std::int16_t> padded(samples.begin(), samples.end());
  padded.resize((padded.size() + samplesPerUnit - 1) / samplesPerUnit * samplesPerUnit);
  std::vector<SoundUnit> units;
  PredictorState state;
  for (std::size_t at = 0; at < padded.size(); at += samplesPerUnit) {
    units.push_back(encodeUnit(std::span(padded).subspan(at).first<samplesPerUnit>(), state));
  }
  return units;
}
