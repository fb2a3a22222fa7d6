// lvlsnd-replace through the real executable: what it changes in a level file, what ffmpeg hears
// afterwards, and what it refuses.
#include "media_tools.hpp"
#include "replace_tool.hpp"
#include "resample.hpp"
#include "tool_test.hpp"
#include "wav_builder.hpp"
#include "xa_sounds.hpp"

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

class ReplaceToolTest : public ScratchTest {
protected:
  // The sample level file in the scratch root, as ../level3.dat from the working folder.
  std::string putSample() { return putLevelFile("level3.dat", sampleLevelFile()); }
  Bytes levelBytes(const std::string& name = "level3.dat") {
    return readFile((scratch.root / name).string().c_str());
  }
  void putWav(const std::string& name, const std::vector<std::int16_t>& samples,
              std::uint32_t rate = 37800) {
    writeFile((scratch.root / name).string().c_str(), monoWav(samples, rate));
  }
};

// What a shell command prints on standard output.
std::string commandOutput(const std::string& command) {
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, got);
    }
    pclose(pipe);
  }
  return output;
}

// Whether `after` differs from `before` only in the units of the stored groups at `offset` that
// the selector names: their parameter bytes and their nibbles.
bool onlySelectedUnitsDiffer(const Bytes& before, const Bytes& after, std::size_t offset,
                             std::size_t groups, std::uint8_t selector) {
  std::uint8_t keptNibble = selector == 0 ? 0xF0 : 0x0F;
  for (std::size_t at = 0; at < before.size(); ++at) {
    auto changed = static_cast<std::uint8_t>(before[at] ^ after[at]);
    bool inGroups = at >= offset && at < offset + groups * storedGroupSize;
    auto inGroup = (at - offset) % storedGroupSize;
    bool allowed = inGroups && (inGroup < soundUnitCount ? inGroup % 2 == (selector == 0 ? 0u : 1u)
                                                         : (changed & keptNibble) == 0);
    if (changed != 0 && !allowed) {
      return false;
    }
  }
  return before.size() == after.size();
}

TEST_F(ReplaceToolTest, ReplacedEffectsSoundLikeTheirWavFilesAndNothingElseChanges) {
  auto path = putSample();
  const auto original = levelBytes();
  const auto originalEffects = runLvlsnd(scratch, {path}).files;
  struct Case {
    int entry;
    std::uint8_t selector;
    std::vector<std::int16_t> sound;
    double leastSnr;
    std::string cutNote;        // what --cut says of a sound longer than the effect
    std::uint32_t rate = 37800; // the WAV file's
  };
  // A square wave of five harmonics driven past full scale.
  std::vector<std::int16_t> clippedSquare;
  for (int k = 0; k < 15000; ++k) {
    double wave = 0;
    for (int harmonic = 1; harmonic <= 9; harmonic += 2) {
      wave += std::sin(2 * M_PI * 220 * harmonic * k / 37800.0) / harmonic;
    }
    clippedSquare.push_back(static_cast<std::int16_t>(std::clamp(60000 * wave, -32768.0, 32767.0)));
  }
  // A chord as an editor saves it at 44100 Hz, and as one saves a recording at 8000 Hz.
  std::vector<std::int16_t> chord(17000);
  std::vector<std::int16_t> voice(1500);
  for (std::size_t k = 0; k < chord.size(); ++k) {
    auto t = static_cast<double>(k);
    chord[k] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 440 * t / 44100) +
                                         7000 * std::sin(2 * M_PI * 1375 * t / 44100));
    voice[k % voice.size()] =
        static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 300 * t / 8000) *
                                  std::sin(M_PI * static_cast<double>(k % voice.size()) / 1500));
  }
  // Entries 1 and 2 share 135 groups at 0x3028, entry 4 has 68 groups of its own at 0x6f70.
  const Case cases[] = {
      {1, 0, noiseSamples(), 20, ""},
      {2, 1, toneSamples(), 40, ""},
      {1, 0, clippedSquare, 51.6, ""},
      {4, 1, toneSamples(), 59.49, "../tone.wav: Kept the first 0.201 s of 0.300 s\n"},
      {2, 1, chord, 30, "", 44100},
      {4, 1, voice, 30, "", 8000}};
  for (const auto& c : cases) {
    writeFile((scratch.root / "level3.dat").string().c_str(), original);
    putWav("tone.wav", c.sound, c.rate);
    // What goes in: the sound at the effect's rate.
    auto sound = c.rate == 37800 ? c.sound : resampled(c.sound, c.sound.size(), c.rate, 37800);
    auto resampledNote =
        c.rate == 37800 ? std::string()
                        : "../tone.wav: " + std::to_string(c.rate) + " Hz, resampled to 37800 Hz\n";
    fs::remove_all(scratch.work);
    fs::create_directory(scratch.work);
    auto index = std::to_string(c.entry);
    std::vector<std::string> arguments = {path, index, "../tone.wav"};
    if (!c.cutNote.empty()) {
      arguments.insert(arguments.begin(), "--cut");
    }
    auto run = runTool(scratch, "lvlsnd-replace", arguments);
    std::size_t groups = c.entry == 4 ? 68 : 135;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Replacing effect " + index + " (" + std::to_string(groups) + " groups, " +
                           (c.entry == 4 ? "0.201" : "0.400") + " s at 37800 Hz, " +
                           (c.selector == 0 ? "even" : "odd") +
                           " units) in ../level3.dat from ../tone.wav...\n" + resampledNote +
                           c.cutNote + "Replaced 1 effect of ../level3.dat\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(levelBytes("level3.dat.bak"), original);
    std::size_t offset = c.entry == 4 ? 0x6f70 : 0x3028;
    EXPECT_TRUE(onlySelectedUnitsDiffer(original, levelBytes(), offset, groups, c.selector))
        << "entry " << index;
    // Byte for byte what the encoder makes of the sound on x86-64's baseline instructions,
    // whatever the program ran on: a Windows build under Wine, a processor with AVX2.
    auto padded = sound;
    padded.resize(groups * samplesPerEffectGroup);
    EncoderSearch baseline;
    baseline.instructions = SearchInstructions::baseline;
    auto units = encodeUnits(padded, baseline);
    auto expected = original;
    for (std::size_t g = 0; g < groups; ++g) {
      auto at = expected.begin() + static_cast<std::ptrdiff_t>(offset + g * storedGroupSize);
      StoredGroup group;
      std::copy_n(at, storedGroupSize, group.begin());
      storeUnits(group, c.selector,
                 std::span(units).subspan(g * unitsPerEffectGroup).first<unitsPerEffectGroup>());
      std::copy(group.begin(), group.end(), at);
    }
    EXPECT_EQ(levelBytes(), expected) << "entry " << index;
    if (!resampledNote.empty()) { // put back again: already in, resampled or not
      auto again = runTool(scratch, "lvlsnd-replace", arguments);
      EXPECT_EQ(again.out, "../tone.wav: Already in the level; effect " + index +
                               " left as it is\n" + resampledNote +
                               "Replaced 0 effects of ../level3.dat; 1 unchanged\n");
    }

    auto effects = runLvlsnd(scratch, {path}).files;
    auto name = "effect3_" + index + ".raw";
    for (const auto& [other, bytes] : originalEffects) {
      if (other != name) {
        EXPECT_EQ(effects[other], bytes) << other << " after replacing " << name;
      }
    }
    if (haveFfmpeg()) {
      auto decoded = decodeWithFfmpeg(effects[name], scratch.root).right;
      auto heard = sound;
      heard.resize(std::min(groups * samplesPerEffectGroup, heard.size()));
      auto snr = signalToNoiseDb(heard, decoded);
      EXPECT_GE(snr, c.leastSnr) << name;
      RecordProperty(name, std::to_string(snr));
    }
  }
}

