// lvlsnd-wav through the real executable. Sample-exact decoding is checked against ffmpeg in
// the decoder interop tests.
#include "media_tools.hpp"
#include "tool_test.hpp"
#include "wav_builder.hpp"
#include "wav_tool.hpp"
#include "xa_encoder.hpp"
#include "xa_sounds.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

using namespace lvlsnd;

namespace {

using WavToolTest = ScratchTest;

// What a new file's permissions are when a program creates it as an ordinary file: 0666 less
// the umask, which the programs run here inherit.
fs::perms ordinaryPermissions() {
  auto mask = umask(0);
  umask(mask);
  return static_cast<fs::perms>(0666 & ~mask);
}

TEST_F(WavToolTest, EachFileIsConvertedBesideItAndEachComplaintNamesItsFile) {
  auto put = [&](const std::string& name, const Bytes& bytes) {
    writeFile((scratch.work / name).string().c_str(), bytes);
  };
  Bytes three = randomRawGroups(3, 1);
  Bytes oneAndSome = randomRawGroups(1, 2);
  oneAndSome.resize(oneAndSome.size() + 5, 0x11);
  Bytes strangeThird = randomRawGroups(3, 4);
  strangeThird[2 * rawGroupSize + 13] ^= 1; // its spare parameter copy differs
  const Bytes edit(9999, 0x55);
  put("Effect7_12.RAW", three);
  put("edited.raw", three);
  put("edited.wav", edit); // kept: not the effect's samples
  // Edits a sound editor saves: one sample changed, a frame more, the same in stereo, and the
  // effect's own samples in stereo and in 24 bits, which mixed to mono 16-bit samples would
  // look like the effect's.
  auto samples = decodedSamples(three);
  auto changed = samples;
  changed[100] = static_cast<std::int16_t>(changed[100] ^ 1);
  auto longer = samples;
  longer.push_back(0);
  auto stereo = [](const std::vector<std::int16_t>& mono) {
    Bytes frames;
    for (auto sample : mono) {
      for (int channel = 0; channel < 2; ++channel) {
        frames.push_back(static_cast<std::uint8_t>(sample));
        frames.push_back(static_cast<std::uint8_t>(sample >> 8));
      }
    }
    return wavFile({{"fmt ", fmtBytes(1, 2, 16)}, {"data", frames}});
  };
  Bytes deeper;
  for (auto sample : samples) {
    deeper.insert(deeper.end(), {0x55, static_cast<std::uint8_t>(sample),
                                 static_cast<std::uint8_t>(sample >> 8)});
  }
  const std::pair<std::string, Bytes> edits[] = {
      {"changed", monoWav(changed)},
      {"longer", monoWav(longer)},
      {"stereo", stereo(changed)},
      {"stereo-mix", stereo(samples)},
      {"deeper", wavFile({{"fmt ", fmtBytes(1, 1, 24)}, {"data", deeper}})}};
  // An edit put back: the effect holds the encoding of its beginning (it is longer).
  auto tone = toneSamples();
  auto units = encodeUnits(std::span(tone).first(3 * samplesPerEffectGroup));
  Bytes putBack;
  for (std::size_t at = 0; at < units.size(); at += unitsPerEffectGroup) {
    StoredGroup stored{};
    storeUnits(stored, 1, std::span(units).subspan(at).first<unitsPerEffectGroup>());
    auto raw = convertGroup(stored, 1);
    putBack.insert(putBack.end(), raw.begin(), raw.end());
  }
  put("putback.raw", putBack);
  put("putback.wav", monoWav(tone, 18900));
  // An effect file named as the WAV file of another.
  put("x", three);
  put("x.wav", three);
  for (const auto& [name, wav] : edits) {
    put(name + ".raw", three);
    put(name + ".wav", wav);
  }
  put("sound.bin", oneAndSome);
  put("empty.raw", {});
  put("nothing.raw", {});
  put("nothing.wav", monoWav(changed)); // an edit no effect of no groups can take
  put("é音.raw", three);
  put("-dash.raw", three);
  put("blocked.raw", three);
  fs::create_directory(scratch.work / "blocked.wav");
  fs::create_directory(scratch.work / "folder.raw");
  put("self.raw", three);
  fs::create_hard_link(scratch.work / "self.raw", scratch.work / "self.wav");
  // A link to a device is a POSIX case: Wine shows it to a Windows program as a file or as an
  // error, depending on the machine.
  bool device = !runningWindowsBuild();
  if (device) {
    put("full.raw", three);
    fs::create_symlink("/dev/full", scratch.work / "full.wav");
  }
  put("level3.dat", sampleLevelFile());
  put("strange.raw", strangeThird);

  std::vector<std::string> arguments = {
      "--rate",         "18900",       "Effect7_12.RAW", "edited.raw",  "sound.bin",  "empty.raw",
      "nothing.raw",    "missing.raw", "folder.raw",     "blocked.raw", "self.raw",   "full.raw",
      "level3.dat",     "strange.raw", "é音.raw",        "changed.raw", "longer.raw", "stereo.raw",
      "stereo-mix.raw", "deeper.raw",  "putback.raw",    "x",           "x.wav",      "--",
      "-dash.raw"};
  if (!device) {
    std::erase(arguments, "full.raw");
  }
  auto run = runTool(scratch, "lvlsnd-wav", arguments);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Converting Effect7_12.RAW to Effect7_12.wav (3 groups)...\n"
                     "Converting edited.raw to edited.wav (3 groups)...\n"
                     "Converting sound.bin to sound.bin.wav (1 group)...\n"
                     "Converting empty.raw to empty.wav (0 groups)...\n"
                     "Converting nothing.raw to nothing.wav (0 groups)...\n"
                     "Converting strange.raw to strange.wav (3 groups)...\n"
                     "Converting é音.raw to é音.wav (3 groups)...\n"
                     "Converting changed.raw to changed.wav (3 groups)...\n"
                     "Converting longer.raw to longer.wav (3 groups)...\n"
                     "Converting stereo.raw to stereo.wav (3 groups)...\n"
                     "Converting stereo-mix.raw to stereo-mix.wav (3 groups)...\n"
                     "Converting deeper.raw to deeper.wav (3 groups)...\n"
                     "Converting putback.raw to putback.wav (3 groups)...\n"
                     "putback.wav: Your edit, in the level; kept\n"
                     "Converting x.wav to x.wav.wav (3 groups)...\n"
                     "Converting -dash.raw to -dash.wav (3 groups)...\n");
  const std::string notEffect = " is not an XA sound group); lvlsnd extracts effect files from "
                                "a level file\n";
  const std::string keptEdit =
      ": Exists and holds other samples (an edit?); give --force to replace it\n";
  auto notInLevel = [](const std::string& wav) {
    return wav + ": An edit not in the level yet; lvlsnd-replace LEVEL INDEX " + wav +
           " puts it back, --force replaces it\n";
  };
  EXPECT_EQ(run.err,
            "edited.wav" + keptEdit +
                "sound.bin: Left out 5 bytes after the last whole group\n"
                "nothing.wav" +
                keptEdit +
                "missing.raw: Cannot open (No such file or directory)\n"
                "folder.raw: Cannot open (" +
                folderReason() +
                ")\n"
                "blocked.wav: Cannot create (not a regular file)\n"
                "self.wav: Cannot create (it is the effect file)\n" +
                std::string(device ? "full.wav: Cannot create (not a regular file)\n" : "") +
                "level3.dat: Not an effect file (group 1" + notEffect +
                "strange.raw: Not an effect file (group 3" + notEffect + notInLevel("changed.wav") +
                notInLevel("longer.wav") + notInLevel("stereo.wav") + notInLevel("stereo-mix.wav") +
                notInLevel("deeper.wav") +
                "x.wav: Cannot create (it is an effect file of this run)\n");
  EXPECT_EQ(run.files["self.raw"], three) << "an input is never overwritten";
  EXPECT_EQ(run.files["x.wav"], three) << "nor another input of the run";
  EXPECT_EQ(run.files["edited.wav"], edit) << "an edit is never replaced unasked";
  EXPECT_EQ(run.files["putback.wav"], monoWav(tone, 18900)) << "nor one in the level";
  for (const auto& [name, wav] : edits) {
    EXPECT_EQ(run.files[name + ".wav"], wav) << name;
  }
  EXPECT_TRUE(!device || fs::is_symlink(scratch.work / "full.wav"))
      << "nothing is renamed over a device";
  for (const auto* refused : {"level3.dat.wav", "strange.wav"}) {
    EXPECT_EQ(run.files.count(refused), 0u) << refused;
  }
  // The canonical header: RIFF, WAVE, fmt (PCM, mono, 18900 Hz, 37800 bytes/s, 2, 16 bits),
  // data; then 112 samples a group.
  const Bytes header = {'R', 'I', 'F',  'F',  0xC4, 0x02, 0,    0,    'W',  'A', 'V',
                        'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,   0,
                        1,   0,   0xD4, 0x49, 0,    0,    0xA8, 0x93, 0,    0,   2,
                        0,   16,  0,    'd',  'a',  't',  'a',  0xA0, 0x02, 0,   0};
  EXPECT_EQ(slice(run.files["Effect7_12.wav"], 0, 44), header);
  const std::pair<std::string, std::size_t> written[] = {{"Effect7_12.wav", 3},
                                                         {"sound.bin.wav", 1},
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
  if (!run.windowsBuild) {
    EXPECT_EQ(fs::status(scratch.work / "Effect7_12.wav").permissions(), ordinaryPermissions())
        << "a WAV file gets the permissions of an ordinary new file";
  }

  // Again: the same samples at another rate are replaced without a word, and --force replaces
  // the edit.
  auto again = runTool(scratch, "lvlsnd-wav", {"Effect7_12.RAW", "--force", "edited.raw"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(slice(again.files["Effect7_12.wav"], 44, 3 * 224),
            slice(run.files["é音.wav"], 44, 3 * 224));
  EXPECT_EQ(again.files["Effect7_12.wav"][24], 0xA8) << "37800 Hz now";
  EXPECT_EQ(again.files["edited.wav"], again.files["Effect7_12.wav"]);
  // Without --force: the same samples at another rate are written anew, and a WAV file that is
  // already byte for byte what the run writes is left as it is, its time too.
  auto hourAgo = fs::last_write_time(scratch.work / "-dash.wav") - std::chrono::hours(1);
  fs::last_write_time(scratch.work / "-dash.wav", hourAgo);
  auto third = runTool(scratch, "lvlsnd-wav", {"--", "é音.raw", "-dash.raw"});
  EXPECT_EQ(third.status, 0) << third.err;
  EXPECT_EQ(third.files["é音.wav"], again.files["Effect7_12.wav"]);
  EXPECT_NE(fs::last_write_time(scratch.work / "-dash.wav"), hourAgo) << "written at 37800 Hz";
  fs::last_write_time(scratch.work / "-dash.wav", hourAgo);
  auto fourth = runTool(scratch, "lvlsnd-wav", {"--", "-dash.raw"});
  EXPECT_EQ(fourth.status, 0) << fourth.err;
  EXPECT_EQ(fourth.files["-dash.wav"], third.files["-dash.wav"]);
  EXPECT_EQ(fs::last_write_time(scratch.work / "-dash.wav"), hourAgo) << "left as it was";
  auto entries = fs::directory_iterator(scratch.work);
  EXPECT_TRUE(std::none_of(fs::begin(entries), fs::end(entries), [](const auto& entry) {
    return entry.path().filename().string().starts_with(".lvlsnd-");
  })) << "no temporary file is left";
}

TEST_F(WavToolTest, AConversionStoppedByASignalLeavesNoPartialWavAndNoTemporaryFile) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace and a native build";
  }
  // Three chunks of groups; a clean run's WAV file is the only complete one.
  writeFile((scratch.work / "long.raw").string().c_str(), randomRawGroups(2500, 6));
  auto complete = runTool(scratch, "lvlsnd-wav", {"long.raw"}).files["long.wav"];
  // Ctrl+C as the temporary file is created, as the header and as a later chunk are written,
  // and as it is named in place; SIGTERM, and SIGPIPE (a page's progress piped to `head`).
  const std::pair<const char*, const char*> moments[] = {
      {"openat", "SIGINT:when=3"}, {"write", "SIGINT:when=1"},  {"write", "SIGINT:when=3"},
      {"linkat", "SIGINT:when=1"}, {"write", "SIGTERM:when=2"}, {"write", "SIGPIPE:when=2"}};
  for (const auto& [call, moment] : moments) {
    fs::remove(scratch.work / "long.wav");
    auto inject = std::string("-e inject=") + call + ":signal=" + moment;
    runTraced(scratch, inject, "lvlsnd-wav", {"--page", "long.html", "long.raw"});
    for (const auto& entry : fs::directory_iterator(scratch.work)) {
      auto name = entry.path().filename().string();
      EXPECT_TRUE(name == "long.raw" || name == "long.html" ||
                  (name == "long.wav" && readFile(entry.path().string().c_str()) == complete))
          << name << " after " << inject;
    }
  }
}

TEST_F(WavToolTest, AnEditSavedWhileTheWavFileIsWrittenIsKept) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace and a native build";
  }
  // A run that finds the WAV file it wrote before, and an edit saved over it while the run is
  // held back just before its exchange (or the naming of a WAV file that was not there).
  writeFile((scratch.work / "a.raw").string().c_str(), randomRawGroups(3, 8));
  const Bytes edit = monoWav(std::vector<std::int16_t>(336, 7));
  for (bool existed : {true, false}) {
    fs::remove(scratch.work / "a.wav");
    if (existed) { // at another rate, so that the run writes it anew
      ASSERT_EQ(runTool(scratch, "lvlsnd-wav", {"--rate=18900", "a.raw"}).status, 0);
    }
    auto save = "(sleep 0.5; cp '" + (scratch.root / "edit.wav").string() + "' '" +
                (scratch.work / "a.wav").string() + "') & cd '" + scratch.work.string() + "' && ";
    writeFile((scratch.root / "edit.wav").string().c_str(), edit);
    auto run = runToolUnder(scratch,
                            save + "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e "
                                   "inject=renameat2,linkat:delay_enter=1500000:when=1",
                            "lvlsnd-wav", {"a.raw"});
    std::system("wait; sleep 0.6");
    EXPECT_EQ(run.status, 1) << existed;
    EXPECT_EQ(run.err, "a.wav: Exists and holds other samples (an edit?); give --force to "
                       "replace it\n");
    EXPECT_EQ(readFile((scratch.work / "a.wav").string().c_str()), edit) << existed;
    auto entries = fs::directory_iterator(scratch.work);
    EXPECT_EQ(std::distance(fs::begin(entries), fs::end(entries)), 2) << "no temporary file";
  }
}

