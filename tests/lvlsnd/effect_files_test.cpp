// Effect files written by the real executable: names, contents, progress lines, complaints.
#include "effects.hpp"
#include "tool_test.hpp"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

using EffectFilesTest = ScratchTest;

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

TEST_F(EffectFilesTest, WritesOneFilePerEntryWithGroupsAndSkipsEmptyEntries) {
  LevelLayout layout;
  layout.blockSizes[0] = 0x1000;
  layout.blockSizes[1] = 0x10;
  layout.blockSizes[3] = 0x801;
  layout.blockFill = 0x5A;
  layout.tail = countingGroups(3, 1);
  layout.records = {{offsetToTail(1, 3, 0), 2, 0},
                    {offsetToTail(2, 3, 0), 0, 1},
                    {offsetToTail(3, 3, 240), 1, 1}};
  auto path = putLevelFile("level4.dat", buildLevelFile(layout));
  auto run = runLvlsnd(scratch, {path});

  auto groups = soundHeaderStart(layout) + 32;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, openingLines(4, path, 0x3000) + effectLine("effect4_1.raw", 2, path, groups) +
                         effectLine("effect4_3.raw", 1, path, groups + 240));
  std::map<std::string, Bytes> expected = {
      {"effect4_1.raw", effectOf(slice(layout.tail, 0, 240), 0)},
      {"effect4_3.raw", effectOf(slice(layout.tail, 240, 120), 1)}};
  EXPECT_EQ(run.files, expected);
  EXPECT_EQ(run.files["effect4_1.raw"].size(), 256u);
}

TEST_F(EffectFilesTest, EntriesReadFromTheirOwnOffsetsWhetherSharedOverlappingOrBackwards) {
  LevelLayout layout;
  layout.tail = countingGroups(4, 9);
  auto backwards = static_cast<std::uint32_t>(-static_cast<std::int64_t>(0x800 + 8 + 8 * 3));
  layout.records = {{offsetToTail(1, 4, 0), 3, 0},  // groups 0 to 2, even units
                    {offsetToTail(2, 4, 0), 3, 1},  // the same groups, odd units
                    {offsetToTail(3, 4, 60), 2, 1}, // overlapping, half a group in
                    {backwards, 1, 0}};             // the block header's sector
  auto bytes = buildLevelFile(layout);
  auto path = putLevelFile("level1.dat", bytes);
  auto run = runLvlsnd(scratch, {path});

  auto tailStart = bytes.size() - layout.tail.size();
  std::map<std::string, Bytes> expected = {
      {"effect1_1.raw", effectOf(slice(layout.tail, 0, 360), 0)},
      {"effect1_2.raw", effectOf(slice(layout.tail, 0, 360), 1)},
      {"effect1_3.raw", effectOf(slice(layout.tail, 60, 240), 1)},
      {"effect1_4.raw", effectOf(slice(bytes, 0, 120), 0)}};
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.files, expected);
  EXPECT_EQ(run.out,
            openingLines(1, path, 0x800) +
                effectLine("effect1_1.raw", 3, path, static_cast<std::uint32_t>(tailStart)) +
                effectLine("effect1_2.raw", 3, path, static_cast<std::uint32_t>(tailStart)) +
                effectLine("effect1_3.raw", 2, path, static_cast<std::uint32_t>(tailStart + 60)) +
                effectLine("effect1_4.raw", 1, path, 0));
}

TEST_F(EffectFilesTest, MissingBytesOfStoredGroupsReadAs255) {
  LevelLayout layout;
  layout.tail = countingGroups(1, 3);
  layout.records = {{offsetToTail(1, 3, 60), 2, 1},  // crosses the end of the file
                    {0x80000000, 2, 0},              // far past the end
                    {0xFFFFFFFF - 0x810 - 8, 1, 1}}; // absolute 0xFFFFFFFF
  auto path = putLevelFile("level2.dat", buildLevelFile(layout));
  auto run = runLvlsnd(scratch, {path});

  Bytes crossing = slice(layout.tail, 60, 60);
  crossing.resize(240, 0xFF);
  Bytes missing(240, 0xFF);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.files["effect2_1.raw"], effectOf(crossing, 1));
  EXPECT_EQ(run.files["effect2_2.raw"], effectOf(missing, 0));
  EXPECT_EQ(run.files["effect2_3.raw"], effectOf(slice(missing, 0, 120), 1));
  EXPECT_NE(run.out.find("(2 groups) from ../level2.dat @$80000810..."), std::string::npos);
  EXPECT_NE(run.out.find("(1 groups) from ../level2.dat @$ffffffff..."), std::string::npos);
}

