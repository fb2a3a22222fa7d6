// lvlsnd's command line and run sequence: the level number, and the real executable.
#include "run.hpp"
#include "tool_test.hpp"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace lvlsnd;

namespace {

const std::string usageText = "Usage: lvlsnd levelN.dat\n"
                              "Function: Extracts Orrelin sound effects from level data\n"
                              "Raw sound effect data is written to effectN_M.raw\n"
                              "Written by the lvlsnd developers\n";

// A well-formed level file whose sound table has no entries.
Bytes emptyLevel() {
  return buildLevelFile(LevelLayout{});
}

using CommandLineTest = ScratchTest;

TEST(LevelNumber, IsTheFirstRunOfDigitsInTheFileNameOrElseInThePath) {
  struct Case {
    const char* path;
    std::int32_t level;
  };
  const Case cases[] = {
      {"level12.dat", 12},
      {"level007.dat", 7},
      {"LEVEL.DAT", 0},
      {"", 0},
      {"maps2/level5.dat", 5},
      {"disc1/LEVEL.DAT", 1},
      {"game1/maps22/level07.dat", 7},
      {"/home/me/Orrelin 2/level3.dat", 3},
      {"maps2/", 2},
      {"level-3.dat", 3},
      {"a1b2", 1},
      {"C:\\games\\level9.dat", 9},
      {"level2147483647.dat", 2147483647},
      {"level2147483648.dat", 2147483647},
      {"level99999999999999999999999.dat", 2147483647},
      {"level000000000000000000000042.dat", 42},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(levelNumberFromPath(c.path), c.level) << c.path;
  }
}

TEST_F(CommandLineTest, AnythingButOneArgumentPrintsTheUsageText) {
  putLevelFile("level1.dat", emptyLevel());
  const std::vector<std::vector<std::string>> argumentLists = {
      {}, {"../level1.dat", "../level1.dat"}, {"-h", "--help", "x"}};
  for (const auto& arguments : argumentLists) {
    auto run = runLvlsnd(scratch, arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, usageText);
    EXPECT_TRUE(run.files.empty());
  }
}

TEST_F(CommandLineTest, APathThatCannotBeOpenedOrIsAWavFileIsReportedWithStatus1) {
  std::filesystem::create_directory(scratch.root / "level4.dat");
  // A WAV file given by mistake is refused before anything is read of it as a level file.
  putLevelFile("level5.wav", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
  std::vector<std::pair<std::string, std::string>> paths = {
      {"missing.dat", "Cannot open"},
      {"-h", "Cannot open"},
      {"../level4.dat", "Cannot open"},
      {".", "Cannot open"},
      {"", "Cannot open"},
      {"../level5.wav", "A WAV file, not a level file"},
      {"../effect2_1.raw", "An effect file, not a level file"}};
  // An effect file given by mistake would write its own effects over level 2's.
  putLevelFile("effect2_1.raw", randomRawGroups(3, 5));
  // A FIFO with no writer is refused at once, never waited for.
  if (!runningWindowsBuild() && mkfifo((scratch.root / "fifo").c_str(), 0600) == 0) {
    paths.emplace_back("../fifo", "Cannot open");
  }
  for (const auto& [path, problem] : paths) {
    auto run = runLvlsnd(scratch, {path});
    EXPECT_EQ(run.status, 1) << path;
    EXPECT_EQ(run.out, "") << path;
    EXPECT_EQ(run.err, path + ": " + problem + "\n");
    EXPECT_TRUE(run.files.empty()) << path;
  }
  // Almost effect files are read as level files: all parameter bytes zero, a byte more, one
  // parameter copy that differs in the last group.
  auto effect = randomRawGroups(3, 5);
  auto longer = effect;
  longer.push_back(0);
  auto lastDiffers = effect;
  lastDiffers[2 * rawGroupSize + 13] ^= 1;
  for (const auto& bytes : {Bytes(2 * rawGroupSize, 0), longer, lastDiffers}) {
    auto path = putLevelFile("almost.raw", bytes);
    auto run = runLvlsnd(scratch, {path});
    EXPECT_TRUE(run.out.starts_with("Extracting Orrelin sound effects")) << run.err;
  }
}

TEST_F(CommandLineTest, ALevelFileThatCannotBeReadByOffsetIsNotOpened) {
  // A pipe cannot seek: every read by offset would give 255 and the run would look complete.
  if (runningWindowsBuild()) {
    GTEST_SKIP() << "a POSIX pipe means nothing to a Windows program under Wine";
  }
  auto fifo = scratch.root / "level3.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  putLevelFile("level3.dat", emptyLevel());
  // The writer holds none of the test's streams, so that nothing waits for it.
  auto writer = "(cat '" + (scratch.root / "level3.dat").string() + "' > '" + fifo.string() +
                "' &) </dev/null >/dev/null 2>&1";
  ASSERT_EQ(std::system(writer.c_str()), 0);
  auto run = runLvlsnd(scratch, {"../level3.fifo"});
  // A writer that came after the run is let go: a reader's open lets its open return, and its
  // write then fails.
  close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "../level3.fifo: Cannot open\n");
  EXPECT_TRUE(run.files.empty());
}

TEST_F(CommandLineTest, LevelNumberComesFromTheFirstDigitsOfTheFileName) {
  std::filesystem::create_directory(scratch.root / "maps2");
  std::filesystem::create_directory(scratch.root / "disc1");
  struct Case {
    std::string file;
    std::string level;
  };
  const Case cases[] = {{"level12.dat", "12"},     {"level007.dat", "7"},
                        {"LEVEL.DAT", "0"},        {"level-3.dat", "3"},
                        {"maps2/level5.dat", "5"}, {"level99999999999.dat", "2147483647"},
                        {"disc1/LEVEL.DAT", "1"}};
  for (const auto& c : cases) {
    auto path = putLevelFile(c.file, emptyLevel());
    auto run = runLvlsnd(scratch, {path});
    EXPECT_EQ(run.status, 0) << c.file;
    EXPECT_EQ(run.out, "Extracting Orrelin sound effects from level " + c.level + " data:\n" +
                           headerLines(path, "800"));
    EXPECT_EQ(run.err, "") << c.file;
    EXPECT_TRUE(run.files.empty()) << c.file;
  }
}

TEST_F(CommandLineTest, ShortOrEmptyLevelFilesStillCompleteTheRun) {
  // Every missing byte reads as 255: block count -1 and an entry count of -1 in an empty file.
  struct Case {
    Bytes bytes;
    std::string soundHeaderOffset;
  };
  const Case cases[] = {{{}, "800"}, {{0x00, 0x04, 0x00, 0x00, 0x10}, "2000"}};
  for (const auto& c : cases) {
    auto path = putLevelFile("level8.dat", c.bytes);
    auto run = runLvlsnd(scratch, {path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Extracting Orrelin sound effects from level 8 data:\n" +
                           headerLines(path, c.soundHeaderOffset));
    EXPECT_EQ(run.err, "");
  }
}

} // namespace

TEST_F(CommandLineTest, AWindowsProgramAloneInItsConsoleWaitsForEnterBeforeItCloses) {
  if (!runningWindowsBuild() || std::system("script --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "a Windows build under Wine, and script(1) for a console";
  }
  // Started alone in a console of its own, as Explorer starts it, each program waits; started
  // from cmd, which shares the console, it does not.
  const std::pair<std::string, bool> starts[] = {{"", true}, {"cmd /c ", false}};
  for (const auto& [start, waits] : starts) {
    for (const auto* program : {"lvlsnd", "lvlsnd-wav", "lvlsnd-replace"}) {
      auto command = "(sleep 4; printf '\\r\\n'; sleep 1) | script -qec \"" +
                     std::string(std::getenv("LVLSND_LAUNCHER")) + " " + start + "'" +
                     toolPath(program) + "' -h\" /dev/null > '" +
                     (scratch.root / "console.log").string() + "'";
      std::system(command.c_str());
      auto bytes = readFile((scratch.root / "console.log").string().c_str());
      // The console draws its text with escape sequences between the words: the letters
      // outside them tell.
      std::string letters;
      bool escaped = false;
      for (auto byte : bytes) {
        bool letter = std::isalpha(byte) != 0;
        letters += letter && !escaped ? std::string(1, static_cast<char>(byte)) : "";
        escaped = byte == 0x1B || (escaped && !letter);
      }
      EXPECT_EQ(letters.find("PressEntertoclose") != std::string::npos, waits)
          << program << " started by '" << start << "'";
    }
  }
}
