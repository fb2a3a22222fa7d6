// The byte reader, on a level file, and the sound header offset and the sound table, read
// from memory.
#include "level_file.hpp"
#include "tool_test.hpp"

#include <cstdio>

using namespace lvlsnd;

namespace {

class LevelFileTest : public ScratchTest {
protected:
  ~LevelFileTest() override { closeLevelStream(stream); }

  LevelStream& open(const Bytes& bytes) {
    auto path = scratch.root / "level.dat";
    writeFile(path.string().c_str(), bytes);
    stream = openLevelStream(path.string().c_str());
    EXPECT_NE(stream.source.file, nullptr);
    return stream;
  }

  // Reads the tables of `bytes`, held in memory, as a run would, keeping where the sound header
  // was found.
  SoundTable readTablesOf(const Bytes& bytes) {
    closeLevelStream(stream);
    levelBytes = bytes;
    stream = levelStreamOf(levelBytes);
    soundHeader = readSoundHeaderOffset(stream);
    seekLevel(stream, soundHeader);
    return readSoundTable(stream);
  }

  LevelStream stream;
  Bytes levelBytes;
  std::uint32_t soundHeader = 0;
};

Bytes countingBytes(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t k = 0; k < size; ++k) {
    bytes[k] = static_cast<std::uint8_t>(k * 7 + k / 256);
  }
  return bytes;
}

TEST_F(LevelFileTest, ReadsBigEndianValuesInFileOrder) {
  auto& level = open({0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0x42});
  EXPECT_EQ(readU16be(level), 0x1234);
  EXPECT_EQ(readU32be(level), 0x89ABCDEFu);
  EXPECT_EQ(readByte(level), 0x42);
  EXPECT_EQ(level.position, 7);
}

TEST_F(LevelFileTest, MissingBytesReadAs255AndThePositionStaysAtTheEnd) {
  auto& level = open({0xAA, 0xBB, 0xCC});
  EXPECT_EQ(readU32be(level), 0xAABBCCFFu);
  EXPECT_EQ(level.position, 3);
  EXPECT_EQ(readByte(level), 0xFF);
  EXPECT_EQ(readU16be(level), 0xFFFF);
  EXPECT_EQ(level.position, 3);
}

TEST_F(LevelFileTest, SeeksReachEveryUnsigned32BitOffset) {
  auto& level = open({1, 2, 3, 4});
  for (std::uint32_t offset : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu, 5u}) {
    seekLevel(level, offset);
    EXPECT_EQ(readU32be(level), 0xFFFFFFFFu) << offset;
    EXPECT_EQ(level.position, std::int64_t{offset}) << offset;
  }
  seekLevel(level, 1);
  EXPECT_EQ(readU16be(level), 0x0203) << "reading after the end must not stop later reads";
}

TEST_F(LevelFileTest, ReadsAcrossBufferRefillsAndSeeksInsideAndOutsideTheBuffer) {
  auto bytes = countingBytes(300000);
  auto& level = open(bytes);
  struct Step {
    std::uint32_t seekTo;
    std::size_t length;
  };
  // Lengths that end inside, exactly at and past buffer boundaries and the end of the file;
  // reads of 64 KiB or more go around the buffer.
  const Step steps[] = {{0, 7},         {7, 65529},     {65536, 1},       {65535, 2},
                        {100, 200000},  {65000, 70000}, {299990, 10},     {299995, 20},
                        {131071, 3},    {0, 300000},    {250000, 100000}, {299999, 70000},
                        {400000, 70000}};
  for (const auto& step : steps) {
    seekLevel(level, step.seekTo);
    Bytes read(step.length);
    readBytes(level, read);
    for (std::size_t k = 0; k < step.length; ++k) {
      auto offset = step.seekTo + k;
      auto expected = offset < bytes.size() ? bytes[offset] : std::uint8_t{0xFF};
      ASSERT_EQ(read[k], expected) << "seek " << step.seekTo << " byte " << k;
    }
    // The position moves over the bytes that were there, and never back.
    auto end = std::max<std::size_t>(
        step.seekTo, std::min<std::size_t>(step.seekTo + step.length, bytes.size()));
    EXPECT_EQ(level.position, static_cast<std::int64_t>(end));
  }
}

