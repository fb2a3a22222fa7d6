// Reading the WAV files that sound editors write, for the replacer: formats, chunk orders,
// damaged files and refusals.
#include "tool_test.hpp"
#include "wav.hpp"
#include "wav_builder.hpp"

using namespace lvlsnd;

namespace {

struct ReadResult {
  std::string problem;
  std::vector<std::int16_t> samples;
  std::uint64_t leftOut = 0;
};

// The files are read from memory, through the reader's one read path.
class WavReaderTest : public ::testing::Test {
protected:
  ReadResult read(const Bytes& bytes, std::size_t wanted = 100) {
    auto source = memorySource(bytes);
    WavSound sound;
    ReadResult result;
    auto problem = readWavSound(source, wanted, sound);
    result.problem = problem ? describe(*problem) : "";
    result.samples = sound.samples;
    result.leftOut = sound.layout.frames - sound.samples.size();
    return result;
  }
};

// Three frames of each format, the same sound: 0, a loud positive, a loud negative.
const Bytes pcm8 = {0x80, 0xC0, 0x00};
const Bytes pcm16 = {0x00, 0x00, 0x00, 0x40, 0x00, 0x80};
const Bytes pcm24 = {0x77, 0x00, 0x00, 0x77, 0x00, 0x40, 0x77, 0x00, 0x80};
const Bytes float32 = {0, 0, 0, 0, 0, 0, 0x00, 0x3F, 0, 0, 0x80, 0xBF};
const Bytes pcm32 = {0x77, 0x77, 0, 0, 0x77, 0x77, 0, 0x40, 0x77, 0x77, 0, 0x80};
const Bytes float64 = {0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0,    0,
                       0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0xBF};
const std::vector<std::int16_t> threeSamples = {0, 16384, -32768};

Bytes stereo(const Bytes& left, const Bytes& right, std::size_t sampleBytes) {
  Bytes frames;
  for (std::size_t at = 0; at < left.size(); at += sampleBytes) {
    frames.insert(frames.end(), left.begin() + static_cast<std::ptrdiff_t>(at),
                  left.begin() + static_cast<std::ptrdiff_t>(at + sampleBytes));
    frames.insert(frames.end(), right.begin() + static_cast<std::ptrdiff_t>(at),
                  right.begin() + static_cast<std::ptrdiff_t>(at + sampleBytes));
  }
  return frames;
}

TEST_F(WavReaderTest, EveryAcceptedFormatAndChunkOrderGivesTheSameSamples) {
  const Bytes silence16(6, 0);
  const Chunk list = {"LIST", Bytes(7, 'x')}; // odd-sized: a padding byte follows
  struct Case {
    const char* name;
    Bytes file;
    std::vector<std::int16_t> samples;
  };
  auto zerosAfter = wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", pcm16}});
  zerosAfter.resize(zerosAfter.size() + 100000, 0); // the walk ends once both chunks are found
  const Case cases[] = {
      {"zeros after the data", zerosAfter, threeSamples},
      {"8-bit", wavFile({{"fmt ", fmtBytes(1, 1, 8)}, {"data", pcm8}}), {0, 16384, -32768}},
      {"16-bit", wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", pcm16}}), threeSamples},
      {"24-bit", wavFile({{"fmt ", fmtBytes(1, 1, 24)}, {"data", pcm24}}), threeSamples},
      {"float", wavFile({{"fmt ", fmtBytes(3, 1, 32)}, {"data", float32}}), threeSamples},
      {"extensible 24-bit", wavFile({{"fmt ", fmtBytes(0, 1, 24, 1)}, {"data", pcm24}}),
       threeSamples},
      {"extensible float", wavFile({{"fmt ", fmtBytes(0, 1, 32, 3)}, {"data", float32}}),
       threeSamples},
      {"32-bit", wavFile({{"fmt ", fmtBytes(1, 1, 32)}, {"data", pcm32}}), threeSamples},
      {"64-bit float", wavFile({{"fmt ", fmtBytes(3, 1, 64)}, {"data", float64}}), threeSamples},
      {"extensible 32-bit", wavFile({{"fmt ", fmtBytes(0, 1, 32, 1)}, {"data", pcm32}}),
       threeSamples},
      {"stereo averaged",
       wavFile({{"fmt ", fmtBytes(1, 2, 16)}, {"data", stereo(pcm16, silence16, 2)}}),
       {0, 8192, -16384}},
      // The mix rounds down, as an arithmetic shift does: -1 and 0 make -1, not 0.
      {"stereo rounded down",
       wavFile({{"fmt ", fmtBytes(1, 2, 16)}, {"data", {0xFF, 0xFF, 0, 0, 3, 0, 0, 0}}}),
       {-1, 1}},
      {"three channels rounded down",
       wavFile(
           {{"fmt ", fmtBytes(1, 3, 16)}, {"data", {0xFF, 0xFF, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0}}}),
       {-1, 1}},
      {"eight channels",
       wavFile({{"fmt ", fmtBytes(1, 8, 8)},
                {"data", {0xC0, 0xC0, 0xC0, 0xC0, 0x80, 0x80, 0x80, 0x80}}}),
       {8192}},
      {"stereo float",
       wavFile({{"fmt ", fmtBytes(3, 2, 32)}, {"data", stereo(float32, float32, 4)}}),
       threeSamples},
      {"data before fmt, chunks between",
       wavFile({list, {"data", pcm16}, {"fact", {1, 2, 3, 4}}, {"fmt ", fmtBytes(1, 1, 16)}}),
       threeSamples},
      {"odd-sized chunk before the data",
       wavFile({{"fmt ", fmtBytes(1, 1, 8)}, list, {"cue ", Bytes(3, 0)}, {"data", pcm8}}),
       {0, 16384, -32768}},
  };
  for (const auto& c : cases) {
    auto result = read(c.file);
    EXPECT_EQ(result.problem, "") << c.name;
    EXPECT_EQ(result.samples, c.samples) << c.name;
    EXPECT_EQ(result.leftOut, 0u) << c.name;
  }
}

TEST_F(WavReaderTest, SamplesPastTheWantedOnesAndPastTheFileAreCounted) {
  auto file = wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", pcm16}});
  auto cut = read(file, 2);
  EXPECT_EQ(cut.samples, std::vector<std::int16_t>({0, 16384}));
  EXPECT_EQ(cut.leftOut, 1u);
  // A data chunk that says it is longer than the file: the whole frames that are there.
  file.resize(file.size() - 1);
  auto truncated = read(file);
  EXPECT_EQ(truncated.problem, "");
  EXPECT_EQ(truncated.samples, std::vector<std::int16_t>({0, 16384}));
  // The float extremes, infinities and NaN clamp to 16 bits; NaN is silence.
  const Bytes floats = {0, 0, 0x80, 0x7F, 0, 0, 0x80, 0xFF, 0, 0, 0xC0, 0x7F, 0, 0, 0x80, 0x3F};
  auto clamped = read(wavFile({{"fmt ", fmtBytes(3, 1, 32)}, {"data", floats}}));
  EXPECT_EQ(clamped.samples, std::vector<std::int16_t>({32767, -32768, 0, 32767}));
}

TEST_F(WavReaderTest, FilesThatAreNotAcceptedSayWhy) {
  const Bytes riffOnly = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
  auto notAudioGuid = fmtBytes(0, 1, 16, 1);
  notAudioGuid.back() ^= 1; // PCM's code, but not the GUID of an audio format
  auto rf64 = wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", pcm16}});
  std::copy_n("RF64", 4, rf64.begin());
  auto zerosBefore = wavFile({{"fmt ", fmtBytes(1, 1, 16)}});
  zerosBefore.resize(zerosBefore.size() + 64, 0); // no chunk id where the data chunk should be
  struct Case {
    Bytes file;
    std::string problem;
  };
  const std::string exportIt = ", not a WAV file; export it as WAV";
  const Bytes aiff = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'};
  const Case cases[] = {
      {{}, "Not a WAV file"},
      {riffOnly, "Not a WAV file"},
      {{'I', 'D', '3', 4, 0}, "An MP3 file" + exportIt},
      {{0xFF, 0xFB, 0x90, 0x64}, "An MP3 file" + exportIt},
      {{'O', 'g', 'g', 'S', 0, 2}, "An Ogg file" + exportIt},
      {{'f', 'L', 'a', 'C', 0, 0, 0, 0x22}, "A FLAC file" + exportIt},
      {aiff, "An AIFF file" + exportIt},
      {wavFile({{"data", pcm16}}), "No fmt chunk"},
      {wavFile({{"fmt ", fmtBytes(1, 1, 16)}}), "No data chunk"},
      {wavFile({{"fmt ", Bytes(8, 1)}, {"data", pcm16}}), "Damaged fmt chunk"},
      {wavFile({{"fmt ", fmtBytes(2, 1, 4)}, {"data", pcm16}}),
       "MS ADPCM WAV (format 0x0002); save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(6, 1, 8)}, {"data", pcm16}}),
       "A-law WAV (format 0x0006); save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(1, 9, 16)}, {"data", pcm16}}),
       "Unsupported WAV format 0x0001, 9 channels, 16 bits; save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(1, 0, 16)}, {"data", pcm16}}),
       "Unsupported WAV format 0x0001, 0 channels, 16 bits; save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(1, 1, 12)}, {"data", pcm16}}),
       "Unsupported WAV format 0x0001, 1 channel, 12 bits; save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(3, 1, 16)}, {"data", pcm16}}),
       "Unsupported WAV format 0x0003, 1 channel, 16 bits; save it as 16-bit PCM"},
      {wavFile({{"fmt ", fmtBytes(0, 1, 16, 2)}, {"data", pcm16}}),
       "MS ADPCM WAV (format 0x0002); save it as 16-bit PCM"},
      {wavFile({{"fmt ", notAudioGuid}, {"data", pcm16}}),
       "Unsupported WAV format 0xfffe, 1 channel, 16 bits; save it as 16-bit PCM"},
      {wavFile({{"fmt ", slice(fmtBytes(0, 1, 16, 1), 0, 26)}, {"data", pcm16}}),
       "Damaged fmt chunk"},
      {wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", {}}}), "No samples in the data chunk"},
      {rf64, "RF64 is not supported"},
      {zerosBefore, "Damaged chunk at offset 36"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.file).problem, c.problem);
  }
}

} // namespace