TEST_F(EffectFilesTest, LongEffectsCrossingTheEndOfTheFileAreFilledWith255) {
  // Several read chunks long, cut off in the middle of a group.
  LevelLayout layout;
  layout.tail = countingGroups(2500, 1);
  layout.tail.resize(layout.tail.size() - 60);
  layout.records = {{offsetToTail(1, 2, 0), 3000, 0}, {offsetToTail(2, 2, 1200), 2000, 1}};
  auto path = putLevelFile("level2.dat", buildLevelFile(layout));
  auto run = runLvlsnd(scratch, {path});

  Bytes first = layout.tail;
  first.resize(3000 * 120, 0xFF);
  Bytes second = slice(layout.tail, 1200, layout.tail.size() - 1200);
  second.resize(2000 * 120, 0xFF);
  std::map<std::string, Bytes> expected = {{"effect2_1.raw", effectOf(first, 0)},
                                           {"effect2_2.raw", effectOf(second, 1)}};
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.files == expected);
}

TEST_F(EffectFilesTest, NegativeGroupCountsGiveEmptyAnnouncedFiles) {
  LevelLayout layout;
  layout.records = {{0x40, 0xFFFF, 0}, {0x40, 0x8000, 1}};
  auto path = putLevelFile("level6.dat", buildLevelFile(layout));
  auto run = runLvlsnd(scratch, {path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, openingLines(6, path, 0x800) + effectLine("effect6_1.raw", -1, path, 0x848) +
                         effectLine("effect6_2.raw", -32768, path, 0x850));
  std::map<std::string, Bytes> expected = {{"effect6_1.raw", {}}, {"effect6_2.raw", {}}};
  EXPECT_EQ(run.files, expected);
}

TEST_F(EffectFilesTest, SoundTableCutShortGivesEmptyFilesFromTheEndOfTheFile) {
  Bytes bytes;
  putU16be(bytes, 0);
  padTo(bytes, 0x800);
  putU32be(bytes, 4); // three records announced, none stored
  putU32be(bytes, 0);
  auto path = putLevelFile("level5.dat", bytes);
  auto run = runLvlsnd(scratch, {path});

  std::string lines = openingLines(5, path, 0x800);
  std::map<std::string, Bytes> expected;
  for (int index = 1; index <= 3; ++index) {
    auto name = "effect5_" + std::to_string(index) + ".raw";
    lines += effectLine(name, -1, path, 0x807);
    expected[name] = {};
  }
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, lines);
  EXPECT_EQ(run.files, expected);
}

TEST_F(EffectFilesTest, NamesAreWholeForLongLevelNumbersAndIndices) {
  LevelLayout layout;
  layout.tail = countingGroups(1, 0);
  layout.records.resize(121);
  layout.records[120] = {offsetToTail(121, 121, 0), 1, 1};
  const std::pair<std::string, std::string> cases[] = {
      {"level1234.dat", "effect1234_121.raw"},
      {"level2147483647.dat", "effect2147483647_121.raw"},
      {"level99999999999.dat", "effect2147483647_121.raw"}};
  for (const auto& [file, name] : cases) {
    auto path = putLevelFile(file, buildLevelFile(layout));
    auto run = runLvlsnd(scratch, {path});
    EXPECT_EQ(run.status, 0);
    std::map<std::string, Bytes> expected = {{name, effectOf(layout.tail, 1)}};
    EXPECT_EQ(run.files, expected) << file;
    fs::remove(scratch.work / name);
  }
}

