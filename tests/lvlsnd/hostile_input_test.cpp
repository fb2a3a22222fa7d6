// Level files at the limits of what the layout can say: the run completes with the outcome
// the reading rules give.
#include "tool_test.hpp"

using namespace lvlsnd;

namespace {

using HostileInputTest = ScratchTest;

TEST_F(HostileInputTest, LargestEntryCountInAShortFileGivesOneEmptyFilePerRecord) {
  Bytes bytes;
  putU16be(bytes, 0);
  padTo(bytes, 0x800);
  putU32be(bytes, 0x7FFFFFFF);
  putU32be(bytes, 0);
  auto path = putLevelFile("level1.dat", bytes);
  auto run = runLvlsnd(scratch, {path});

  // Every record lies past the end: offset 0xFFFFFFFF from the end-of-file position 0x808.
  std::string lines =
      "Extracting Orrelin sound effects from level 1 data:\n" + headerLines(path, "800");
  for (int index = 1; index <= 32766; ++index) {
    lines += "Extracting effect1_" + std::to_string(index) + ".raw (-1 groups) from " + path +
             " @$807...\n";
  }
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out == lines);
  ASSERT_EQ(run.files.size(), 32766u);
  EXPECT_TRUE(std::all_of(run.files.begin(), run.files.end(),
                          [](const auto& file) { return file.second.empty(); }));
  EXPECT_EQ(run.files.count("effect1_32766.raw"), 1u);
}

TEST_F(HostileInputTest, HugeBlockCountInATinyFile) {
  Bytes bytes;
  putU16be(bytes, 0x7FFF);
  putU32be(bytes, 0x1000);
  padTo(bytes, 100, 0x00);
  auto path = putLevelFile("level2.dat", bytes);
  auto run = runLvlsnd(scratch, {path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Extracting Orrelin sound effects from level 2 data:\n" + headerLines(path, "1800"));
  EXPECT_TRUE(run.files.empty());
}

TEST_F(HostileInputTest, GroupOffsetOfAllOnesReadsFromTheByteBeforeTheRecord) {
  LevelLayout layout;
  layout.records = {{0xFFFFFFFF, 1, 1}};
  auto bytes = buildLevelFile(layout);
  auto path = putLevelFile("level3.dat", bytes);
  auto run = runLvlsnd(scratch, {path});

  // 0x807 is the last byte of record 0; the rest of the group lies past the end of the file.
  StoredGroup stored;
  stored.fill(0xFF);
  std::copy(bytes.begin() + 0x807, bytes.end(), stored.begin());
  auto raw = convertGroup(stored, 1);
  std::map<std::string, Bytes> expected = {{"effect3_1.raw", Bytes(raw.begin(), raw.end())}};
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.files, expected);
  EXPECT_NE(run.out.find("(1 groups) from ../level3.dat @$807...\n"), std::string::npos);
}

} // namespace
