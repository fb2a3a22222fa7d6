// What the programs write lands where their checks looked, or nowhere: each program is held
// just before the final step of one output (through the file update's test pause) while the
// test changes the name, as another process or an editor might.
#include "tool_test.hpp"
#include "xa_sounds.hpp"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

using FileUpdateTest = ScratchTest;

const Bytes notes = {'n', 'o', 't', 'e', 's', '\n'};

// What another process does to a name between a program's check and its final step.
enum class Move { repointLink, createName, replaceFile, writeIntoFile, linkInput };

void writeFileAt(const fs::path& path, const Bytes& bytes) {
  writeFile(path.string().c_str(), bytes);
}

// Does `move` to `name` in `folder`: a link re-pointed at `linkTarget`, `notes` put under the
// name, a new file renamed over it, `notes` written into the file it holds, or `linkTarget`
// given the name as a second one (a hard link).
void makeMove(Move move, const fs::path& folder, const std::string& name,
              const std::string& linkTarget) {
  auto path = folder / name;
  auto beside = folder / (name + ".t");
  switch (move) {
  case Move::repointLink:
    fs::create_symlink(linkTarget, beside);
    fs::rename(beside, path);
    break;
  case Move::createName:
    writeFileAt(path, notes);
    break;
  case Move::replaceFile:
    writeFileAt(beside, notes);
    fs::rename(beside, path);
    break;
  case Move::linkInput:
    fs::create_hard_link(folder / linkTarget, path);
    break;
  case Move::writeIntoFile: {
    // As an editor that saves into the file: the same file, other bytes, a later time.
    int descriptor = open(path.c_str(), O_WRONLY | O_TRUNC);
    EXPECT_EQ(write(descriptor, notes.data(), notes.size()), std::ssize(notes));
    close(descriptor);
    break;
  }
  }
}

// Runs `tool` held before the final step of the file named `pausedName`, makes `move` there,
// lets it go on, and returns what it did. A run that ends before it gets there has the move
// made after it, so that a refusal that should not happen still shows.
ToolRun runWithMove(const Scratch& scratch, const std::string& tool,
                    const std::vector<std::string>& arguments, const std::string& pausedName,
                    const std::function<void()>& move, const std::string& trace = "") {
  auto fifo = scratch.root / "pause";
  fs::remove(fifo);
  mkfifo(fifo.c_str(), 0600);
  auto launcher =
      "LVLSND_TEST_PAUSE_NAME=" + pausedName + " LVLSND_TEST_PAUSE_FIFO=" + fifo.string() +
      (trace.empty() ? "" : " ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null " + trace);
  auto running = std::async(std::launch::async,
                            [&] { return runToolUnder(scratch, launcher, tool, arguments); });
  // Opening for writing succeeds once the program waits at the pause.
  int descriptor = -1;
  while (descriptor < 0 &&
         running.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
    descriptor = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  }
  move();
  if (descriptor >= 0) {
    close(descriptor);
  }
  return running.get();
}

// The words of a command line: "lvlsnd-wav -f effect3_1.raw".
std::vector<std::string> wordsOf(const std::string& command) {
  std::vector<std::string> words;
  std::istringstream text(command);
  for (std::string word; text >> word;) {
    words.push_back(word);
  }
  return words;
}

// One output of one program, the move made to its name, and what must come of it.
struct Race {
  Move move;
  std::string command;    // the program and its arguments
  std::string pausedName; // the name the final step gives: a link's target's
  std::string movedName;  // the name the move changes
  std::string linkTarget; // where a re-pointed link leads then, or the file linked in
  std::string err;        // the complaint, with status 1; none: status 0
  bool movedKept;         // the moved name as the move left it; else what the run wrote
  std::string unchanged;  // an input the run must leave as it was
};