TEST_F(WavToolTest, UsageErrorsAndRefusalsWriteNothingWhileHelpAndVersionGoToStandardOutput) {
  auto put = [&](const std::string& name, const Bytes& bytes) {
    writeFile((scratch.work / name).string().c_str(), bytes);
  };
  put("a.raw", randomRawGroups(1, 3));
  put("a.wav", monoWav(toneSamples()));
  put("level3.dat", sampleLevelFile());
  // A page name that leads to the WAV file of an input (a.raw gives a.wav).
  fs::create_hard_link(scratch.work / "a.wav", scratch.work / "a.HTM");
  const bool posix = !runningWindowsBuild();
  if (posix) {
    fs::create_symlink("level3.dat", scratch.work / "level.html");
    mkfifo((scratch.work / "fifo").c_str(), 0644);
  }
  const std::string usage = "Usage: lvlsnd-wav [--rate HZ] [--page PAGE.html] [--force] FILE...\n"
                            "Function: Converts lvlsnd effect files to WAV files\n"
                            "Each effect file FILE.raw is written to FILE.wav beside it\n"
                            "  --rate HZ   sample rate written into the WAV files, 1000 to 192000 "
                            "(default 37800)\n"
                            "  --page PAGE.html  also write a page that shows and plays every "
                            "file converted\n"
                            "  -f, --force replace a WAV file even when it holds other samples "
                            "(an edit)\n"
                            "  -h, --help  print this text\n"
                            "  --version   print the version\n";
  const std::string badRate = "the rate must be an integer from 1000 to 192000, not ";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
    bool posixOnly = false;
  };
  const std::string notPage = ": Not a page name; give a name ending in .html\n";
  const Case cases[] = {
      {{}, 2, "", "lvlsnd-wav: no effect file given\n" + usage},
      {{"a.wav"}, 1, "", "a.wav: A WAV file, not an effect file\n"},
      {{"level3.dat"},
       1,
       "",
       "level3.dat: Not an effect file (group 1 is not an XA sound group); lvlsnd extracts "
       "effect files from a level file\n"},
      {{"--page", "level3.dat", "a.raw"}, 2, "", "level3.dat" + notPage},
      {{"--page", "level.html", "level3.dat"}, 2, "", "level.html" + notPage, true},
      {{"--page=a.HTM", "a.raw"}, 2, "", "a.HTM" + notPage},
      // A FIFO with no writer is refused at once.
      {{"fifo"}, 1, "", "fifo: Cannot open (Illegal seek)\n", true},
      {{"--", "--rate=8000"}, 1, "", "--rate=8000: Cannot open (No such file or directory)\n"},
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
  const auto filesBefore = runTool(scratch, "lvlsnd-wav", {"--version"}).files;
  for (const auto& c : cases) {
    if (c.posixOnly && !posix) {
      continue;
    }
    auto run = runTool(scratch, "lvlsnd-wav", c.arguments);
    EXPECT_EQ(run.status, c.status) << c.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.files, filesBefore) << "nothing is written: " << c.err;
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

// "%41" and the like decoded, as a browser resolves a URL's path.
std::string percentDecoded(const std::string& url) {
  std::string text;
  for (std::size_t k = 0; k < url.size(); ++k) {
    if (url[k] == '%' && k + 2 < url.size()) {
      text += static_cast<char>(std::stoi(url.substr(k + 1, 2), nullptr, 16));
      k += 2;
    } else {
      text += url[k];
    }
  }
  return text;
}

fs::path utf8Path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// Every text between `before` and the next `after` in `text`, in order.
std::vector<std::string> textsBetween(const std::string& text, const std::string& before,
                                      const std::string& after) {
  std::vector<std::string> found;
  for (auto at = text.find(before); at != std::string::npos; at = text.find(before, at)) {
    at += before.size();
    found.push_back(text.substr(at, text.find(after, at) - at));
  }
  return found;
}

// A script put into a copy of the page: at load it lists the window's width and the page's,
// each player's left and right edge, and the number of lines of each file name, in an element
// that --dump-dom then shows.
constexpr const char* layoutScript = R"(<script>addEventListener("load", () => {
  const root = document.documentElement;
  const figures = [root.clientWidth, root.scrollWidth];
  for (const player of document.querySelectorAll("audio")) {
    const box = player.getBoundingClientRect();
    figures.push(Math.round(box.left), Math.round(box.right));
  }
  for (const name of document.querySelectorAll("td.name")) {
    const range = document.createRange();
    range.selectNodeContents(name);
    figures.push(new Set([...range.getClientRects()].map((box) => Math.round(box.top))).size);
  }
  const out = document.createElement("output");
  out.textContent = figures.join(" ");
  document.body.append(out);
});</script>)";

