#include "xa_adpcm.hpp"

namespace lvlsnd {

namespace {

// The prediction filters, in 1/64ths of the last sample and of the one before it.
constexpr int filterGains[filterCount][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}};

} // namespace

bool isXaSoundGroup(std::span<const std::uint8_t, rawGroupSize> group) {
  const auto* bytes = group.data();
  return std::equal(bytes, bytes + 4, bytes + 4) && std::equal(bytes + 8, bytes + 12, bytes + 12);
}

RawGroup convertGroup(const StoredGroup& stored, std::uint8_t unitSelector) {
  RawGroup raw;
  // The selected units' parameters go to the odd positions of each run of four; the run is
  // written twice.
  const std::size_t firstUnit = unitSelector == 0 ? 0 : 1;
  for (std::size_t half = 0; half < 2; ++half) {
    const auto* parameters = stored.data() + 4 * half;
    for (std::size_t copy = 0; copy < 2; ++copy) {
      auto* written = raw.data() + 8 * half + 4 * copy;
      written[0] = 0;
      written[1] = parameters[firstUnit];
      written[2] = 0;
      written[3] = parameters[firstUnit + 2];
    }
  }
  // Each data byte keeps only the selected unit's nibble, moved to the high (odd) half.
  const auto* data = stored.data() + soundUnitCount;
  auto* samples = raw.data() + rawSampleData;
  if (unitSelector == 0) {
    for (std::size_t n = 0; n < sampleDataSize; ++n) {
      samples[n] = static_cast<std::uint8_t>(data[n] << 4);
    }
  } else {
    for (std::size_t n = 0; n < sampleDataSize; ++n) {
      samples[n] = static_cast<std::uint8_t>(data[n] & 0xF0);
    }
  }
  return raw;
}

void storeUnits(StoredGroup& group, std::uint8_t unitSelector,
                std::span<const SoundUnit, unitsPerEffectGroup> units) {
  const std::size_t firstUnit = unitSelector == 0 ? 0 : 1;
  for (std::size_t slot = 0; slot < unitsPerEffectGroup; ++slot) {
    auto unit = 2 * slot + firstUnit;
    group[unit] = units[slot].parameter;
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      // Even units have the low nibble of their byte, odd units the high one.
      auto& byte = group[soundUnitCount + sampleByteOf(k, unit)];
      auto nibble = units[slot].nibbles[k];
      byte = static_cast<std::uint8_t>(unit % 2 == 0 ? (byte & 0xF0) | nibble
                                                     : (byte & 0x0F) | nibble << 4);
    }
  }
}

UnitCoding unitCoding(int filter, int range) {
  return {filterGains[filter][0], filterGains[filter][1], largestRange - range};
}

UnitCoding unitCodingOf(std::uint8_t parameter) {
  int range = parameter & 0x0F;
  return unitCoding(parameter >> 4 & 0x03, range > largestRange ? 9 : range);
}

void decodeEffectGroup(std::span<const std::uint8_t, rawGroupSize> group, PredictorState& state,
                       std::span<std::int16_t, samplesPerEffectGroup> samples) {
  // A local copy of the state stays in registers; the samples written cannot change it.
  auto decoder = state;
  auto* sample = samples.data();
  for (std::size_t unit = 1; unit < soundUnitCount; unit += 2) {
    auto coding = unitCodingOf(group[rawUnitParameters + unit]);
    const auto* data = group.data() + rawSampleData;
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      // An odd unit's sample is a high nibble: shifted down from a signed byte, it comes out
      // sign-extended.
      int nibble = static_cast<std::int8_t>(data[sampleByteOf(k, unit)] & 0xF0) >> 4;
      *sample++ = decodeSample(nibble, coding, decoder);
    }
  }
  state = decoder;
}

} // namespace lvlsnd