TEST_F(FileUpdateTest, AChangeBetweenTheCheckAndTheFinalStepNeverRedirectsOrLosesAWrite) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs a native POSIX build (and strace for the rows that inject)";
  }
  const std::string keptEdit =
      "effect3_1.wav: Exists and holds other samples (an edit?); give --force to replace it\n";
  const std::string changed = ": Changed during the run; not written\n";
  const std::string replace = "lvlsnd-replace level3.dat 1 effect3_4.wav";
  const std::string out = "lvlsnd-replace -o out.dat level3.dat 1 effect3_4.wav";
  const Race races[] = {
      // Effect files: a link re-pointed at the level file, the level file put under the name.
      // The name is looked at only when it is found taken, so another file there is replaced,
      // as one there from the start is.
      {Move::repointLink, "lvlsnd level3.dat", "old.raw", "effect3_1.raw", "level3.dat", "", false,
       "level3.dat"},
      {Move::linkInput, "lvlsnd level3.dat", "effect3_1.raw", "effect3_1.raw", "level3.dat",
       "effect3_1.raw: Cannot create\n", false, "level3.dat"},
      {Move::createName, "lvlsnd level3.dat", "effect3_1.raw", "effect3_1.raw", "", "", false,
       "level3.dat"},
      {Move::replaceFile, "lvlsnd level3.dat", "effect3_2.raw", "effect3_2.raw", "", "", false,
       "level3.dat"},
      // WAV files: whatever appears under the name is kept as an edit.
      {Move::repointLink, "lvlsnd-wav -f effect3_1.raw", "old.wav", "effect3_1.wav",
       "effect3_1.raw", "", false, "effect3_1.raw"},
      {Move::createName, "lvlsnd-wav effect3_1.raw", "effect3_1.wav", "effect3_1.wav", "", keptEdit,
       true, "effect3_1.raw"},
      {Move::replaceFile, "lvlsnd-wav effect3_1.raw", "effect3_1.wav", "effect3_1.wav", "",
       keptEdit, true, "effect3_1.raw"},
      {Move::writeIntoFile, "lvlsnd-wav effect3_1.raw", "effect3_1.wav", "effect3_1.wav", "",
       keptEdit, true, "effect3_1.raw"},
      {Move::repointLink, "lvlsnd-wav --page page.html effect3_1.raw", "old.html", "page.html",
       "effect3_1.raw", "", false, "effect3_1.raw"},
      {Move::createName, "lvlsnd-wav --page page.html effect3_1.raw", "page.html", "page.html", "",
       "page.html" + changed, true, "effect3_1.raw"},
      // The level file in place, its backup, and OUT.
      {Move::replaceFile, replace, "level3.dat", "level3.dat", "", "level3.dat" + changed, true,
       "effect3_4.wav"},
      {Move::createName, replace, "level3.dat.bak", "level3.dat.bak", "",
       "level3.dat.bak" + changed, true, "level3.dat"},
      {Move::createName, out, "out.dat", "out.dat", "",
       "out.dat: Exists; give --force to replace it\n", true, "level3.dat"},
      {Move::repointLink, "lvlsnd-replace -f -o out.dat level3.dat 1 effect3_4.wav", "old.dat",
       "out.dat", "level3.dat", "", false, "level3.dat"},
  };
  for (const auto& race : races) {
    SCOPED_TRACE(race.command + ", " + race.movedName + " moved (" +
                 std::to_string(static_cast<int>(race.move)) + ")");
    fs::remove_all(scratch.work);
    fs::create_directory(scratch.work);
    writeFileAt(scratch.work / "level3.dat", sampleLevelFile());
    ASSERT_EQ(runLvlsnd(scratch, {"level3.dat"}).status, 0);
    // A WAV file at another rate: its samples are the effect's, and a run writes it anew.
    ASSERT_EQ(runTool(scratch, "lvlsnd-wav", {"--rate=18900", "effect3_1.raw"}).status, 0);
    ASSERT_EQ(runTool(scratch, "lvlsnd-wav", {"effect3_4.raw"}).status, 0);
    if (race.move == Move::repointLink) {
      writeFileAt(scratch.work / race.pausedName, notes);
      fs::remove(scratch.work / race.movedName);
      fs::create_symlink(race.pausedName, scratch.work / race.movedName);
    } else if (race.move == Move::createName || race.move == Move::linkInput) {
      fs::remove(scratch.work / race.movedName);
    }
    auto input = readFile((scratch.work / race.unchanged).string().c_str());
    auto words = wordsOf(race.command);
    auto run =
        runWithMove(scratch, words[0], {words.begin() + 1, words.end()}, race.pausedName,
                    [&] { makeMove(race.move, scratch.work, race.movedName, race.linkTarget); });
    EXPECT_EQ(run.status, race.err.empty() ? 0 : 1);
    EXPECT_EQ(run.err, race.err);
    if (race.move == Move::repointLink) {
      EXPECT_TRUE(fs::is_symlink(scratch.work / race.movedName));
      EXPECT_NE(run.files[race.pausedName], notes) << "written where the check looked";
    } else {
      EXPECT_EQ(run.files[race.movedName] == notes, race.movedKept);
    }
    EXPECT_EQ(run.files[race.unchanged], input) << race.unchanged << " as it was";
    for (const auto& [name, bytes] : run.files) {
      EXPECT_FALSE(name.starts_with(".lvlsnd-")) << "a temporary file stays: " << name;
    }
  }
}

TEST_F(FileUpdateTest, WithoutAnExchangeTheNameIsLookedAtJustBeforeTheRename) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace and a native build";
  }
  // A file system that cannot exchange says EINVAL: an edit saved into the WAV file, or a file
  // put in place of the level file, before the final step is still kept.
  writeFileAt(scratch.work / "level3.dat", sampleLevelFile());
  ASSERT_EQ(runLvlsnd(scratch, {"level3.dat"}).status, 0);
  ASSERT_EQ(runTool(scratch, "lvlsnd-wav", {"--rate=18900", "effect3_1.raw"}).status, 0);
  ASSERT_EQ(runTool(scratch, "lvlsnd-wav", {"effect3_4.raw"}).status, 0);
  const std::string cannotExchange = "-e inject=renameat2:error=EINVAL:when=1";
  auto run = runWithMove(
      scratch, "lvlsnd-wav", {"effect3_1.raw"}, "effect3_1.wav",
      [&] { makeMove(Move::writeIntoFile, scratch.work, "effect3_1.wav", ""); }, cannotExchange);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.files["effect3_1.wav"], notes);
  auto level = runWithMove(
      scratch, "lvlsnd-replace", {"level3.dat", "1", "effect3_4.wav"}, "level3.dat",
      [&] { makeMove(Move::replaceFile, scratch.work, "level3.dat", ""); }, cannotExchange);
  EXPECT_EQ(level.status, 1);
  EXPECT_EQ(level.err, "level3.dat: Changed during the run; not written\n");
  EXPECT_EQ(level.files["level3.dat"], notes);
  // And with no change, the rename goes ahead.
  auto plain = runTraced(scratch, cannotExchange, "lvlsnd-wav", {"--rate=18900", "effect3_4.raw"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  const auto& written = plain.files["effect3_4.wav"];
  EXPECT_EQ(written.at(24) | written.at(25) << 8, 18900) << "the WAV file at its new rate";
}

} // namespace