TEST_F(WavToolTest, ThePageListsAndPlaysEveryFileConvertedWhateverItsName) {
  auto path = putLevelFile("level3.dat", sampleLevelFile());
  // Effect 1 edited and put back: the edit is in the level.
  const Bytes putBack = monoWav(toneSamples(), 44100);
  writeFile((scratch.work / "effect3_1.wav").string().c_str(), putBack);
  ASSERT_EQ(runTool(scratch, "lvlsnd-replace", {path, "effect3_1.wav"}).status, 0);
  auto effects = runLvlsnd(scratch, {path}).files;
  std::vector<std::string> names = {"effect3_1.raw", "effect3_2.raw", "effect3_4.raw", "é 音.raw"};
  // Windows allows none of < > " in a file name.
  const std::string hostile = "a<b>&\"c'.raw";
  if (!runningWindowsBuild()) {
    names.push_back(hostile);
  }
  for (const auto& name : {std::string("é 音.raw"), hostile}) {
    writeFile((scratch.work / name).string().c_str(), effects["effect3_4.raw"]);
  }
  // An edit of effect 2, not put back, is kept and keeps its row.
  const Bytes edit = monoWav(std::vector<std::int16_t>(100, 9));
  writeFile((scratch.work / "effect3_2.wav").string().c_str(), edit);
  fs::create_directory(scratch.root / "pages");
  auto arguments = names;
  arguments.insert(arguments.begin() + 1, "missing.raw");
  // Names too long for the system, the file's own or its WAV file's, are that file's complaint
  // alone.
  const std::string tooLong = std::string(251, 'b') + ".xyz";
  const std::string farTooLong = std::string(300, 'c') + ".raw";
  std::string tooLongComplaint;
  if (!runningWindowsBuild()) {
    arguments.insert(arguments.begin() + 1, {tooLong, farTooLong});
    tooLongComplaint = tooLong + ": Cannot open (No such file or directory)\n" + farTooLong +
                       ": Cannot open (File name too long)\n";
  }
  arguments.insert(arguments.begin(), {"--page", "../pages/effects.html"});
  auto run = runTool(scratch, "lvlsnd-wav", arguments);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.substr(0, run.out.find("effect3_2")),
            "Converting effect3_1.raw to effect3_1.wav (135 groups)...\n"
            "effect3_1.wav: Your edit, in the level; kept\nConverting ")
      << "effect files in entry order, first";
  EXPECT_EQ(run.err, "effect3_2.wav: An edit not in the level yet; lvlsnd-replace LEVEL "
                     "effect3_2.wav puts it back, --force replaces it\n" +
                         tooLongComplaint +
                         "missing.raw: Cannot open (No such file or directory)\n");
  EXPECT_EQ(readFile((scratch.work / "effect3_1.wav").string().c_str()), putBack);
  EXPECT_EQ(readFile((scratch.work / "effect3_2.wav").string().c_str()), edit);
  auto pagePath = scratch.root / "pages/effects.html";
  auto bytes = readFile(pagePath.string().c_str());
  std::string page(bytes.begin(), bytes.end());
  EXPECT_EQ(textsBetween(page, "<tr class=\"edited\"><td class=\"name\">", "</td>"),
            (std::vector<std::string>{"effect3_<wbr>1.<wbr>raw", "effect3_<wbr>2.<wbr>raw"}))
      << "the edited effects' rows, marked";
  EXPECT_EQ(textsBetween(page, "<span class=\"edited\">", "<"),
            (std::vector<std::string>{"edited, in the level", "edited, not in the level yet"}));
  // Every waveform is named for its effect, every player too, or for an edit, for what it plays.
  for (const auto* label : {"your edit", "in the level"}) {
    EXPECT_EQ(textsBetween(page, std::string("aria-label=\"") + label + "\"></audio>", "<").size(),
              2u)
        << label;
  }
  for (const auto& name : {"effect3_4.raw", "é 音.raw"}) {
    EXPECT_NE(page.find(std::string("aria-label=\"") + name + "\"></audio>"), std::string::npos)
        << name;
  }
  for (const auto& name : {"effect3_1.raw", "effect3_2.raw", "effect3_4.raw", "é 音.raw"}) {
    EXPECT_NE(page.find(std::string("aria-label=\"waveform of ") + name + "\""), std::string::npos)
        << name;
  }
  // A run that converts nothing leaves the page as it was.
  auto empty = runTool(scratch, "lvlsnd-wav", {"--page", "../pages/effects.html", "missing.raw"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "missing.raw: Cannot open (No such file or directory)\n"
                       "../pages/effects.html: Not written: no effect file was converted\n");
  EXPECT_EQ(readFile(pagePath.string().c_str()), bytes);

  auto shown = textsBetween(page, "<td class=\"name\">", "</td>");
  auto sources = textsBetween(page, "<audio controls preload=\"metadata\" src=\"", "\"");
  ASSERT_EQ(shown.size(), names.size()) << "one row per file converted, none for the missing";
  ASSERT_EQ(sources.size(), names.size() + 2);
  EXPECT_EQ(textsBetween(page, "<svg ", ">").size(), names.size());
  // The edits' second players play the effects as the level holds them, from a folder beside the
  // page: what lvlsnd-wav makes of them.
  auto levelSounds = scratch.root / "pages/effects-in-level";
  for (int k : {1, 2}) {
    auto name = "effect3_" + std::to_string(k) + ".wav";
    EXPECT_EQ(fs::canonical(scratch.root / "pages" / sources[static_cast<std::size_t>(k)]),
              fs::canonical(levelSounds / name));
    sources.erase(sources.begin() + k);
  }
  for (std::size_t k = 0; k < names.size(); ++k) {
    auto wav = wavNameFor(names[k]);
    EXPECT_EQ(fs::canonical(scratch.root / "pages" / utf8Path(percentDecoded(sources[k]))),
              fs::canonical(scratch.work / utf8Path(wav)))
        << sources[k];
  }
  auto forced = runTool(scratch, "lvlsnd-wav", {"-f", "effect3_1.raw", "effect3_2.raw"});
  for (const auto& name : {"effect3_1.wav", "effect3_2.wav"}) {
    EXPECT_EQ(readFile((levelSounds / name).string().c_str()), forced.files[name])
        << name << " in the level, as lvlsnd-wav makes it";
  }
  EXPECT_EQ(shown.back(),
            runningWindowsBuild() ? "é 音.<wbr>raw" : "a&lt;b&gt;&amp;&quot;c&#39;.<wbr>raw");
  EXPECT_NE(
      page.find("<h1>Sound effects in work</h1>\n<p>Edit the WAV files in place, then "
                "put them back in one run: <code>lvlsnd-replace LEVEL INDEX NEW.wav...</code> "
                "(any rate, 1 to 8 channels, at most the effect&#39;s length).</p>"),
      std::string::npos)
      << "names of no one level: the folder in the title";
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos);
  EXPECT_NE(page.find("\">4</td><td class=\"n\" data-label=\"Groups\">68</td><td class=\"n\" "
                      "data-label=\"Seconds\">0.201</td>"),
            std::string::npos)
      << "entry index, groups and seconds of effect3_4.raw";
  if (std::system("tidy -v >/dev/null 2>&1") == 0) {
    auto command = "tidy -e -q '" + pagePath.string() + "' >/dev/null 2>&1";
    EXPECT_LT(WEXITSTATUS(std::system(command.c_str())), 2) << "tidy finds no error";
  }
  if (runningWindowsBuild() || std::system("chromium --version >/dev/null 2>&1") != 0) {
    return; // the page itself is checked; the browser is asked natively where it is installed
  }
  auto chromium = "cd '" + scratch.root.string() +
                  "' && chromium --headless --no-sandbox --disable-gpu --no-first-run "
                  "--disable-background-networking --disable-component-update --disable-sync "
                  "--user-data-dir=browser --virtual-time-budget=2000 ";
  auto measured = scratch.root / "pages/measured.html";
  auto scripted = page;
  scripted.insert(scripted.rfind("</body>"), layoutScript);
  writeFile(measured.string().c_str(), Bytes(scripted.begin(), scripted.end()));
  for (int width : {500, 760, 900, 1024, 1280, 1920}) {
    auto dom = (scratch.root / "dom.html").string();
    std::system((chromium + "--window-size=" + std::to_string(width) + ",900 --dump-dom 'file://" +
                 measured.string() + "' > '" + dom + "' 2>/dev/null")
                    .c_str());
    auto domBytes = readFile(dom.c_str());
    auto figures = textsBetween(std::string(domBytes.begin(), domBytes.end()), "<output>", "<");
    ASSERT_EQ(figures.size(), 1u) << "the browser ran the page at " << width << " px";
    EXPECT_EQ(std::ranges::count(figures[0], ' '), 3 * names.size() + 5)
        << "a player a file, two for an edit";
    std::istringstream numbers(figures[0]);
    int windowWidth = 0, pageWidth = 0;
    numbers >> windowWidth >> pageWidth;
    EXPECT_LE(pageWidth, windowWidth) << "nothing scrolls sideways at " << width << " px";
    for (std::size_t k = 0; k < names.size() + 2; ++k) {
      int left = 0, right = 0;
      numbers >> left >> right;
      EXPECT_GE(right - left, 240) << "player " << k << " at " << width << " px";
      EXPECT_TRUE(left >= 0 && right <= windowWidth) << "player " << k << " at " << width;
    }
    for (const auto& name : names) {
      int lines = 0;
      numbers >> lines;
      EXPECT_EQ(lines, 1) << name << " at " << width << " px";
    }
  }
  // A run of one level's effects: the level in the title, the folder under it, and the
  // replacement's command for the run's rate.
  auto level = runTool(
      scratch, "lvlsnd-wav",
      {"-f", "--rate", "18900", "--page", "../pages/level.html", "effect3_1.raw", "effect3_2.raw"});
  auto levelBytes = readFile((scratch.root / "pages/level.html").string().c_str());
  EXPECT_NE(std::string(levelBytes.begin(), levelBytes.end())
                .find("<title>Level 3 sound effects</title>"),
            std::string::npos);
  EXPECT_NE(std::string(levelBytes.begin(), levelBytes.end())
                .find("<h1>Level 3 sound effects</h1>\n<p>Folder: work</p>\n<p>Edit the WAV "
                      "files in place, then put them back in one run: <code>lvlsnd-replace --rate "
                      "18900 LEVEL effect3_*.wav</code> (any rate, 1 to 8 channels, at most "
                      "the effect&#39;s length).</p>"),
            std::string::npos);
}

} // namespace
