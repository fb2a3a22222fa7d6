// Effect files decoded by ffmpeg's XA ADPCM decoder, which nobody here wrote: the extracted
// groups must be exactly what the CD-ROM XA sound group layout says they are.
#include "effects.hpp"
#include "tool_test.hpp"
#include "xa_sounds.hpp"

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

constexpr std::size_t sectorBytes = 2352;
constexpr std::size_t groupsPerSector = 18;
constexpr std::size_t sectorDataStart = 24;
constexpr std::size_t samplesPerGroup = 4 * samplesPerUnit; // per stereo channel

// Wraps raw groups into CD-XA audio sectors: sync, header, the subheader twice (file 1,
// channel 1, real-time form 2 audio, stereo 37800 Hz), 18 groups, zero padding.
Bytes xaSectors(const Bytes& rawGroups) {
  constexpr std::size_t dataBytes = groupsPerSector * rawGroupSize;
  Bytes sectors;
  for (std::size_t at = 0; at < rawGroups.size(); at += dataBytes) {
    Bytes sector(sectorBytes, 0);
    std::fill(sector.begin() + 1, sector.begin() + 11, 0xFF);
    sector[13] = 0x02;
    sector[15] = 0x02; // mode 2
    for (std::size_t copy : {std::size_t{16}, std::size_t{20}}) {
      sector[copy] = 1;
      sector[copy + 1] = 1;
      sector[copy + 2] = 0x64;
      sector[copy + 3] = 0x01;
    }
    auto count = std::min(dataBytes, rawGroups.size() - at);
    std::copy_n(rawGroups.begin() + static_cast<std::ptrdiff_t>(at), count,
                sector.begin() + sectorDataStart);
    sectors.insert(sectors.end(), sector.begin(), sector.end());
  }
  return sectors;
}

struct Stereo {
  std::vector<std::int16_t> left;
  std::vector<std::int16_t> right;
};

class DecoderInteropTest : public ScratchTest {
protected:
  void SetUp() override {
    if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  Stereo decode(const Bytes& rawGroups) {
    auto xa = scratch.root / "effect.xa";
    auto pcm = scratch.root / "out.pcm";
    writeFile(xa.string().c_str(), xaSectors(rawGroups));
    auto log = scratch.root / "ffmpeg.log";
    // The demuxer reports the end of the sectors as an input error; the status tells.
    auto command = "ffmpeg -nostdin -y -v error -f psxstr -i '" + xa.string() +
                   "' -f s16le -acodec pcm_s16le '" + pcm.string() + "' 2> '" + log.string() + "'";
    auto status = std::system(command.c_str());
    auto logBytes = readFile(log.string().c_str());
    EXPECT_EQ(status, 0) << std::string(logBytes.begin(), logBytes.end());
    auto bytes = readFile(pcm.string().c_str());
    Stereo stereo;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
      stereo.left.push_back(static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8));
      stereo.right.push_back(static_cast<std::int16_t>(bytes[at + 2] | bytes[at + 3] << 8));
    }
    return stereo;
  }
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

double signalToNoiseDb(const std::vector<std::int16_t>& source,
                       const std::vector<std::int16_t>& decoded) {
  double signal = 0;
  double noise = 0;
  for (std::size_t k = 0; k < source.size(); ++k) {
    double wanted = source[k];
    double difference = wanted - decoded[k];
    signal += wanted * wanted;
    noise += difference * difference;
  }
  return 10 * std::log10(signal / noise);
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

TEST(SampleLevelFile, TheCommittedSampleIsWhatTheGeneratorMakes) {
  auto committed = readFile(LVLSND_SOURCE_DIR "/examples/level3.dat");
  EXPECT_EQ(committed, sampleLevelFile())
      << "rebuild it: build/tests/lvlsnd_make_sample examples/level3.dat";
}

} // namespace
