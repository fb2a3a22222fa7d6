// Effect files decoded by ffmpeg's XA ADPCM decoder, which nobody here wrote: the extracted
// groups must be exactly what the CD-ROM XA sound group layout says they are.
#include "media_tools.hpp"
#include "tool_test.hpp"
#include "xa_sounds.hpp"

using namespace lvlsnd;

namespace {

constexpr std::size_t samplesPerGroup = 4 * samplesPerUnit; // per stereo channel
constexpr std::size_t groupsPerSector = 18;

class DecoderInteropTest : public ScratchTest {
protected:
  void SetUp() override {
    if (!haveFfmpeg()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  Stereo decode(const Bytes& rawGroups) { return decodeWithFfmpeg(rawGroups, scratch.root); }
};

// What filter 0 decodes a stored group's selected units to: each nibble, sign-extended and
// shifted left by 12 minus the unit's range.
std::vector<std::int16_t> selectedUnitSamples(const Bytes& groups, std::uint8_t unitSelector) {
  std::vector<std::int16_t> samples;
  for (std::size_t at = 0; at < groups.size(); at += storedGroupSize) {
    for (std::size_t pair = 0; pair < 4; ++pair) {
      auto unit = 2 * pair + (unitSelector == 0 ? 0 : 1);
      int range = groups[at + unit] & 0x0F;
      for (std::size_t k = 0; k < samplesPerUnit; ++k) {
        int byte = groups[at + 8 + 4 * k + pair];
        int nibble = unit % 2 == 0 ? byte & 0x0F : byte >> 4;
        int value = (nibble >= 8 ? nibble - 16 : nibble) * (1 << (12 - range));
        samples.push_back(static_cast<std::int16_t>(value));
      }
    }
  }
  return samples;
}

TEST_F(DecoderInteropTest, RightChannelCarriesExactlyTheSelectedUnitsAndLeftIsSilent) {
  // 40 groups: three sectors, the last one partly padding. Filter 0, ranges 0 to 12.
  Bytes groups(40 * storedGroupSize);
  std::uint32_t seed = 99;
  for (std::size_t k = 0; k < groups.size(); ++k) {
    seed = seed * 1664525u + 1013904223u;
    groups[k] = static_cast<std::uint8_t>(seed >> 24);
    if (k % storedGroupSize < 8) {
      groups[k] = static_cast<std::uint8_t>(groups[k] % 13);
    }
  }
  for (std::uint8_t selector : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{0x80}}) {
    LevelLayout layout;
    layout.tail = groups;
    layout.records = {{offsetToTail(1, 1, 0), 40, selector}};
    auto path = putLevelFile("level1.dat", buildLevelFile(layout));
    auto run = runLvlsnd(scratch, {path});
    ASSERT_EQ(run.files.count("effect1_1.raw"), 1u);

    auto stereo = decode(run.files["effect1_1.raw"]);
    auto expected = selectedUnitSamples(groups, selector);
    ASSERT_EQ(stereo.right.size(), 3 * groupsPerSector * samplesPerGroup);
    expected.resize(stereo.right.size(), 0);
    EXPECT_EQ(stereo.right, expected) << "selector " << int{selector};
    EXPECT_EQ(stereo.left, std::vector<std::int16_t>(stereo.left.size(), 0));
  }
}

TEST_F(DecoderInteropTest, SampleEffectsDecodeToTheSoundsTheyWereEncodedFrom) {
  auto path = putLevelFile("level3.dat", sampleLevelFile());
  auto run = runLvlsnd(scratch, {path});
  ASSERT_EQ(run.status, 0);
  struct Case {
    const char* name;
    std::vector<std::int16_t> source;
  };
  const Case cases[] = {{"effect3_1.raw", toneSamples()}, {"effect3_2.raw", sweepSamples()}};
  for (const auto& c : cases) {
    auto stereo = decode(run.files[c.name]);
    ASSERT_GE(stereo.right.size(), c.source.size()) << c.name;
    stereo.right.resize(c.source.size());
    auto snr = signalToNoiseDb(c.source, stereo.right);
    EXPECT_GE(snr, 20.0) << c.name;
    RecordProperty(c.name, std::to_string(snr));
  }
}

TEST_F(DecoderInteropTest, WavSamplesAreWhatFfmpegDecodesFromTheRightChannel) {
  // The sample's effects, and random groups of every filter and range that hit the clamp and
  // carry the decoder's history across groups, sectors and the converter's chunks of 1024 groups.
  auto path = putLevelFile("level3.dat", sampleLevelFile());
  runLvlsnd(scratch, {path});
  writeFile((scratch.work / "random.raw").string().c_str(), randomRawGroups(1100, 7));
  const std::string names[] = {"effect3_1", "effect3_2", "effect3_4", "random"};
  std::vector<std::string> arguments;
  for (const auto& name : names) {
    arguments.push_back(name + ".raw");
  }
  auto run = runTool(scratch, "lvlsnd-wav", arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const auto& name : names) {
    const auto& raw = run.files[name + ".raw"];
    auto samples = wavSamples(run.files[name + ".wav"]);
    auto right = decode(raw).right;
    right.resize(raw.size() / rawGroupSize * samplesPerGroup);
    EXPECT_EQ(samples, right) << name;
    EXPECT_EQ(probeWav(scratch.work / (name + ".wav")),
              "pcm_s16le 37800 1 " + std::to_string(right.size()));
  }
  auto random = wavSamples(run.files["random.wav"]);
  EXPECT_TRUE(std::ranges::count(random, -32768) > 0 && std::ranges::count(random, 32767) > 0)
      << "the random groups must reach both ends of the clamp";
}

TEST(SampleLevelFile, TheCommittedSampleIsWhatTheGeneratorMakes) {
  auto committed = readFile(LVLSND_SOURCE_DIR "/examples/level3.dat");
  EXPECT_EQ(committed, sampleLevelFile())
      << "rebuild it: build/tests/lvlsnd_make_sample examples/level3.dat";
}

} // namespace