TEST_F(ReplaceToolTest, InPlaceKeepsTheFirstBackupAndOutputGoesWhereAsked) {
  auto path = putSample();
  const auto original = levelBytes();
  putWav("音é.wav", toneSamples());
  // -o leaves the level file alone and makes no backup.
  auto copy = runTool(scratch, "lvlsnd-replace", {"-o", "ß.dat", path, "1", "../音é.wav"});
  EXPECT_EQ(copy.status, 0) << copy.err;
  EXPECT_EQ(levelBytes(), original);
  EXPECT_FALSE(fs::exists(scratch.root / "level3.dat.bak"));
  ASSERT_EQ(copy.files.count("ß.dat"), 1u);
  // In place, twice: the backup keeps the bytes from before the first run.
  writeFile((scratch.root / "level3.dat.bak").string().c_str(), {1, 2, 3});
  auto first = runTool(scratch, "lvlsnd-replace", {path, "1", "../音é.wav"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(levelBytes(), copy.files["ß.dat"]);
  EXPECT_EQ(levelBytes("level3.dat.bak"), Bytes({1, 2, 3}));
  fs::remove(scratch.root / "level3.dat.bak");
  writeFile((scratch.root / "level3.dat").string().c_str(), original);
  runTool(scratch, "lvlsnd-replace", {path, "1", "../音é.wav"});
  const auto levelPermissions =
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(scratch.root / "level3.dat", levelPermissions);
  // Run as root, the suite gives the level file to another user and group, which the level file
  // written anew must keep.
  const bool otherOwner = !runningWindowsBuild() && geteuid() == 0;
  const uid_t nobody = 65534;
  if (otherOwner) {
    ASSERT_EQ(chown((scratch.root / "level3.dat").c_str(), nobody, nobody), 0);
  }
  auto second = runTool(scratch, "lvlsnd-replace", {path, "2", "../音é.wav"});
  EXPECT_EQ(second.status, 0);
  if (!second.windowsBuild) {
    EXPECT_EQ(fs::status(scratch.root / "level3.dat").permissions(), levelPermissions)
        << "the level file written anew keeps its permissions";
  }
  struct stat owner {};
  if (otherOwner && stat((scratch.root / "level3.dat").c_str(), &owner) == 0) {
    EXPECT_EQ(owner.st_uid, nobody) << "and its owner";
    EXPECT_EQ(owner.st_gid, nobody) << "and its group";
  }
  EXPECT_EQ(levelBytes("level3.dat.bak"), original);
  EXPECT_NE(levelBytes(), copy.files["ß.dat"]);
  auto entries = fs::directory_iterator(scratch.root);
  EXPECT_EQ(std::count_if(fs::begin(entries), fs::end(entries),
                          [](const auto& entry) { return entry.path().filename() != "cache"; }),
            6)
      << "level3.dat, its .bak, the WAV, stdout, stderr, work (and the encoding cache): no "
         "temporary file";
  // An ACL and an attribute of the user's own stay, as cp --preserve=all keeps them, the ACL's
  // mask as the mode's group bits; where the file system has no ACLs this is not checked.
  auto level = (scratch.root / "level3.dat").string();
  auto aclOf = [&] { return commandOutput("getfacl -c '" + level + "' 2>&1"); };
  if (!second.windowsBuild &&
      std::system(("setfacl -m u:nobody:rw '" + level + "' 2>/dev/null").c_str()) == 0 &&
      setxattr(level.c_str(), "user.lvlsnd", "kept", 4, 0) == 0) {
    auto acl = aclOf();
    auto third = runTool(scratch, "lvlsnd-replace", {path, "1", "../音é.wav"});
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(aclOf(), acl);
    char value[8] = {};
    EXPECT_EQ(getxattr(level.c_str(), "user.lvlsnd", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
  } else {
    std::cout << "ACLs or extended attributes not supported here: not checked\n";
  }
  // The WAV at another rate goes in when --rate names that rate, and the lengths say so.
  putWav("slow.wav", toneSamples(), 22050);
  auto slow =
      runTool(scratch, "lvlsnd-replace", {"--rate=22050", "--cut", path, "4", "../slow.wav"});
  EXPECT_EQ(slow.status, 0);
  EXPECT_EQ(slow.out, "Replacing effect 4 (68 groups, 0.345 s at 22050 Hz, odd units) in "
                      "../level3.dat from ../slow.wav...\n../slow.wav: Kept the first 0.345 s of "
                      "0.514 s\nReplaced 1 effect of ../level3.dat\n");
  EXPECT_EQ(slow.err, "");
}

TEST_F(ReplaceToolTest, ABatchPutsBackWhatWasEditedInOneUpdateAndLeavesTheRestAsItIs) {
  auto path = putSample();
  const auto original = levelBytes();
  const auto level = scratch.root / "level3.dat";
  runLvlsnd(scratch, {path});
  runTool(scratch, "lvlsnd-wav", {"effect3_1.raw", "effect3_2.raw", "effect3_4.raw"});
  auto wav = [&](const std::string& name) { return (scratch.work / name).string(); };
  const std::vector<std::string> all = {"effect3_1.wav", "effect3_2.wav", "effect3_4.wav"};
  // What one run an effect makes of the edits below, the reference for every batch.
  writeFile((scratch.root / "seq.dat").string().c_str(), original);
  writeFile(wav("edit1.wav").c_str(), monoWav(noiseSamples()));
  writeFile(wav("edit2.wav").c_str(), monoWav(toneSamples()));
  runTool(scratch, "lvlsnd-replace", {"../seq.dat", "1", "edit1.wav"});
  runTool(scratch, "lvlsnd-replace", {"../seq.dat", "2", "edit2.wav"});
  const auto oneAtATime = levelBytes("seq.dat");
  ASSERT_NE(oneAtATime, original);
  const std::string replacing =
      "effect 1 (135 groups, 0.400 s at 37800 Hz, even units) in ../level3.dat from "
      "effect3_1.wav";
  const std::string replacing2 =
      "effect 2 (135 groups, 0.400 s at 37800 Hz, odd units) in ../level3.dat from effect3_2.wav";
  const std::string unchanged4 = "effect3_4.wav: Unchanged; effect 4 left as it is\n";
  struct Step {
    bool edit; // the WAV files of effects 1 and 2 are edited before the step
    std::vector<std::string> options;
    std::string out;
    const Bytes* levelAfter;
    const Bytes* outAfter;  // of ../out.dat, which holds "old" before
    std::string trace = ""; // strace's options, for a thread the system does not start
  };
  const Bytes old = {'o', 'l', 'd'};
  const Step steps[] = {
      // Fresh from lvlsnd-wav: nothing to write, not even a backup.
      {false,
       {},
       "effect3_1.wav: Unchanged; effect 1 left as it is\neffect3_2.wav: Unchanged; effect 2 left "
       "as it is\n" +
           unchanged4 + "Replaced 0 effects of ../level3.dat; 3 unchanged\n",
       &original,
       &old},
      {true,
       {"-n"},
       "Would replace " + replacing + "\nWould replace " + replacing2 + "\n" + unchanged4 +
           "Would replace 2 effects of ../level3.dat; 1 unchanged\n",
       &original,
       &old},
      // A dry run to listen to: what the level will hold, in a folder it makes.
      {true,
       {"-n", "--preview", "../heard"},
       "Would replace " + replacing + "\nWould replace " + replacing2 + "\n" + unchanged4 +
           "Previewing effect 1 in ../heard/effect3_1.wav\nPreviewing effect 2 in "
           "../heard/effect3_2.wav\nWould replace 2 effects of ../level3.dat; 1 unchanged\n",
       &original,
       &old},
      // Both effects share their groups; one thread gives the same bytes as one run an effect.
      {true,
       {"-j", "1", "-f", "-o", "../out.dat"},
       "Replacing " + replacing + "...\nReplacing " + replacing2 + "...\n" + unchanged4 +
           "Replaced 2 effects of ../level3.dat, written to ../out.dat; 1 unchanged\n",
       &original,
       &oneAtATime},
      // A second thread the system does not start: one does the work, with the same bytes.
      {true,
       {"-j", "2", "-f", "-o", "../out.dat"},
       "Replacing " + replacing + "...\nReplacing " + replacing2 + "...\n" + unchanged4 +
           "Replaced 2 effects of ../level3.dat, written to ../out.dat; 1 unchanged\n",
       &original,
       &oneAtATime,
       "-e inject=clone3:error=EAGAIN:when=2"},
      {true,
       {},
       "Replacing " + replacing + "...\nReplacing " + replacing2 + "...\n" + unchanged4 +
           "Replaced 2 effects of ../level3.dat; 1 unchanged\n",
       &oneAtATime,
       &old},
      // Put back already: the level file is not written again.
      {true,
       {},
       "effect3_1.wav: Already in the level; effect 1 left as it is\neffect3_2.wav: Already in "
       "the level; effect 2 left as it is\n" +
           unchanged4 + "Replaced 0 effects of ../level3.dat; 3 unchanged\n",
       &oneAtATime,
       &old},
      // Their encodings are remembered: nothing is encoded, so no thread is needed.
      {true,
       {},
       "effect3_1.wav: Already in the level; effect 1 left as it is\neffect3_2.wav: Already in "
       "the level; effect 2 left as it is\n" +
           unchanged4 + "Replaced 0 effects of ../level3.dat; 3 unchanged\n",
       &oneAtATime,
       &old,
       "-e inject=clone3:error=EAGAIN"},
  };
  for (const auto& step : steps) {
    if (!step.trace.empty() && !haveStrace()) {
      continue;
    }
    if (step.edit) {
      fs::copy_file(wav("edit1.wav"), wav("effect3_1.wav"), fs::copy_options::overwrite_existing);
      fs::copy_file(wav("edit2.wav"), wav("effect3_2.wav"), fs::copy_options::overwrite_existing);
    }
    writeFile((scratch.root / "out.dat").string().c_str(), old);
    // An hour ago: any write of the level file would show.
    auto before = fs::last_write_time(level) - std::chrono::hours(1);
    fs::last_write_time(level, before);
    auto backupBefore = fs::exists(scratch.root / "level3.dat.bak");
    auto arguments = step.options;
    arguments.push_back(path);
    arguments.insert(arguments.end(), all.begin(), all.end());
    auto run = step.trace.empty() ? runTool(scratch, "lvlsnd-replace", arguments)
                                  : runTraced(scratch, step.trace, "lvlsnd-replace", arguments);
    EXPECT_EQ(run.status, 0) << step.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, step.out);
    EXPECT_EQ(levelBytes(), *step.levelAfter) << step.out;
    EXPECT_EQ(levelBytes("out.dat"), *step.outAfter) << step.out;
    bool written = levelBytes() != original && !backupBefore;
    EXPECT_EQ(fs::exists(scratch.root / "level3.dat.bak"), backupBefore || written);
    if (fs::exists(scratch.root / "level3.dat.bak")) {
      EXPECT_EQ(levelBytes("level3.dat.bak"), original);
    }
    if (!written) {
      EXPECT_EQ(fs::last_write_time(level), before) << "not written: " << step.out;
    }
    for (const auto& item : fs::directory_iterator(scratch.root)) {
      EXPECT_EQ(item.path().filename().string().find(".lvlsnd-"), std::string::npos);
    }
  }
  // The previews are what the level holds now, as lvlsnd-wav makes it.
  runLvlsnd(scratch, {path});
  for (const auto& name : {"effect3_1", "effect3_2"}) {
    auto check = scratch.root / (std::string("check-") + name + ".raw");
    fs::copy_file(wav(std::string(name) + ".raw"), check);
    runTool(scratch, "lvlsnd-wav", {"../" + check.filename().string()});
    EXPECT_EQ(readFile((scratch.root / "heard" / name).replace_extension(".wav").string().c_str()),
              readFile(check.replace_extension(".wav").string().c_str()))
        << name;
  }
  if (runningWindowsBuild()) {
    // cmd hands a wildcard over as typed: the program expands it.
    auto expanded = runTool(scratch, "lvlsnd-replace", {"-n", path, "effect3_*.wav"});
    EXPECT_EQ(expanded.out, "effect3_1.wav: Already in the level; effect 1 left as it is\n"
                            "effect3_2.wav: Already in the level; effect 2 left as it is\n" +
                                unchanged4 +
                                "Would replace 0 effects of ../level3.dat; 3 unchanged\n");
  }
  // Entries that share groups: a batch leaves the level file as one run an item would.
  // Two entries of the very same units: the sound put in first changes what the second holds,
  // so the second's WAV file, unedited, puts its sound back, as a second run would. An entry
  // whose groups lie inside another's: the bytes read once cover the outer one.
  LevelLayout alias;
  alias.tail = countingGroups(4, 3);
  alias.records = {{offsetToTail(1, 2, 0), 4, 0}, {offsetToTail(2, 2, 0), 4, 0}};
  LevelLayout nested;
  nested.tail = countingGroups(4, 7);
  nested.records = {{offsetToTail(1, 2, 0), 4, 0}, {offsetToTail(2, 2, 120), 2, 1}};
  putLevelFile("alias5.dat", buildLevelFile(alias));
  runLvlsnd(scratch, {"../alias5.dat"});
  runTool(scratch, "lvlsnd-wav", {"effect5_2.raw"});
  auto tone = toneSamples();
  tone.resize(4 * samplesPerEffectGroup);
  writeFile(wav("tone.wav").c_str(), monoWav(tone));
  auto noise = noiseSamples();
  noise.resize(2 * samplesPerEffectGroup);
  writeFile(wav("noise.wav").c_str(), monoWav(noise));
  const std::tuple<const char*, const LevelLayout*, std::vector<std::string>> shared[] = {
      {"alias5.dat", &alias, {"1", "tone.wav", "2", "effect5_2.wav"}},
      {"nested6.dat", &nested, {"1", "tone.wav", "2", "noise.wav"}}};
  for (const auto& [name, layout, items] : shared) {
    putLevelFile(name, buildLevelFile(*layout));
    putLevelFile("seq.dat", buildLevelFile(*layout));
    for (std::size_t k = 0; k < items.size(); k += 2) {
      runTool(scratch, "lvlsnd-replace", {"../seq.dat", items[k], items[k + 1]});
    }
    auto arguments = items;
    arguments.insert(arguments.begin(), std::string("../") + name);
    auto batch = runTool(scratch, "lvlsnd-replace", arguments);
    EXPECT_EQ(batch.status, 0) << name << ": " << batch.err;
    EXPECT_EQ(levelBytes(name), levelBytes("seq.dat")) << name;
  }
}

TEST_F(ReplaceToolTest, ALongEncodeRedrawsItsProgressOnATerminalAndNowhereElse) {
  if (runningWindowsBuild() || std::system("script --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs script(1) for a terminal, and a native build";
  }
  // 30 seconds of noise, which takes the encoder well over a second.
  constexpr std::uint16_t groups = 10000;
  LevelLayout layout;
  layout.tail = countingGroups(groups, 1);
  layout.records = {{offsetToTail(1, 1, 0), groups, 0}};
  auto path = putLevelFile("long3.dat", buildLevelFile(layout));
  std::vector<std::int16_t> noise(groups * samplesPerEffectGroup);
  std::uint32_t seed = 1;
  for (auto& sample : noise) {
    seed = seed * 1664525u + 1013904223u;
    sample = static_cast<std::int16_t>(static_cast<std::int32_t>(seed >> 16) - 32768) / 4;
  }
  putWav("long.wav", noise);
  // To a log, only the lines.
  auto logged = runTool(scratch, "lvlsnd-replace", {"-o", "log.dat", path, "1", "../long.wav"});
  EXPECT_EQ(logged.status, 0);
  EXPECT_EQ(logged.err, "");
  EXPECT_EQ(logged.out, "Replacing effect 1 (10000 groups, 29.630 s at 37800 Hz, even units) in "
                        "../long3.dat from ../long.wav...\nReplaced 1 effect of ../long3.dat, "
                        "written to log.dat\n");
  // On a terminal, the progress too, redrawn in place and cleared at the end.
  auto command = "cd '" + scratch.work.string() + "' && script -qec \"'" +
                 toolPath("lvlsnd-replace") +
                 "' -o tty.dat ../long3.dat 1 ../long.wav\" /dev/null > ../tty.log";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto bytes = readFile((scratch.root / "tty.log").string().c_str());
  std::string terminal(bytes.begin(), bytes.end());
  EXPECT_NE(terminal.find("% encoded: effect 1"), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("\r" + std::string(54, ' ') + "\rReplacing effect 1"), std::string::npos)
      << terminal;
  EXPECT_EQ(readFile((scratch.work / "tty.dat").string().c_str()), logged.files["log.dat"]);
  // Ctrl+C ends the progress line with what became of the level file: a sound three times as
  // long, which takes some seconds, interrupted once its progress shows.
  constexpr std::uint16_t longer = 3 * groups;
  layout.tail = countingGroups(longer, 1);
  layout.records = {{offsetToTail(1, 1, 0), longer, 0}};
  putLevelFile("long3.dat", buildLevelFile(layout));
  noise.resize(3 * noise.size(), 900);
  putWav("long.wav", noise);
  auto interrupted = "cd '" + scratch.work.string() + "' && script -qec \"timeout -s INT 1.6 '" +
                     toolPath("lvlsnd-replace") +
                     "' ../long3.dat 1 ../long.wav\" /dev/null > ../interrupted.log";
  std::system(interrupted.c_str());
  bytes = readFile((scratch.root / "interrupted.log").string().c_str());
  terminal.assign(bytes.begin(), bytes.end());
  EXPECT_NE(terminal.find("% encoded: effect 1"), std::string::npos) << terminal;
  auto note = terminal.rfind("\rInterrupted; ../long3.dat as it was");
  EXPECT_TRUE(note != std::string::npos &&
              terminal.find_first_not_of(' ', note + 36) == terminal.size() - 2 &&
              terminal.ends_with("\r\n"))
      << "the progress line, drawn over to its end: " << terminal;
  EXPECT_FALSE(fs::exists(scratch.root / "long3.dat.bak"));
}

// Every regular file under `folder`, by path, but the runner's stdout and stderr.
std::map<std::string, Bytes> filesUnder(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    auto name = item.path().filename();
    // The encoding cache may learn what a dry run encoded.
    bool cached = fs::relative(item.path(), folder).string().starts_with("cache");
    if (item.is_regular_file() && name != "stdout" && name != "stderr" && !cached) {
      files[item.path().string()] = readFile(item.path().string().c_str());
    }
  }
  return files;
}

TEST_F(ReplaceToolTest, ALinkedLevelFileChangesWhereTheLinkLeadsAndStaysALink) {
  if (runningWindowsBuild()) {
    GTEST_SKIP() << "POSIX links";
  }
  fs::create_directory(scratch.root / "game");
  writeFile((scratch.root / "game/level3.dat").string().c_str(), sampleLevelFile());
  fs::create_symlink("game/level3.dat", scratch.root / "level3.dat");
  putWav("a.wav", toneSamples());
  auto run = runTool(scratch, "lvlsnd-replace", {"../level3.dat", "2", "../a.wav"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Replacing effect 2 (135 groups, 0.400 s at 37800 Hz, odd units) in "
                     "../level3.dat from ../a.wav...\nReplaced 1 effect of ../level3.dat\n");
  EXPECT_TRUE(fs::is_symlink(scratch.root / "level3.dat"));
  EXPECT_EQ(levelBytes("game/level3.dat.bak"), sampleLevelFile());
  EXPECT_TRUE(
      onlySelectedUnitsDiffer(sampleLevelFile(), levelBytes("game/level3.dat"), 0x3028, 135, 1));
  EXPECT_NE(levelBytes("game/level3.dat"), sampleLevelFile());
  EXPECT_FALSE(fs::exists(scratch.root / "level3.dat.bak"));
  if (!haveStrace()) {
    return;
  }
  // The link pointed at another file while a run holds back its first flush: the file it led to
  // at the start is still the one locked, kept and written; the other is never touched.
  writeFile((scratch.root / "game/level3.dat").string().c_str(), sampleLevelFile());
  fs::remove(scratch.root / "game/level3.dat.bak");
  writeFile((scratch.root / "game/other.dat").string().c_str(), sampleLevelFile());
  auto command = "cd '" + scratch.work.string() +
                 "' && (sleep 0.5; ln -sfn game/other.dat ../level3.dat) & cd '" +
                 scratch.work.string() +
                 "' && ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e "
                 "inject=fsync:delay_enter=1500000:when=1 '" +
                 toolPath("lvlsnd-replace") + "' ../level3.dat 2 ../a.wav >/dev/null 2>&1; wait";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(fs::read_symlink(scratch.root / "level3.dat"), "game/other.dat");
  EXPECT_EQ(levelBytes("game/other.dat"), sampleLevelFile());
  EXPECT_FALSE(fs::exists(scratch.root / "game/other.dat.bak"));
  EXPECT_EQ(levelBytes("game/level3.dat.bak"), sampleLevelFile());
  EXPECT_TRUE(
      onlySelectedUnitsDiffer(sampleLevelFile(), levelBytes("game/level3.dat"), 0x3028, 135, 1));
  EXPECT_NE(levelBytes("game/level3.dat"), sampleLevelFile());
}

TEST_F(ReplaceToolTest, TheNewFilesAreFlushedBeforeAndAfterTheyAreNamed) {
  if (runningWindowsBuild() || std::system("strace -V >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs strace and a native build";
  }
  auto path = putSample();
  putWav("a.wav", toneSamples());
  auto trace = (scratch.root / "trace").string();
  // LeakSanitizer stops a sanitized build that runs under ptrace.
  auto command = "cd '" + scratch.work.string() +
                 "' && LVLSND_CACHE=off ASAN_OPTIONS=detect_leaks=0 strace -f -o '" + trace +
                 "' -e trace=openat,fsync,fdatasync,rename,renameat,renameat2,linkat '" +
                 toolPath("lvlsnd-replace") + "' ../level3.dat 2 ../a.wav >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto bytes = readFile(trace.c_str());
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  // Per new file: created with no name (the backup, whose name is free) or exclusively, flushed,
  // given its name, then its folder flushed.
  std::set<std::string> folders;
  std::string file;
  std::vector<std::string> steps;
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.find_first_not_of("0123456789 ")); // strace -f's process number
    auto result = line.substr(line.rfind("= ") + 2);
    bool opened = line.find("openat(") != std::string::npos;
    if (opened && line.find("O_TMPFILE") != std::string::npos) {
      steps.push_back("create unnamed");
      file = result;
    } else if (opened && line.find("\".lvlsnd-") != std::string::npos) {
      steps.push_back(line.find("O_EXCL") != std::string::npos ? "create exclusive" : "create");
      file = result;
    } else if (opened && line.find("O_DIRECTORY") != std::string::npos) {
      folders.insert(result);
    } else if (line.find("fsync(" + file + ")") != std::string::npos) {
      steps.push_back("flush file");
      file.clear();
    } else if (line.starts_with("fsync(") &&
               folders.count(line.substr(6, line.find(')') - 6)) == 1) {
      steps.push_back("flush folder");
    } else if (line.starts_with("linkat(") ||
               (line.starts_with("rename") && line.find(".lvlsnd-") != std::string::npos)) {
      steps.push_back("name");
    }
  }
  const std::vector<std::string> backupThenLevel = {
      "create unnamed",   "flush file", "name", "flush folder",
      "create exclusive", "flush file", "name", "flush folder"};
  EXPECT_EQ(steps, backupThenLevel);
}

TEST_F(ReplaceToolTest, ASecondRunWhileTheFirstHoldsTheLockChangesNothing) {
  if (runningWindowsBuild()) {
    GTEST_SKIP() << "the test holds a POSIX lock";
  }
  putWav("a.wav", toneSamples());
  const Bytes oldOut = {1, 2, 3};
  struct Case {
    std::string locked; // the file another run holds, under the scratch root
    int mode;           // how it holds it: a run that took its lock shared would let others in
    std::vector<std::string> arguments;
  };
  // In place the level file is locked; with -o onto an existing file, that file too.
  const Case cases[] = {
      {"level3.dat", LOCK_EX, {"../level3.dat", "2", "../a.wav"}},
      {"level3.dat", LOCK_SH, {"../level3.dat", "2", "../a.wav"}},
      {"out.dat", LOCK_EX, {"-f", "-o", "../out.dat", "../level3.dat", "2", "../a.wav"}}};
  for (const auto& c : cases) {
    putSample();
    fs::remove(scratch.root / "level3.dat.bak");
    writeFile((scratch.root / "out.dat").string().c_str(), oldOut);
    int held = open((scratch.root / c.locked).c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, c.mode), 0);
    auto second = runTool(scratch, "lvlsnd-replace", c.arguments);
    EXPECT_EQ(second.status, 1);
    // OUT's lock is met after the level's sound table was read, a refusal of the batch.
    EXPECT_EQ(second.err,
              "../" + c.locked + ": Being changed by another run\n" +
                  (c.locked == "out.dat" ? "Nothing written; ../level3.dat as it was\n" : ""));
    EXPECT_EQ(levelBytes(), sampleLevelFile());
    EXPECT_EQ(levelBytes("out.dat"), oldOut);
    EXPECT_FALSE(fs::exists(scratch.root / "level3.dat.bak"));
    close(held);
    EXPECT_EQ(runTool(scratch, "lvlsnd-replace", c.arguments).status, 0) << c.locked;
    EXPECT_NE(levelBytes(c.locked), c.locked == "out.dat" ? oldOut : sampleLevelFile());
  }
}

TEST_F(ReplaceToolTest, RefusalsNameTheFileAndWriteNothing) {
  auto path = putSample();
  const auto original = levelBytes();
  putWav("a.wav", toneSamples());
  putWav("effect3_1.wav", std::vector<std::int16_t>(1000, 700));
  // Rates just outside those a sound is resampled from.
  putWav("slow.wav", toneSamples(), 999);
  putWav("fast.wav", toneSamples(), 768001);
  const std::string outsideRates = ": 999 Hz, but WAV files of 1000 to 768000 Hz go in\n";
  putWav("long.wav", std::vector<std::int16_t>(15121, 9)); // one sample more than effect 2
  writeFile((scratch.root / "adpcm.wav").string().c_str(),
            wavFile({{"fmt ", fmtBytes(2, 1, 4)}, {"data", Bytes(8, 0)}}));
  // A level file whose only entry's groups run past its end.
  LevelLayout cut;
  cut.tail = countingGroups(2, 1);
  cut.records = {{offsetToTail(1, 1, 0), 3, 1}};
  auto cutPath = putLevelFile("level4.dat", buildLevelFile(cut));
  fs::create_directory(scratch.root / "dir.dat");
  // A level file of twelve effects, and an effect file.
  LevelLayout many;
  many.tail = countingGroups(1, 1);
  for (std::size_t k = 1; k <= 12; ++k) {
    many.records.push_back({offsetToTail(k, 12, 0), 1, 1});
  }
  auto manyPath = putLevelFile("many.dat", buildLevelFile(many));
  writeFile((scratch.root / "effect.raw").string().c_str(), randomRawGroups(2, 1));
  writeFile((scratch.root / "effect3_1.raw").string().c_str(), randomRawGroups(2, 1));
  writeFile((scratch.root / "precious.txt").string().c_str(), {'m', 'i', 'n', 'e'});
  const std::string effects = "; its effects are 1, 2, 4\n";
  fs::create_directory(scratch.root / "dir.wav");
  // Level files that must not be changed in place.
  auto twoNames = putLevelFile("names.dat", original);
  fs::create_hard_link(scratch.root / "names.dat", scratch.root / "other-name.dat");
  auto readOnly = putLevelFile("readonly.dat", original);
  fs::permissions(scratch.root / "readonly.dat", fs::perms::owner_read | fs::perms::group_read);
  auto bakFolder = putLevelFile("bakfolder.dat", original);
  fs::create_directory(scratch.root / "bakfolder.dat.bak");
  const bool posix = !runningWindowsBuild();
  auto bakLink = putLevelFile("baklink.dat", original);
  if (posix) {
    fs::create_symlink("nowhere", scratch.root / "baklink.dat.bak");
    fs::create_symlink("level3.dat", scratch.root / "link.dat");
    mkfifo((scratch.root / "fifo").c_str(), 0644);
  }
  const std::string usage =
      "Usage: lvlsnd-replace [options] LEVEL INDEX SOUND.wav|effectN_M.wav...\n"
      "Function: Replaces Orrelin sound effects in level data with the sounds of WAV files\n"
      "INDEX is the M of effectN_M.raw; a WAV file named effectN_M.wav, as lvlsnd-wav names it,\n"
      "goes into effect M without one. One holding the effect's own samples leaves it as it is.\n"
      "LEVEL is changed in place and first kept as LEVEL.bak\n"
      "SOUND.wav may be at any rate: it is resampled to the rate the effect plays at\n"
      "  -o OUT         write the changed level file to OUT and leave LEVEL as it is\n"
      "  -f, --force    let -o replace a file that exists\n"
      "  --rate HZ      the rate the game plays the effects at, 1000 to 192000 (default 37800)\n"
      "  --cut          keep the beginning of a sound longer than its effect (else refused)\n"
      "  -n, --dry-run  check everything and say what would be done, writing nothing\n"
      "  --preview DIR  write into DIR, as effectN_M.wav, each effect the run changes (or would)\n"
      "                 as the level will hold it\n"
      "  -j, --jobs N   encode N effects at a time (default: one a processor core)\n"
      "  -h, --help     print this text\n"
      "  --version      print the version\n";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
    bool posixOnly = false;
    std::string out = "";   // a progress line, for a refusal met while writing
    std::string trace = ""; // strace's options, for a fault the suite cannot make otherwise
    // A run that read LEVEL's sound table ends a refusal with the line that says so:
    // "Nothing written; <LEVEL> as it was".
    bool tableRead = true;
  };
  const Case cases[] = {
      {.arguments = {"../missing.dat", "1", "../a.wav"},
       .status = 1,
       .err = "../missing.dat: Cannot open (No such file or directory)\n",
       .tableRead = false},
      {.arguments = {"../dir.dat", "1", "../a.wav"},
       .status = 1,
       .err = "../dir.dat: Cannot open (" + folderReason() + ")\n",
       .tableRead = false},
      {{path, "1", "../missing.wav"},
       1,
       "../missing.wav: Cannot open (No such file or directory)\n"},
      {{path, "1", "../dir.wav"}, 1, "../dir.wav: Cannot open (" + folderReason() + ")\n"},
      {{path, "1", path}, 1, path + ": Not a WAV file\n"},
      {{path, "1", "../adpcm.wav"},
       1,
       "../adpcm.wav: MS ADPCM WAV (format 0x0002); save it as 16-bit PCM\n"},
      {{path, "1", "../slow.wav"}, 1, "../slow.wav" + outsideRates},
      {{path, "1", "../fast.wav"},
       1,
       "../fast.wav: 768001 Hz, but WAV files of 1000 to 768000 Hz go in\n"},
      // OUT attached, "-oOUT", as the usage allows.
      {{"-o../work/../level3.dat", path, "1", "../a.wav"},
       1,
       "../work/../level3.dat: Is the level file; leave out -o to change it in place\n"},
      {{"-o", "../work/../level3.dat", path, "1", "../a.wav"},
       1,
       "../work/../level3.dat: Is the level file; leave out -o to change it in place\n"},
      {{"-o", "../link.dat", path, "1", "../a.wav"},
       1,
       "../link.dat: Is the level file; leave out -o to change it in place\n",
       true},
      {{"-o", "../a.wav", path, "1", "../a.wav"}, 1, "../a.wav: Is the WAV file\n"},
      {{"-o", "../fifo", path, "1", "../a.wav"}, 1, "../fifo: Not a regular file\n", true},
      {{"-o", "../dir.dat", path, "1", "../a.wav"}, 1, "../dir.dat: Not a regular file\n"},
      {{twoNames, "1", "../a.wav"},
       1,
       twoNames + ": Has other names (hard links) that would keep the old bytes; write a copy "
                  "with -o\n"},
      {{readOnly, "1", "../a.wav"}, 1, readOnly + ": Read-only\n"},
      // No thread can start: nothing is encoded, nothing written.
      {{path, "1", "../a.wav"},
       1,
       "lvlsnd-replace: Cannot start a thread (Resource temporarily unavailable)\n",
       true,
       "",
       "-e inject=clone3:error=EAGAIN"},
      // A level file the user may not write (as root the suite only sees that through strace).
      {{path, "1", "../a.wav"},
       1,
       path + ": Cannot write (Permission denied); write a copy with -o OUT\n",
       true,
       "",
       "-e inject=access:error=EACCES"},
      {{bakFolder, "1", "../a.wav"},
       1,
       bakFolder + ".bak: Not a regular file; the original would not be kept\n"},
      {{bakLink, "1", "../a.wav"},
       1,
       bakLink + ".bak: Not a regular file; the original would not be kept\n",
       true},
      // A FIFO with no writer is refused at once, wherever it is given.
      {.arguments = {"../fifo", "1", "../a.wav"},
       .status = 1,
       .err = "../fifo: Cannot open (Illegal seek)\n",
       .posixOnly = true,
       .tableRead = false},
      {{path, "1", "../fifo"}, 1, "../fifo: Cannot open (Illegal seek)\n", true},
      {{path, "one", "../a.wav"},
       2,
       "lvlsnd-replace: one is not named effectN_M.wav; give the INDEX of its effect before "
       "it\n" +
           usage},
      {{path, "-1", "../a.wav"}, 2, "lvlsnd-replace: unknown option '-1'\n" + usage},
      {{path, "--", "-1", "../a.wav"},
       2,
       "lvlsnd-replace: -1 is not named effectN_M.wav; give the INDEX of its effect before "
       "it\n" +
           usage},
      {{path, "99999999999999999999", "../a.wav"},
       1,
       path + ": 99999999999999999999 is not an entry index\n"},
      {{path, "0", "../a.wav"}, 1, path + ": No entry 0 in the sound table" + effects},
      {{path, "5", "../a.wav"}, 1, path + ": No entry 5 in the sound table" + effects},
      {{path, "3", "../a.wav"}, 1, path + ": Entry 3 has no stored groups" + effects},
      {{manyPath, "13", "../a.wav"},
       1,
       manyPath + ": No entry 13 in the sound table; its effects are 1, 2, 3, 4, 5, 6, 7, 8, 9, "
                  "10, ... (12 in all)\n"},
      // The arguments swapped, and an effect file given for the WAV file.
      {.arguments = {"../a.wav", "1", path},
       .status = 1,
       .err = "../a.wav: A WAV file, not a level file; the order is LEVEL INDEX SOUND.wav\n",
       .tableRead = false},
      {{"1", path, "../a.wav"},
       2,
       "lvlsnd-replace: 1 is an index, not a level file; the order is LEVEL INDEX SOUND.wav\n" +
           usage},
      {.arguments = {"../effect3_1.raw", "1", "../a.wav"},
       .status = 1,
       .err = "../effect3_1.raw: An effect file, not a level file; lvlsnd extracts effect files "
              "from a level file\n",
       .tableRead = false},
      // One entry twice, by index or by name: nothing is read.
      {{path, "1", "../missing.wav", "1", "../a.wav"},
       2,
       "lvlsnd-replace: effect 1 is given twice: 1 ../missing.wav, then 1 ../a.wav\n" + usage},
      {{path, "1", "../a.wav", "2", "../b.wav", "1", "../c.wav"},
       2,
       "lvlsnd-replace: effect 1 is given twice: 1 ../a.wav, then 1 ../c.wav\n" + usage},
      {{path, "01", "../a.wav", "../EFFECT3_1.WAV"},
       2,
       "lvlsnd-replace: effect 1 is given twice: 01 ../a.wav, then ../EFFECT3_1.WAV\n" + usage},
      {{path, "../effect5_1.wav"},
       1,
       "../effect5_1.wav: An effect of level 5, but " + path +
           " is level 3; give its index to put it in anyway: 1 ../effect5_1.wav\n"},
      {{path, "4", "../a.wav"},
       1,
       "../a.wav: 0.300 s, but effect 4 holds 0.201 s; shorten it or give --cut to keep its first "
       "0.201 s\n"},
      {{path, "2", "../long.wav"},
       1,
       "../long.wav: 15121 samples (0.400 s), but effect 2 holds 15120 (0.400 s); shorten it or "
       "give --cut to keep its first 0.400 s\n"},
      // Every sound is checked before anything is written, and every problem told.
      {{path, "1", "../a.wav", "2", "../slow.wav", "4", "../missing.wav"},
       1,
       "../slow.wav" + outsideRates + "../missing.wav: Cannot open (No such file or directory)\n"},
      {{"-o", "../precious.txt", path, "1", "../a.wav"},
       1,
       "../precious.txt: Exists; give --force to replace it\n"},
      {{"-f", "-o", "../a.wav", "--", path, "2", "../slow.wav", "1", "../a.wav"},
       1,
       "../slow.wav" + outsideRates + "../a.wav: Is the WAV file\n"},
      // Operands in any order, as Explorer hands over files dropped onto the program: LEVEL is
      // the one that is no WAV file. Not when no one is, nor an effect file given as a sound.
      {{"-n", "../effect3_1.wav", path},
       0,
       "",
       false,
       "Would replace effect 1 (135 groups, 0.400 s at 37800 Hz, even units) in ../level3.dat "
       "from ../effect3_1.wav\nWould replace 1 effect of ../level3.dat\n"},
      {{"../effect3_1.wav", "../a.wav"},
       2,
       "lvlsnd-replace: ../effect3_1.wav is a WAV file, not a level file; the order is LEVEL, "
       "then the WAV files\n" +
           usage},
      {{path, "../effect3_1.raw"},
       2,
       "lvlsnd-replace: ../effect3_1.raw is an effect file; lvlsnd-wav ../effect3_1.raw makes its "
       "WAV file\n" +
           usage},
      {{path, "1", "../effect.raw"},
       1,
       "../effect.raw: Not a WAV file; lvlsnd-wav turns effect files into WAV files\n"},
      {{cutPath, "1", "../a.wav"},
       1,
       cutPath + ": The stored groups of entry 1 do not lie "
                 "inside the file\n"},
      {{"-o", "../nodir/x.dat", path, "2", "../a.wav"},
       1,
       "../nodir/x.dat: Cannot create (No such file or directory)\n"},
      {{path, "1"}, 2, "lvlsnd-replace: INDEX 1 needs a SOUND.wav after it\n" + usage},
      {{path},
       2,
       "lvlsnd-replace: LEVEL and at least one INDEX SOUND.wav or effectN_M.wav are needed\n" +
           usage},
      {{"-j", "0", path, "1", "../a.wav"},
       2,
       "lvlsnd-replace: the number of jobs must be an integer from 1 to 256, not '0'\n" + usage},
      // The number attached, "-j4", and the long name's: each read as the number of jobs.
      {{"-j257", path, "1", "../a.wav"},
       2,
       "lvlsnd-replace: the number of jobs must be an integer from 1 to 256, not '257'\n" + usage},
      {{"--jobs=x", path, "1", "../a.wav"},
       2,
       "lvlsnd-replace: the number of jobs must be an integer from 1 to 256, not 'x'\n" + usage},
      {{"-o"}, 2, "lvlsnd-replace: -o needs a value\n" + usage},
      // A preview would take the name of a WAV file of the run.
      {{"--preview", "../work/..", path, "1", "../a.wav"},
       2,
       "lvlsnd-replace: --preview ../work/.. holds ../a.wav, a WAV file of this run; give a "
       "folder of its own\n" +
           usage},
      {{"--rate=999", path, "1", "../a.wav"},
       2,
       "lvlsnd-replace: the rate must be an integer from 1000 to 192000, not '999'\n" + usage},
  };
  auto help = runTool(scratch, "lvlsnd-replace", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, usage);
  EXPECT_EQ(runTool(scratch, "lvlsnd-replace", {"--version"}).out,
            "lvlsnd-replace " LVLSND_VERSION "\nencoder instructions: " +
                std::string(searchInstructionsName()) + "\n");
  const auto filesBefore = filesUnder(scratch.root);
  for (const auto& c : cases) {
    if ((c.posixOnly && !posix) || (!c.trace.empty() && !haveStrace())) {
      continue;
    }
    auto run = c.trace.empty() ? runTool(scratch, "lvlsnd-replace", c.arguments)
                               : runTraced(scratch, c.trace, "lvlsnd-replace", c.arguments);
    EXPECT_EQ(run.status, c.status) << c.err;
    EXPECT_EQ(run.out, c.out);
    // LEVEL: the first level file named that is not -o's OUT.
    std::string level;
    for (std::size_t k = 0; k < c.arguments.size() && level.empty(); ++k) {
      bool out = k > 0 && c.arguments[k - 1] == "-o";
      bool option = c.arguments[k].starts_with("-");
      level = c.arguments[k].ends_with(".dat") && !out && !option ? c.arguments[k] : "";
    }
    auto asItWas = c.status == 1 && c.tableRead && c.out.empty()
                       ? "Nothing written; " + level + " as it was\n"
                       : "";
    EXPECT_EQ(run.err, c.err + asItWas);
    EXPECT_EQ(filesUnder(scratch.root), filesBefore) << "every file as it was: " << c.err;
  }
}

} // namespace
