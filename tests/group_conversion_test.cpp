// The conversion of one stored group into one raw group, and the effect file names.
#include "effects.hpp"

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

TEST(EffectFileName, HoldsTheWholeLevelNumberAndIndex) {
  struct Case {
    std::int32_t level;
    int index;
    const char* name;
  };
  const Case cases[] = {{3, 12, "effect3_12.raw"},
                        {0, 1, "effect0_1.raw"},
                        {9, 999, "effect9_999.raw"},
                        {1234, 121, "effect1234_121.raw"},
                        {2147483647, 1, "effect2147483647_1.raw"},
                        {2147483647, 32766, "effect2147483647_32766.raw"}};
  for (const auto& c : cases) {
    EXPECT_EQ(effectFileName(c.level, c.index), c.name);
  }
}

} // namespace
