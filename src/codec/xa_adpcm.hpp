// The 4-bit ADPCM sound group of CD-ROM XA audio as lvlsnd's programs see it: the layout of the
// stored groups of a level file and of the raw groups of an effect file, what each program does
// to one group (convert it, decode it, store units in it), and the prediction that turns a sound
// unit's 4-bit samples into 16-bit ones. The WAV converter decodes with it and the replacer's
// encoder (xa_encoder.hpp) searches with it, so both do the very same arithmetic. Nothing here
// touches a file.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lvlsnd {

// A group holds eight sound units of 28 samples. Its sample data is 28 words of four bytes:
// sample j of unit u is in byte 4j + u/2 of the data, in the low nibble for an even unit and
// the high nibble for an odd one.
inline constexpr std::size_t soundUnitCount = 8;
inline constexpr std::size_t samplesPerUnit = 28;
inline constexpr std::size_t sampleDataSize = samplesPerUnit * soundUnitCount / 2;

// A stored group: the parameter bytes of units 0 to 7, one each, then the sample data.
inline constexpr std::size_t storedGroupSize = soundUnitCount + sampleDataSize;

// A raw group, as in an effect file: each run of four parameter bytes is written twice before
// the same sample data. Bytes 4 to 11 so hold the eight parameters in unit order.
inline constexpr std::size_t rawGroupSize = 2 * soundUnitCount + sampleDataSize;
inline constexpr std::size_t rawUnitParameters = 4;
inline constexpr std::size_t rawSampleData = 2 * soundUnitCount;

using StoredGroup = std::array<std::uint8_t, storedGroupSize>;
using RawGroup = std::array<std::uint8_t, rawGroupSize>;

// Groups go through fixed buffers this many at a time, so memory stays flat whatever the size
// of a file, and every read and write is large.
inline constexpr std::size_t groupsPerChunk = 1024;

// An effect lies in half the units of each group, the even or the odd ones: 112 samples.
inline constexpr std::size_t unitsPerEffectGroup = soundUnitCount / 2;
inline constexpr std::size_t samplesPerEffectGroup = unitsPerEffectGroup * samplesPerUnit;

inline std::size_t sampleByteOf(std::size_t sample, std::size_t unit) {
  return 4 * sample + unit / 2;
}

// Whether a raw group has the layout of an XA sound group: each run of four parameter bytes
// written twice. Every group lvlsnd writes has it; few other bytes do.
bool isXaSoundGroup(std::span<const std::uint8_t, rawGroupSize> group);

// Keeps the units the selector picks (0: the even units, any other value: the odd units),
// places them in the odd unit positions and zeroes the even ones.
RawGroup convertGroup(const StoredGroup& stored, std::uint8_t unitSelector);

// A parameter byte holds the filter in bits 4 and 5 and the range in bits 0 to 3.
inline constexpr int filterCount = 4;
inline constexpr int largestRange = 12;

// What a decoder remembers between samples: the last two it produced. Both start at 0 and
// run on from unit to unit and from group to group.
struct PredictorState {
  int previous = 0;
  int beforePrevious = 0;
};

// A parameter byte, unpacked: the filter's gains for the last two samples in 1/64ths, and the
// left shift that scales a 4-bit sample (12 minus the range).
struct UnitCoding {
  int gainPrevious = 0;
  int gainBeforePrevious = 0;
  int shift = 0;
};

UnitCoding unitCoding(int filter, int range);

// The decoder's reading of any parameter byte: ranges 13 to 15 act as 9, as on the console's
// hardware, and bits 6 and 7 are ignored.
UnitCoding unitCodingOf(std::uint8_t parameter);

inline int predicted(const UnitCoding& coding, const PredictorState& state) {
  return (coding.gainPrevious * state.previous + coding.gainBeforePrevious * state.beforePrevious +
          32) >>
         6;
}

// The next 16-bit sample from a 4-bit sample (-8 to 7), remembered for the ones after it.
inline std::int16_t decodeSample(int sample, const UnitCoding& coding, PredictorState& state) {
  // The same as sample * 2^shift + predicted(coding, state), since the scaled sample is a
  // whole multiple of 64 before the shift; this way only the last sample's product waits for
  // the sample before, which keeps a decoder's one long chain of dependent steps short.
  int value =
      (coding.gainPrevious * state.previous +
       (coding.gainBeforePrevious * state.beforePrevious + 32 + sample * (64 << coding.shift))) >>
      6;
  // Clamped to 16 bits. Sound seldom needs it, so a predicted branch keeps the clamp off
  // that chain; measured on random groups of every filter and range too, it beats min/max.
  if (static_cast<unsigned>(value + 32768) > 65535u) [[unlikely]] {
    value = value < 0 ? -32768 : 32767;
  }
  state.beforePrevious = state.previous;
  state.previous = value;
  return static_cast<std::int16_t>(value);
}

// One encoded sound unit: its parameter byte and its 28 samples as nibbles (0 to 15).
struct SoundUnit {
  std::uint8_t parameter = 0;
  std::array<std::uint8_t, samplesPerUnit> nibbles{};
};

// Decodes the odd units of one raw group, carrying the predictor state on.
void decodeEffectGroup(std::span<const std::uint8_t, rawGroupSize> group, PredictorState& state,
                       std::span<std::int16_t, samplesPerEffectGroup> samples);

// Puts four encoded units into the units of a stored group that the selector names (0: units
// 0, 2, 4, 6; any other value: units 1, 3, 5, 7): their parameter bytes and their nibbles.
// The other four units stay as they are.
void storeUnits(StoredGroup& group, std::uint8_t unitSelector,
                std::span<const SoundUnit, unitsPerEffectGroup> units);

} // namespace lvlsnd
