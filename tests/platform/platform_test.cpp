// What differs between platforms and must not show: binary files, 64-bit offsets, paths
// outside ASCII, line endings. Run against a Windows build too (LVLSND_EXE, LVLSND_LAUNCHER).
#include "tool_test.hpp"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

using PlatformTest = ScratchTest;

// Bytes that a text-mode stream would translate or stop at: CR, LF and Ctrl-Z.
Bytes lineEndBytes(std::size_t size) {
  const std::uint8_t pattern[] = {0x0D, 0x0A, 0x1A, 0x0A, 0x0D, 0x0D, 0x1A};
  Bytes bytes(size);
  for (std::size_t k = 0; k < size; ++k) {
    bytes[k] = pattern[k % sizeof pattern];
  }
  return bytes;
}

TEST_F(PlatformTest, LineEndAndEndOfFileBytesAreReadAndWrittenAsData) {
  LevelLayout layout;
  layout.blockSizes[0] = 0x0D0A;
  layout.blockSizes[1] = 0x1A0D;
  layout.blockSizes[2] = 0x0A1A;
  layout.blockSizes[3] = 0x0D0D;
  layout.blockFill = 0x1A;
  layout.tail = lineEndBytes(0x0A0D + 0x1A * 120);
  layout.records = {{offsetToTail(1, 2, 0x0A0D), 0x1A, 0x0D}, {offsetToTail(2, 2, 0x0A), 0x0D, 0}};
  auto bytes = buildLevelFile(layout);
  auto path = putLevelFile("level10.dat", bytes);
  auto run = runLvlsnd(scratch, {path});

  auto tailStart = static_cast<std::uint32_t>(bytes.size() - layout.tail.size());
  std::map<std::string, Bytes> expected = {
      {"effect10_1.raw", effectOf(slice(layout.tail, 0x0A0D, 0x1A * 120), 0x0D)},
      {"effect10_2.raw", effectOf(slice(layout.tail, 0x0A, 0x0D * 120), 0)}};
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, openingLines(10, path, 0x5800) +
                         effectLine("effect10_1.raw", 0x1A, path, tailStart + 0x0A0D) +
                         effectLine("effect10_2.raw", 0x0D, path, tailStart + 0x0A));
  EXPECT_EQ(run.files, expected);
}

TEST_F(PlatformTest, OffsetsOf2GiBAndMoreReachTheBytesStoredThere) {
  // A sparse level file of almost 4 GiB: real stored groups at 0x80000010 and 0xFFFFFF00.
  LevelLayout layout;
  layout.records = {{0x80000010 - 0x808, 2, 1}, {0xFFFFFF00 - 0x810, 2, 0}};
  auto header = buildLevelFile(layout);
  auto groups = countingGroups(3, 0x42);
  auto path = putLevelFile("level11.dat", header);
  {
    std::fstream file(scratch.root / "level11.dat",
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(0x80000010);
    file.write(reinterpret_cast<const char*>(groups.data()), 240);
    file.seekp(0xFFFFFF00);
    file.write(reinterpret_cast<const char*>(groups.data() + 240), 120);
    ASSERT_TRUE(file.good());
  }
  auto run = runLvlsnd(scratch, {path});

  Bytes last = slice(groups, 240, 120);
  last.resize(240, 0xFF);
  std::map<std::string, Bytes> expected = {{"effect11_1.raw", effectOf(slice(groups, 0, 240), 1)},
                                           {"effect11_2.raw", effectOf(last, 0)}};
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, openingLines(11, path, 0x800) +
                         effectLine("effect11_1.raw", 2, path, 0x80000010) +
                         effectLine("effect11_2.raw", 2, path, 0xFFFFFF00));
  EXPECT_EQ(run.files, expected);
}

TEST_F(PlatformTest, PathsOutsideAsciiOpenAndShowAsTyped) {
  fs::create_directory(scratch.root / "é音ß");
  LevelLayout layout;
  layout.tail = countingGroups(1, 7);
  layout.records = {{offsetToTail(1, 1, 0), 1, 1}};
  const std::string files[] = {"é音ß/level5.dat", "ßounds音level6é.dat"};
  for (const auto& file : files) {
    auto path = putLevelFile(file, buildLevelFile(layout));
    auto run = runLvlsnd(scratch, {path});
    auto level = file[0] == '\xC3' && file[1] == '\xA9' ? 5 : 6;
    auto name = "effect" + std::to_string(level) + "_1.raw";
    EXPECT_EQ(run.status, 0) << file;
    EXPECT_EQ(run.err, "") << file;
    EXPECT_EQ(run.out, openingLines(level, path, 0x800) + effectLine(name, 1, path, 0x810));
    std::map<std::string, Bytes> expected = {{name, effectOf(layout.tail, 1)}};
    EXPECT_EQ(run.files, expected);
    fs::remove(scratch.work / name);
  }
  auto missing = "../音/nowhere.dat";
  auto run = runLvlsnd(scratch, {missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string(missing) + ": Cannot open\n");
}

TEST_F(PlatformTest, ProgressLinesEndInThePlatformsLineEnding) {
  auto path = putLevelFile("level1.dat", buildLevelFile(LevelLayout{}));
  auto run = runLvlsnd(scratch, {path});
  ASSERT_EQ(run.status, 0);
  std::string expected = openingLines(1, path, 0x800);
  if (run.windowsBuild) {
    std::string crlf;
    for (char c : expected) {
      crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    expected = crlf;
  }
  EXPECT_EQ(run.rawOut, expected);
}

} // namespace
