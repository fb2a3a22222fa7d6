// What the programs do to one group: convert a stored group into a raw group (lvlsnd), decode a
// raw group (lvlsnd-wav), encode sound units (lvlsnd-replace).
#include "media_tools.hpp"
#include "tool_test.hpp"
#include "xa_adpcm.hpp"
#include "xa_sounds.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

StoredGroup storedOf(const std::vector<std::uint8_t>& parameters,
                     const std::vector<std::uint8_t>& data) {
  StoredGroup stored{};
  std::copy(parameters.begin(), parameters.end(), stored.begin());
  for (std::size_t n = 0; n < sampleDataSize; ++n) {
    stored[8 + n] = data[n % data.size()];
  }
  return stored;
}

RawGroup rawOf(const std::vector<std::uint8_t>& parameters, const std::vector<std::uint8_t>& data) {
  RawGroup raw{};
  std::copy(parameters.begin(), parameters.end(), raw.begin());
  for (std::size_t n = 0; n < sampleDataSize; ++n) {
    raw[16 + n] = data[n % data.size()];
  }
  return raw;
}

TEST(GroupConversion, KeepsTheSelectedUnitsInTheOddPositions) {
  const std::vector<std::uint8_t> parameters = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const std::vector<std::uint8_t> data = {0xAB, 0xCD, 0xEF, 0x12};
  const std::vector<std::uint8_t> oddParameters = {0, 0x22, 0, 0x44, 0, 0x22, 0, 0x44,
                                                   0, 0x66, 0, 0x88, 0, 0x66, 0, 0x88};
  const std::vector<std::uint8_t> evenParameters = {0, 0x11, 0, 0x33, 0, 0x11, 0, 0x33,
                                                    0, 0x55, 0, 0x77, 0, 0x55, 0, 0x77};
  const std::vector<std::uint8_t> oddData = {0xA0, 0xC0, 0xE0, 0x10};
  const std::vector<std::uint8_t> evenData = {0xB0, 0xD0, 0xF0, 0x20};
  struct Case {
    std::uint8_t unitSelector;
    RawGroup raw;
  };
  const Case cases[] = {
      {0, rawOf(evenParameters, evenData)},  {1, rawOf(oddParameters, oddData)},
      {0x80, rawOf(oddParameters, oddData)}, {0xFF, rawOf(oddParameters, oddData)},
      {0x02, rawOf(oddParameters, oddData)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(convertGroup(storedOf(parameters, data), c.unitSelector), c.raw)
        << "selector " << int{c.unitSelector};
  }
}

TEST(GroupConversion, AllOnesAndAllZeroGroups) {
  const auto ones = storedOf({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF});
  const auto zeros = storedOf({0, 0, 0, 0, 0, 0, 0, 0}, {0});
  const auto onesRaw =
      rawOf({0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}, {0xF0});
  for (int selector : {0, 1, 0xFF}) {
    auto unitSelector = static_cast<std::uint8_t>(selector);
    EXPECT_EQ(convertGroup(ones, unitSelector), onesRaw) << selector;
    EXPECT_EQ(convertGroup(zeros, unitSelector), RawGroup{}) << selector;
  }
}

Samples decodeEffect(const Bytes& rawGroups) {
  Samples samples(rawGroups.size() / rawGroupSize * samplesPerEffectGroup);
  PredictorState state;
  for (std::size_t group = 0; group < rawGroups.size() / rawGroupSize; ++group) {
    auto bytes = std::span(rawGroups).subspan(group * rawGroupSize).first<rawGroupSize>();
    auto out = std::span(samples).subspan(group * samplesPerEffectGroup);
    decodeEffectGroup(bytes, state, out.first<samplesPerEffectGroup>());
  }
  return samples;
}

Bytes withOddParameters(Bytes rawGroups, std::uint8_t parameter) {
  for (std::size_t at = 0; at < rawGroups.size(); at += rawGroupSize) {
    for (std::size_t unit = 1; unit < soundUnitCount; unit += 2) {
      rawGroups[at + rawUnitParameters + unit] = parameter;
    }
  }
  return rawGroups;
}

TEST(EffectGroupDecoding, ReservedParameterBitsDecodeLikeTheirDefinedEquivalents) {
  // Ranges 13 to 15 act as 9, as on the console's hardware; bits 6 and 7 are ignored.
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0x0D, 0x09}, {0x0E, 0x09}, {0x0F, 0x09},
                                                         {0x3F, 0x39}, {0x40, 0x00}, {0x8C, 0x0C},
                                                         {0xE5, 0x25}, {0xFD, 0x39}};
  auto groups = randomRawGroups(3, 11);
  for (auto [reserved, equivalent] : cases) {
    EXPECT_EQ(decodeEffect(withOddParameters(groups, reserved)),
              decodeEffect(withOddParameters(groups, equivalent)))
        << "parameter " << int{reserved};
  }
  // Range 13 as 9 with filter 0: the nibble 7 (high nibble of 0x70) scaled by 2^3.
  Bytes group = withOddParameters(Bytes(rawGroupSize, 0x70), 0x0D);
  EXPECT_EQ(decodeEffect(group).front(), 56);
}

