// The README's recipes run as a user would: the whole-game script (sh with the native programs,
// cmd under Wine's cmd with the Windows ones), and the modding walkthrough.
#include "tool_test.hpp"
#include "wav_builder.hpp"
#include "xa_sounds.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

// The first fenced block of `language` after the heading `heading` of the page `page` (README.md,
// docs/modding.md).
std::string pageBlock(const std::string& page, const std::string& heading,
                      const std::string& language) {
  auto bytes = readFile((LVLSND_SOURCE_DIR "/" + page).c_str());
  std::string readme(bytes.begin(), bytes.end());
  auto section = readme.find("\n" + heading + "\n");
  auto fence = "```" + language + "\n";
  auto start = readme.find(fence, section);
  if (section == std::string::npos || start == std::string::npos) {
    return "";
  }
  start += fence.size();
  return readme.substr(start, readme.find("```", start) - start);
}

using ReadmeRecipeTest = ScratchTest;

// The command that runs the example script `name` ("whole-game") in the work folder, as a user
// would: sh with the native programs, or Wine's cmd with the Windows ones; its output goes to
// ../script.log.
std::string scriptCommand(const Scratch& scratch, const std::string& name) {
  const bool windows = runningWindowsBuild();
  auto scriptName = "examples/" + name + (windows ? ".cmd" : ".sh");
  auto tools = fs::path(toolPath("lvlsnd")).parent_path().string();
  auto work = "cd '" + scratch.work.string() + "' && ";
  std::string command;
  if (windows) {
    // A batch file's lines end in CR LF.
    auto script = readFile((std::string(LVLSND_SOURCE_DIR "/") + scriptName).c_str());
    std::string batch;
    for (auto byte : script) {
      batch += byte == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(byte));
    }
    auto copy = scratch.root / (name + ".cmd");
    writeFile(copy.string().c_str(), Bytes(batch.begin(), batch.end()));
    command = work + "WINEPATH='Z:" + tools + "' " + std::getenv("LVLSND_LAUNCHER") +
              " cmd /c '..\\" + name + ".cmd'";
  } else {
    command = work + "PATH='" + tools + "':\"$PATH\" sh '" LVLSND_SOURCE_DIR "/" + scriptName + "'";
  }
  return command + " > ../script.log 2>&1";
}

TEST_F(ReadmeRecipeTest, TheWholeGameScriptsTakeAGameOutAndPutItsEditsBackRunAfterRun) {
  const bool windows = runningWindowsBuild();
  auto scriptName = std::string("examples/whole-game.") + (windows ? "cmd" : "sh");
  auto script = readFile((std::string(LVLSND_SOURCE_DIR "/") + scriptName).c_str());
  std::string text(script.begin(), script.end());
  auto shown =
      pageBlock("docs/modding.md", "## Working through a whole game", windows ? "bat" : "sh");
  EXPECT_TRUE(!shown.empty() && text.find(shown) != std::string::npos)
      << "docs/modding.md shows the lines of " << scriptName;
  // Level files in lower and upper case, and one without effects.
  LevelLayout other;
  other.tail = countingGroups(2, 4);
  other.records = {{offsetToTail(1, 1, 0), 2, 1}};
  const std::pair<std::string, Bytes> levels[] = {{"level5.dat", sampleLevelFile()},
                                                  {"LEVEL07.DAT", buildLevelFile(other)},
                                                  {"level9.dat", buildLevelFile(LevelLayout{})}};
  for (const auto& [name, bytes] : levels) {
    writeFile((scratch.work / name).string().c_str(), bytes);
  }
  auto log = [&] {
    auto bytes = readFile((scratch.root / "script.log").string().c_str());
    return std::string(bytes.begin(), bytes.end());
  };
  auto effects = runLvlsnd(scratch, {"level5.dat"}).files;
  for (auto name : {"effect5_1.raw", "effect5_2.raw", "effect5_4.raw"}) {
    fs::remove(scratch.work / name);
  }
  // Out, twice; back, twice, after an edit; out again, which finds the edit in the level.
  const std::string out = scriptCommand(scratch, "whole-game");
  const std::string back = scriptCommand(scratch, "whole-game-back");
  const auto level5 = scratch.work / "level5.dat";
  for (int run = 1; run <= 5; ++run) {
    if (run == 3) {
      writeFile((scratch.work / "level5/effect5_1.wav").string().c_str(),
                monoWav(toneSamples(), 44100));
    }
    auto hourAgo = fs::last_write_time(level5) - std::chrono::hours(1);
    fs::last_write_time(level5, hourAgo);
    bool goingBack = run == 3 || run == 4;
    ASSERT_EQ(std::system((goingBack ? back : out).c_str()), 0) << "run " << run << ":\n" << log();
    EXPECT_EQ(log().find("Cannot"), std::string::npos) << "run " << run << ":\n" << log();
    EXPECT_TRUE(!goingBack || log().find("level9") == std::string::npos)
        << "a level without WAV files is skipped without a word:\n"
        << log();
    EXPECT_EQ(fs::last_write_time(level5) != hourAgo, run == 3) << "run " << run << ":\n" << log();
    EXPECT_EQ(fs::exists(scratch.work / "level5.dat.bak"), run >= 3);
    EXPECT_FALSE(fs::exists(scratch.work / "LEVEL07.DAT.bak")) << "nothing edited there";
    EXPECT_EQ(log().find("Your edit, in the level; kept") != std::string::npos, run == 5)
        << "run " << run << ":\n"
        << log();
    if (goingBack) {
      continue;
    }
    const std::pair<std::string, Bytes> expected[] = {
        {"level5/effect5_4.raw", effects["effect5_4.raw"]},
        {"LEVEL07/effect7_1.raw", effectOf(other.tail, 1)}};
    EXPECT_TRUE(fs::exists(scratch.work / "level5/effects.html"));
    EXPECT_TRUE(fs::exists(scratch.work / "LEVEL07/effects.html"));
    EXPECT_TRUE(fs::is_empty(scratch.work / "level9")) << "a level without effects";
    for (const auto& [path, bytes] : expected) {
      EXPECT_EQ(readFile((scratch.work / path).string().c_str()), bytes) << path;
      auto wav = fs::path(scratch.work / path).replace_extension(".wav");
      EXPECT_EQ(fs::file_size(wav), 44 + bytes.size() / 128 * 224) << wav;
    }
  }
}

