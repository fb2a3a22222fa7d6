// lvlsnd-wav: how its decoder reads parameter bytes, and the program through the real
// executable. Sample-exact decoding is checked against ffmpeg in the decoder interop tests.
#include "media_tools.hpp"
#include "tool_test.hpp"
#include "wav_tool.hpp"
#include "xa_sounds.hpp"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

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

using WavToolTest = ScratchTest;

TEST_F(WavToolTest, EachFileIsConvertedBesideItAndEachComplaintNamesItsFile) {
  auto put = [&](const std::string& name, const Bytes& bytes) {
    writeFile((scratch.work / name).string().c_str(), bytes);
  };
  Bytes three = randomRawGroups(3, 1);
  Bytes twoAndSome = randomRawGroups(2, 2);
  twoAndSome.resize(twoAndSome.size() + 5, 0x11);
  put("Effect7_12.RAW", three);
  put("Effect7_12.wav", Bytes(9999, 0x55)); // replaced
  put("sound.bin", twoAndSome);
  put("empty.raw", {});
  put("é音.raw", three);
  put("-dash.raw", three);
  put("blocked.raw", three);
  fs::create_directory(scratch.work / "blocked.wav");
  fs::create_directory(scratch.work / "folder.raw");
  put("self.raw", three);
  fs::create_hard_link(scratch.work / "self.raw", scratch.work / "self.wav");
  put("full.raw", three);
  fs::create_symlink("/dev/full", scratch.work / "full.wav");

  auto run =
      runTool(scratch, "lvlsnd-wav",
              {"--rate", "18900", "Effect7_12.RAW", "sound.bin", "empty.raw", "missing.raw",
               "folder.raw", "blocked.raw", "self.raw", "full.raw", "é音.raw", "--", "-dash.raw"});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Converting Effect7_12.RAW to Effect7_12.wav (3 groups)...\n"
                     "Converting sound.bin to sound.bin.wav (2 groups)...\n"
                     "Converting empty.raw to empty.wav (0 groups)...\n"
                     "Converting full.raw to full.wav (3 groups)...\n"
                     "Converting é音.raw to é音.wav (3 groups)...\n"
                     "Converting -dash.raw to -dash.wav (3 groups)...\n");
  EXPECT_EQ(run.err, "sound.bin: Left out 5 bytes after the last whole group\n"
                     "missing.raw: Cannot open\n"
                     "folder.raw: Cannot open\n"
                     "blocked.wav: Cannot create\n"
                     "self.wav: Cannot create\n"
                     "full.wav: Cannot write\n");
  EXPECT_EQ(run.files["self.raw"], three) << "an input is never overwritten";
  if (!run.windowsBuild) { // Wine cannot delete a name that leads to a device
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.work / "full.wav")));
  }
  // The canonical header: RIFF, WAVE, fmt (PCM, mono, 18900 Hz, 37800 bytes/s, 2, 16 bits),
  // data; then 112 samples a group.
  const Bytes header = {'R', 'I', 'F',  'F',  0xC4, 0x02, 0,    0,    'W',  'A', 'V',
                        'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,   0,
                        1,   0,   0xD4, 0x49, 0,    0,    0xA8, 0x93, 0,    0,   2,
                        0,   16,  0,    'd',  'a',  't',  'a',  0xA0, 0x02, 0,   0};
  EXPECT_EQ(slice(run.files["Effect7_12.wav"], 0, 44), header);
  const std::pair<std::string, std::size_t> written[] = {{"Effect7_12.wav", 3},
                                                         {"sound.bin.wav", 2},
                                                         {"empty.wav", 0},
                                                         {"é音.wav", 3},
                                                         {"-dash.wav", 3}};
  for (const auto& [name, groups] : written) {
    EXPECT_EQ(run.files[name].size(), 44 + groups * 224) << name;
    if (haveFfmpeg()) {
      EXPECT_EQ(probeWav(scratch.work / name), "pcm_s16le 18900 1 " + std::to_string(groups * 112));
    }
  }
  EXPECT_EQ(run.files["Effect7_12.wav"], run.files["é音.wav"]);
}

TEST_F(WavToolTest, UsageErrorsWriteNothingWhileHelpAndVersionGoToStandardOutput) {
  writeFile((scratch.work / "a.raw").string().c_str(), randomRawGroups(1, 3));
  const std::string usage = "Usage: lvlsnd-wav [--rate HZ] FILE...\n"
                            "Function: Converts lvlsnd effect files to WAV files\n"
                            "Each effect file FILE.raw is written to FILE.wav beside it\n"
                            "  --rate HZ   sample rate written into the WAV files, 1000 to 192000 "
                            "(default 37800)\n"
                            "  -h, --help  print this text\n"
                            "  --version   print the version\n";
  const std::string badRate = "the rate must be an integer from 1000 to 192000, not ";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{}, 2, "", "lvlsnd-wav: no effect file given\n" + usage},
      {{"--", "--rate=8000"}, 1, "", "--rate=8000: Cannot open\n"},
      {{"a.raw", "--rate"}, 2, "", "lvlsnd-wav: --rate needs a value\n" + usage},
      {{"--rate", "999", "a.raw"}, 2, "", "lvlsnd-wav: " + badRate + "'999'\n" + usage},
      {{"--rate=192001", "a.raw"}, 2, "", "lvlsnd-wav: " + badRate + "'192001'\n" + usage},
      {{"--rate=", "a.raw"}, 2, "", "lvlsnd-wav: " + badRate + "''\n" + usage},
      {{"--rate", "44100x", "a.raw"}, 2, "", "lvlsnd-wav: " + badRate + "'44100x'\n" + usage},
      {{"a.raw", "-x"}, 2, "", "lvlsnd-wav: unknown option '-x'\n" + usage},
      {{"-h", "a.raw"}, 0, usage, ""},
      {{"a.raw", "--help"}, 0, usage, ""},
      {{"--version"}, 0, "lvlsnd-wav " LVLSND_VERSION "\n", ""},
  };
  for (const auto& c : cases) {
    auto run = runTool(scratch, "lvlsnd-wav", c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments.size();
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.files.size(), 1u) << "nothing is written";
  }
}

TEST_F(WavToolTest, TheSampleToneComesBackAsTheToneItWasEncodedFrom) {
  auto path = putLevelFile("level3.dat", sampleLevelFile());
  runLvlsnd(scratch, {path});
  auto run = runTool(scratch, "lvlsnd-wav", {"effect3_1.raw"});
  ASSERT_EQ(run.status, 0);
  auto tone = toneSamples();
  auto snr = signalToNoiseDb(tone, wavSamples(run.files["effect3_1.wav"]));
  EXPECT_GE(snr, 20.0);
  RecordProperty("snr", std::to_string(snr));
}

} // namespace