std::int64_t squaredError(std::span<const std::int16_t> wanted, std::span<const std::int16_t> got) {
  std::int64_t error = 0;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    std::int64_t difference = wanted[k] - got[k];
    error += difference * difference;
  }
  return error;
}

// The least squared error of filter 0, which predicts nothing, over ranges 0 to 12.
std::int64_t bestFilter0Error(std::span<const std::int16_t> samples) {
  std::int64_t best = INT64_MAX;
  for (int range = 0; range <= 12; ++range) {
    std::vector<std::int16_t> decoded;
    for (auto sample : samples) {
      double step = 1 << (12 - range);
      auto nibble = std::clamp(std::lround(sample / step), -8L, 7L);
      decoded.push_back(
          static_cast<std::int16_t>(std::clamp(nibble * (1L << (12 - range)), -32768L, 32767L)));
    }
    best = std::min(best, squaredError(samples, decoded));
  }
  return best;
}

// Decodes `unit` from `state`, leaving `state` as the decoder's after it.
std::vector<std::int16_t> decodeUnit(const SoundUnit& unit, PredictorState& state) {
  std::vector<std::int16_t> decoded;
  auto coding = unitCodingOf(unit.parameter);
  for (auto nibble : unit.nibbles) {
    decoded.push_back(decodeSample((nibble ^ 8) - 8, coding, state));
  }
  return decoded;
}

// Decodes consecutive units from a state of 0.
std::vector<std::int16_t> decodeUnits(const std::vector<SoundUnit>& units) {
  std::vector<std::int16_t> decoded;
  PredictorState state;
  for (const auto& unit : units) {
    auto samples = decodeUnit(unit, state);
    decoded.insert(decoded.end(), samples.begin(), samples.end());
  }
  return decoded;
}

TEST(Encoder, NoUnitDecodesWorseThanFilter0WouldHave) {
  std::vector<std::vector<std::int16_t>> signals = {std::vector<std::int16_t>(280, 0),
                                                    toneSamples(), noiseSamples()};
  std::vector<std::int16_t> square;
  std::vector<std::int16_t> clipping;
  for (int k = 0; k < 560; ++k) {
    square.push_back(k / 14 % 2 == 0 ? 32767 : -32768);
    clipping.push_back(
        static_cast<std::int16_t>(std::clamp(60000.0 * std::sin(k / 9.0), -32768.0, 32767.0)));
  }
  signals.insert(signals.end(), {square, clipping});
  // Short random walks, quiet to loud, where the encodings best so far can all lead astray:
  // the one a search of each unit alone makes must stay among those carried.
  std::uint32_t seed = 7;
  int value = 0;
  for (int walk = 0; walk < 60; ++walk) {
    int step = walk % 3 == 0 ? 33 : walk % 3 == 1 ? 1000 : 10922;
    std::vector<std::int16_t> steps(7 * samplesPerUnit);
    for (auto& sample : steps) {
      seed = seed * 1664525u + 1013904223u;
      value =
          std::clamp(value + static_cast<int>(seed >> 8) % (2 * step + 1) - step, -32768, 32767);
      sample = static_cast<std::int16_t>(value);
    }
    signals.push_back(steps);
  }
  for (const auto& signal : signals) {
    // Each unit searched alone is no worse than filter 0 would have been...
    PredictorState aloneState;
    PredictorState decoderState;
    std::int64_t aloneError = 0;
    for (std::size_t u = 0; u < signal.size() / samplesPerUnit; ++u) {
      auto wanted = std::span(signal).subspan(u * samplesPerUnit).first<samplesPerUnit>();
      auto unit = encodeUnit(wanted, aloneState);
      auto coding = unitCodingOf(unit.parameter);
      std::vector<std::int16_t> decoded;
      for (auto nibble : unit.nibbles) {
        decoded.push_back(decodeSample((nibble ^ 8) - 8, coding, decoderState));
      }
      ASSERT_LE(squaredError(wanted, decoded), bestFilter0Error(wanted))
          << "unit " << u << " of a signal of " << signal.size() << " samples";
      aloneError += squaredError(wanted, decoded);
    }
    // ...and carrying encodings from unit to unit is no worse than deciding each alone; what
    // it decodes to is encoded again without a sample's change.
    auto decoded = decodeUnits(encodeUnits(signal));
    EXPECT_LE(squaredError(signal, decoded), aloneError)
        << "a signal of " << signal.size() << " samples";
    EXPECT_EQ(decodeUnits(encodeUnits(decoded)), decoded);
    // A narrow search loses the encodings of units alone most readily.
    EXPECT_LE(squaredError(signal, decodeUnits(encodeUnits(signal, {1, 2, 2}))), aloneError);
  }
}