TEST_F(ReadmeRecipeTest, TheModdersLoopPutsBackTheEditsLetsThemBeHeardAndKeepsThemAfterwards) {
  if (runningWindowsBuild() || std::system("sox --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs sox and a native build";
  }
  writeFile((scratch.work / "level3.dat").string().c_str(), sampleLevelFile());
  auto script = pageBlock("README.md", "## The modder's loop", "sh");
  writeFile((scratch.root / "loop.sh").string().c_str(), Bytes(script.begin(), script.end()));
  auto tools = fs::path(toolPath("lvlsnd")).parent_path().string();
  auto command = "cd '" + scratch.work.string() + "' && PATH='" + tools +
                 "':\"$PATH\" sh -e ../loop.sh > ../loop.log 2>&1";
  // Every line ends with status 0: the last finds the edits in the level.
  ASSERT_EQ(std::system(command.c_str()), 0) << [&] {
    auto log = readFile((scratch.root / "loop.log").string().c_str());
    return std::string(log.begin(), log.end());
  }();
  EXPECT_EQ(readFile((scratch.work / "level3.dat.bak").string().c_str()), sampleLevelFile());
  fs::create_directory(scratch.root / "check");
  writeFile((scratch.root / "check/level3.dat.bak").string().c_str(), sampleLevelFile());
  auto before = runLvlsnd(scratch, {"../check/level3.dat.bak"}).files;
  auto after = runLvlsnd(scratch, {"level3.dat"}).files;
  EXPECT_NE(after["effect3_1.raw"], before["effect3_1.raw"]);
  EXPECT_NE(after["effect3_4.raw"], before["effect3_4.raw"]);
  EXPECT_EQ(after["effect3_2.raw"], before["effect3_2.raw"])
      << "the effect not edited, in the other units of the same groups as the first";
  // What the dry run let be heard is what went in, as lvlsnd-wav makes it.
  for (const auto& name : {"effect3_1", "effect3_4"}) {
    auto copy = scratch.root / "check" / (std::string(name) + ".raw");
    writeFile(copy.string().c_str(), after[std::string(name) + ".raw"]);
    runTool(scratch, "lvlsnd-wav", {"../check/" + copy.filename().string()});
    EXPECT_EQ(readFile((scratch.work / "heard" / name).replace_extension(".wav").string().c_str()),
              readFile(copy.replace_extension(".wav").string().c_str()))
        << name;
  }
}

} // namespace