TEST_F(EffectFilesTest, ExistingFilesAreReplaced) {
  LevelLayout layout;
  layout.tail = countingGroups(1, 0);
  layout.records = {{offsetToTail(1, 1, 0), 1, 0}};
  auto path = putLevelFile("level7.dat", buildLevelFile(layout));
  writeFile((scratch.work / "effect7_1.raw").string().c_str(), Bytes(1000, 0x77));
  auto run = runLvlsnd(scratch, {path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.files["effect7_1.raw"], effectOf(layout.tail, 0));
}

TEST_F(EffectFilesTest, AnEffectStoppedByASignalIsCompleteOrAsItWasAndNoTemporaryFileStays) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace and a native build";
  }
  // Two effects of two chunks each, and an old first effect that a stop must not empty.
  LevelLayout layout;
  layout.tail = countingGroups(1500, 3);
  layout.records = {{offsetToTail(1, 2, 0), 1500, 0}, {offsetToTail(2, 2, 0), 1500, 1}};
  auto path = putLevelFile("level5.dat", buildLevelFile(layout));
  const Bytes old(5000, 0x42);
  const std::map<std::string, Bytes> complete = {{"effect5_1.raw", effectOf(layout.tail, 0)},
                                                 {"effect5_2.raw", effectOf(layout.tail, 1)}};
  const char* moments[] = {"write:signal=SIGINT:when=1",  "write:signal=SIGTERM:when=2",
                           "write:signal=SIGHUP:when=3",  "renameat2:signal=SIGINT:when=1",
                           "linkat:signal=SIGINT:when=1", "openat:signal=SIGQUIT:when=4"};
  for (const char* moment : moments) {
    fs::remove_all(scratch.work);
    fs::create_directory(scratch.work);
    writeFile((scratch.work / "effect5_1.raw").string().c_str(), old);
    auto run = runTraced(scratch, std::string("-e inject=") + moment, "lvlsnd", {path});
    EXPECT_NE(run.status, 0) << moment;
    for (const auto& entry : fs::directory_iterator(scratch.work)) {
      auto name = entry.path().filename().string();
      auto bytes = readFile(entry.path().string().c_str());
      EXPECT_TRUE(complete.count(name) == 1 &&
                  (bytes == complete.at(name) || (name == "effect5_1.raw" && bytes == old)))
          << name << " after " << moment;
    }
  }
}

TEST_F(EffectFilesTest, FilesThatCannotBeCreatedAreReportedAndSkipped) {
  LevelLayout layout;
  layout.tail = countingGroups(3, 0);
  layout.records = {{offsetToTail(1, 4, 0), 1, 0},
                    {offsetToTail(2, 4, 0), 3, 1},
                    {offsetToTail(3, 4, 120), 2, 0},
                    {offsetToTail(4, 4, 0), 1, 1}};
  auto path = putLevelFile("level9.dat", buildLevelFile(layout));
  fs::create_directory(scratch.work / "effect9_1.raw");
  // A link to a device and a FIFO are POSIX cases: Wine shows a link to a device to a Windows
  // program as a file or as an error, depending on the machine. A FIFO is never waited on.
  bool posix = !runningWindowsBuild();
  if (posix) {
    fs::create_symlink("/dev/full", scratch.work / "effect9_2.raw");
    ASSERT_EQ(mkfifo((scratch.work / "effect9_4.raw").c_str(), 0644), 0);
  }
  auto run = runLvlsnd(scratch, {path});

  auto groups = 0x800u + 40;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            std::string("effect9_1.raw: Cannot create\n") +
                (posix ? "effect9_2.raw: Cannot create\neffect9_4.raw: Cannot create\n" : ""));
  EXPECT_EQ(run.out, openingLines(9, path, 0x800) +
                         (posix ? "" : effectLine("effect9_2.raw", 3, path, groups)) +
                         effectLine("effect9_3.raw", 2, path, groups + 120) +
                         (posix ? "" : effectLine("effect9_4.raw", 1, path, groups)));
  EXPECT_TRUE(!posix || fs::is_symlink(scratch.work / "effect9_2.raw"))
      << "nothing is renamed over a device";
  EXPECT_TRUE(!posix || fs::is_fifo(scratch.work / "effect9_4.raw"));
  EXPECT_TRUE(fs::is_directory(scratch.work / "effect9_1.raw"));
  EXPECT_EQ(run.files["effect9_3.raw"], effectOf(slice(layout.tail, 120, 240), 0));
}