TEST_F(LevelFileTest, AReadErrorIsNoEndOfFileAndHandsOutNoBytesUntilCleared) {
  auto& level = open(countingBytes(100));
  seekLevel(level, 200);
  EXPECT_EQ(readU32be(level), 0xFFFFFFFFu);
  EXPECT_FALSE(level.failed) << "past the end is no failure";
  // The same file, opened for writing only: every read fails.
  std::FILE* readable = level.source.file;
  level.source.file = std::fopen((scratch.root / "level.dat").string().c_str(), "ab");
  clearReadFailure(level);
  seekLevel(level, 10);
  EXPECT_EQ(readU16be(level), 0xFFFF);
  EXPECT_TRUE(level.failed);
  EXPECT_EQ(level.position, 10);
  std::fclose(level.source.file);
  level.source.file = readable;
  EXPECT_EQ(readByte(level), 0xFF) << "a failed stream stays failed";
  clearReadFailure(level);
  EXPECT_EQ(readByte(level), countingBytes(100)[10]);
}

TEST(SoundHeaderOffset, AddsTheSectorRoundedSizesOfBlocks0To3AfterTheHeaderSector) {
  struct Case {
    std::uint32_t sizes[4];
    std::uint32_t offset;
  };
  const Case cases[] = {
      {{0x1000, 0x10, 0, 0x801}, 0x3000},
      {{0, 0, 0, 0}, 0x800},
      {{0x800, 1, 0, 0}, 0x1800},
      {{0x7FF, 0x800, 0x801, 0xFFF}, 0x3800},
      // Sums and roundings wrap around modulo 2^32.
      {{0xFFFFF800, 0x800, 0, 0}, 0x800},
      {{0xFFFFFFFF, 0, 0, 0}, 0x800},
      {{0xFFFFF001, 0, 0, 0}, 0},
      {{0x80000000, 0x80000000, 0x1000, 0}, 0x1800},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(soundHeaderOffset(c.sizes), c.offset) << std::hex << c.sizes[0];
  }
}

TEST_F(LevelFileTest, RecordOffsetsCountFromTheRecordsOwnFirstByte) {
  LevelLayout layout;
  layout.blockSizes[2] = 0x1234;
  layout.records = {{0x10, 2, 0}, {0x10, 0xFFFF, 0xFF}, {0xFFFFFFFF, 0x7FFF, 0x80}, {0, 0, 1}};
  auto table = readTablesOf(buildLevelFile(layout));
  auto start = soundHeaderStart(layout);
  ASSERT_EQ(table.entries.size(), 5u);
  struct Expected {
    std::uint32_t offset;
    std::int16_t groupCount;
    std::uint8_t unitSelector;
  };
  const Expected expected[] = {{start + 0x18, 2, 0},
                               {start + 0x20, -1, 0xFF},
                               {start + 24 - 1, 0x7FFF, 0x80},
                               {start + 32, 0, 1}};
  for (std::size_t index = 1; index < 5; ++index) {
    const auto& entry = table.entries[index];
    const auto& want = expected[index - 1];
    EXPECT_EQ(entry.groupOffset, want.offset) << index;
    EXPECT_EQ(entry.groupCount, want.groupCount) << index;
    EXPECT_EQ(entry.unitSelector, want.unitSelector) << index;
  }
  EXPECT_EQ(stream.position, start + 40) << "the reader stops right after the last record";
}