TEST(Encoder, TheSearchIsNeverWorseThanRoundingAndDecodesToWhatItScored) {
  std::uint32_t seed = 5;
  auto next = [&seed](int range) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>(seed >> 8) % (2 * range + 1) - range;
  };
  std::int64_t searchedTotal = 0;
  std::int64_t greedyTotal = 0;
  std::vector<std::int16_t> sequence; // the units one after the other
  for (int unitIndex = 0; unitIndex < 3000; ++unitIndex) {
    // Loud and quiet units, smooth and rough, from a random decoder state.
    int loudness = unitIndex % 3 == 0 ? 32767 : unitIndex % 3 == 1 ? 2000 : 40;
    std::array<std::int16_t, samplesPerUnit> samples{};
    int value = next(loudness);
    for (auto& sample : samples) {
      value = std::clamp(unitIndex % 2 == 0 ? value + next(loudness / 4) : next(loudness), -32768,
                         32767);
      sample = static_cast<std::int16_t>(value);
    }
    const PredictorState start{next(32767), next(32767)};
    PredictorState searchedState = start;
    PredictorState greedyState = start;
    auto searched = encodeUnit(samples, searchedState);
    auto greedy = encodeUnitGreedy(samples, greedyState);
    PredictorState decodedState = start;
    auto decoded = decodeUnit(searched, decodedState);
    PredictorState greedyDecodedState = start;
    auto greedyDecoded = decodeUnit(greedy, greedyDecodedState);
    auto error = squaredError(samples, decoded);
    ASSERT_LE(error, squaredError(samples, greedyDecoded)) << "unit " << unitIndex;
    ASSERT_EQ(decodedState.previous, searchedState.previous) << "unit " << unitIndex;
    ASSERT_EQ(decodedState.beforePrevious, searchedState.beforePrevious);
    ASSERT_LE(searched.parameter >> 4, 3) << "filter";
    ASSERT_LE(searched.parameter & 0x0F, 12) << "range";
    PredictorState again = start;
    auto repeated = encodeUnit(samples, again);
    ASSERT_EQ(repeated.parameter, searched.parameter);
    ASSERT_EQ(repeated.nibbles, searched.nibbles);
    searchedTotal += error;
    greedyTotal += squaredError(samples, greedyDecoded);
    sequence.insert(sequence.end(), samples.begin(), samples.end());
  }
  // Carried through them all, from the states they leave one another in.
  PredictorState aloneState;
  PredictorState decoderState;
  std::int64_t aloneTotal = 0;
  for (std::size_t at = 0; at < sequence.size(); at += samplesPerUnit) {
    auto samples = std::span(sequence).subspan(at).first<samplesPerUnit>();
    aloneTotal += squaredError(samples, decodeUnit(encodeUnit(samples, aloneState), decoderState));
  }
  EXPECT_LE(squaredError(sequence, decodeUnits(encodeUnits(sequence))), aloneTotal);
  EXPECT_LT(searchedTotal, greedyTotal) << "the search gains something";
}

} // namespace