TEST_F(EffectFilesTest, AnEffectLinkedIntoAnotherFileSystemIsWrittenWhereTheLinkLeads) {
  // The effect is written before its name is looked at, in the folder of the name; a link to
  // another file system must still get it there, and stay a link.
  fs::path elsewhere = "/dev/shm";
  if (runningWindowsBuild() || !fs::is_directory(elsewhere) ||
      fs::status(elsewhere).type() != fs::file_type::directory) {
    GTEST_SKIP() << "needs a POSIX build and /dev/shm";
  }
  auto other = elsewhere / ("lvlsnd-link-" + scratch.root.filename().string());
  fs::create_directory(other);
  writeFile((other / "old.raw").string().c_str(), Bytes(10, 0x42));
  fs::create_symlink(other / "old.raw", scratch.work / "effect7_1.raw");
  LevelLayout layout;
  layout.tail = countingGroups(3, 1);
  layout.records = {{offsetToTail(1, 1, 0), 3, 0}};
  auto run = runLvlsnd(scratch, {putLevelFile("level7.dat", buildLevelFile(layout))});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(scratch.work / "effect7_1.raw"));
  EXPECT_EQ(readFile((other / "old.raw").string().c_str()), effectOf(layout.tail, 0));
  EXPECT_EQ(std::distance(fs::directory_iterator(other), fs::directory_iterator()), 1)
      << "no temporary file beside it";
  fs::remove_all(other);
}

} // namespace

TEST_F(EffectFilesTest, TheLevelFileIsNeverCreatedOverUnderAnyNameThatLeadsToIt) {
  // Larger than the read buffer, so effects read after a truncation would come out wrong.
  LevelLayout layout;
  layout.tail = countingGroups(700, 5);
  layout.records = {{offsetToTail(1, 3, 0), 300, 0},
                    {offsetToTail(2, 3, 0), 300, 1},
                    {offsetToTail(3, 3, 300 * 120), 400, 1}};
  auto bytes = buildLevelFile(layout);
  auto tailStart = static_cast<std::uint32_t>(bytes.size() - layout.tail.size());
  const std::map<std::string, Bytes> effects = {
      {"effect1_1.raw", effectOf(slice(layout.tail, 0, 300 * 120), 0)},
      {"effect1_2.raw", effectOf(slice(layout.tail, 0, 300 * 120), 1)},
      {"effect1_3.raw", effectOf(slice(layout.tail, 300 * 120, 400 * 120), 1)}};
  const std::pair<int, std::string> lines[] = {
      {300, "effect1_1.raw"}, {300, "effect1_2.raw"}, {400, "effect1_3.raw"}};
  struct Case {
    std::string path;      // the level file as given to the tool
    std::string levelFile; // where it is, from the scratch root
    std::string link;      // a hard link to it in the working folder, or none
    std::string blocked;   // the effect whose name leads to the level file
  };
  const Case cases[] = {{"effect1_1.raw", "work/effect1_1.raw", "", "effect1_1.raw"},
                        {"../level1.dat", "level1.dat", "effect1_2.raw", "effect1_2.raw"}};
  for (const auto& c : cases) {
    fs::remove_all(scratch.work);
    fs::create_directory(scratch.work);
    writeFile((scratch.root / c.levelFile).string().c_str(), bytes);
    if (!c.link.empty()) {
      fs::create_hard_link(scratch.root / c.levelFile, scratch.work / c.link);
    }
    auto run = runLvlsnd(scratch, {c.path});

    auto expectedFiles = effects;
    expectedFiles[c.blocked] = bytes;
    std::string expectedOut = openingLines(1, c.path, 0x800);
    for (const auto& [groups, name] : lines) {
      auto offset = tailStart + (name == "effect1_3.raw" ? 300 * 120 : 0);
      expectedOut += name == c.blocked ? "" : effectLine(name, groups, c.path, offset);
    }
    EXPECT_EQ(run.status, 1) << "an effect file not written is a failure: " << c.path;
    EXPECT_EQ(run.err, c.blocked + ": Cannot create\n");
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_TRUE(run.files == expectedFiles) << c.path;
  }
}