// A level file of block count `blockCount` whose block sizes are `sizes`, with an empty sound
// table at `tableAt`.
Bytes levelWithBlocks(std::uint16_t blockCount, const std::vector<std::uint32_t>& sizes,
                      std::uint32_t tableAt) {
  Bytes bytes;
  putU16be(bytes, blockCount);
  for (auto size : sizes) {
    putU32be(bytes, size);
  }
  padTo(bytes, tableAt, 0xEE);
  putU32be(bytes, 1);
  putU32be(bytes, 0);
  return bytes;
}

TEST_F(LevelFileTest, MissingBlockSizesTakeNoSpaceAndExtraOnesAreIgnored) {
  struct Case {
    std::uint16_t blockCount;
    std::vector<std::uint32_t> sizes;
    const char* offset;
  };
  const Case cases[] = {
      {0, {}, "800"},
      {2, {0x800, 0x800}, "1800"},
      {3, {0x800, 0x800, 0x800}, "2000"},
      {0xFFFF, {0x800, 0x800}, "800"}, // negative: no sizes are read
      {0x8000, {0x800}, "800"},
      {5, {0x800, 0, 0, 0, 0x10000}, "1000"},
      {6, {0, 0, 0, 0x1, 0x800, 0x800}, "1000"},
  };
  for (const auto& c : cases) {
    auto table = readTablesOf(levelWithBlocks(c.blockCount, c.sizes, 0x4000));
    EXPECT_EQ(hex(soundHeader), c.offset) << c.blockCount;
    closeLevelStream(stream);
  }
}

TEST_F(LevelFileTest, EntryCountIsClampedToWhatSixteenBitIndicesHold) {
  struct Case {
    std::uint32_t entryCount;
    std::size_t tableSize;
  };
  const Case cases[] = {{0, 0},          {1, 1},         {2, 2},         {0x80000000, 0},
                        {0xFFFFFFFF, 0}, {32767, 32767}, {32768, 32767}, {0x7FFFFFFF, 32767}};
  for (const auto& c : cases) {
    Bytes bytes;
    putU16be(bytes, 0);
    padTo(bytes, 0x800);
    putU32be(bytes, c.entryCount);
    putU32be(bytes, 0);
    padTo(bytes, 0x800 + 8 * 40000, 0x00);
    auto table = readTablesOf(bytes);
    EXPECT_EQ(table.entries.size(), c.tableSize) << c.entryCount;
    auto recordsRead = c.tableSize > 1 ? c.tableSize - 1 : 0;
    EXPECT_EQ(stream.position, static_cast<std::int64_t>(0x808 + 8 * recordsRead)) << c.entryCount;
    closeLevelStream(stream);
  }
}

TEST_F(LevelFileTest, RecordsPastTheEndReadAs255FromTheEndOfTheFile) {
  LevelLayout layout;
  layout.records = {{0x20, 1, 0}, {0x12345678, 1, 0}, {0x20, 1, 0}};
  auto bytes = buildLevelFile(layout);
  bytes.resize(0x800 + 8 + 8 + 3); // ends three bytes into record 2
  auto table = readTablesOf(bytes);
  ASSERT_EQ(table.entries.size(), 4u);
  EXPECT_EQ(table.entries[1].groupOffset, 0x808u + 0x20);
  // Record 2 starts inside the file: its offset is three real bytes, then 0xFF.
  EXPECT_EQ(table.entries[2].groupOffset, 0x810u + 0x123456FF);
  EXPECT_EQ(table.entries[2].groupCount, -1);
  // Record 3 lies wholly past the end: the end-of-file position plus 0xFFFFFFFF.
  EXPECT_EQ(table.entries[3].groupOffset, static_cast<std::uint32_t>(bytes.size() - 1));
  EXPECT_EQ(table.entries[3].groupCount, -1);
  EXPECT_EQ(table.entries[3].unitSelector, 0xFF);
  EXPECT_EQ(stream.position, static_cast<std::int64_t>(bytes.size()));
}

} // namespace
