// What the programs do to one group: convert a stored group into a raw group (lvlsnd), decode a
// raw group (lvlsnd-wav).
#include "media_tools.hpp"
#include "tool_test.hpp"
#include "xa_adpcm.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace lvlsnd;

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
    EXPECT_EQ(decodedSamples(withOddParameters(groups, reserved)),
              decodedSamples(withOddParameters(groups, equivalent)))
        << "parameter " << int{reserved};
  }
  // Range 13 as 9 with filter 0: the nibble 7 (high nibble of 0x70) scaled by 2^3.
  Bytes group = withOddParameters(Bytes(rawGroupSize, 0x70), 0x0D);
  EXPECT_EQ(decodedSamples(group).front(), 56);
}

} // namespace
