#include "replace_tool.hpp"

#include "batch_encoding.hpp"
#include "command_line.hpp"
#include "console.hpp"
#include "effect_names.hpp"
#include "file_update.hpp"
#include "files.hpp"
#include "level_update.hpp"
#include "paths.hpp"
#include "resample.hpp"
#include "sound_encoding.hpp"
#include "sound_items.hpp"
#include "wav.hpp"
#include "xa_encoder.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <string>
#include <thread>
#include <vector>

namespace lvlsnd {

namespace {

constexpr const char* usageText =
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

constexpr std::size_t mostJobs = 256;

// What becomes of one sound, once checked.
enum class Verdict {
  encode,    // encoded, then put in unless its encoding is already there
  unchanged, // the WAV file holds the entry's own samples
  alreadyIn, // its encoding is what the entry holds
  replaced,
};

// One sound of the run: the item, the entry it goes into, the WAV file's sound.
struct Replacement {
  SoundItem item;
  SoundEntry entry;
  WavSound sound;           // as read; once encoded, at the effect's rate
  std::uint64_t length = 0; // the whole sound's samples at the effect's rate
  bool resampled = false;   // from the WAV file's own rate
  Verdict verdict = Verdict::encode;
  bool cut = false; // longer than the effect: its beginning goes in
  Digest key{};     // of what shapes its encoding, for the cache
};

// What one run does.
struct Run {
  LevelTarget level;
  std::int32_t levelNumber = 0;
  std::uint32_t rate = defaultEffectRate;
  bool cut = false;
  bool dryRun = false;
  std::size_t jobs = 1;
  std::vector<Replacement> replacements;
  std::vector<LevelBytes> changed;     // the bytes of every entry named, as the run changes them
  const char* previewFolder = nullptr; // null: no preview is written
  EncodingCache cache;
  Console console{};
};

std::uint64_t samplesOf(const SoundEntry& entry) {
  return static_cast<std::uint64_t>(entry.groupCount) * samplesPerEffectGroup;
}

// Reads the WAV file's sound, as much of it as the entry takes at `rate`.
Outcome readSound(const char* path, const SoundEntry& entry, std::uint32_t rate, WavSound& sound) {
  auto opened = openInput(path);
  // The reader walks the file by offset, from its size: only a regular file has one.
  if (opened.failed()) {
    return systemProblem(path, "Cannot open", opened.error);
  }
  std::FILE* wav = opened.value;
  if (auto size = fileSize(wav); size.failed()) {
    auto problem = sizeProblem(path, size.error);
    std::fclose(wav);
    return problem;
  }
  auto source = fileSource(wav);
  Outcome problem;
  if (startsLikeEffectFile(source)) {
    problem = Problem{path, "Not a WAV file; lvlsnd-wav turns effect files into WAV files", ""};
  } else if ((problem = readSoundFor(source, samplesOf(entry), rate, sound))) {
    problem->name = path;
  }
  std::fclose(wav);
  return problem;
}

// Seconds of `samples` at `rate`, with three decimals.
std::string secondsOf(std::uint64_t samples, std::uint32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(samples) / rate);
  return text;
}

// The refusal of a rate no sound is resampled from; a sound at any other rate than the
// effect's is resampled to it.
Outcome checkRate(const Run& run, Replacement& replacement) {
  auto& sound = replacement.sound;
  auto from = sound.layout.sampleRate;
  if (from == 0) {
    return Problem{replacement.item.wavPath, "0 Hz is no rate", ""};
  }
  if (!takesRate(from)) {
    return Problem{replacement.item.wavPath,
                   std::to_string(from) + " Hz, but WAV files of " + std::to_string(lowestWavRate) +
                       " to " + std::to_string(highestWavRate) + " Hz go in",
                   ""};
  }
  // Resampled only when it is encoded: a sound already in the level need not be.
  replacement.length = lengthAtRate(sound, run.rate);
  replacement.resampled = from != run.rate;
  return std::nullopt;
}

// The refusal of a sound longer than the effect, unless --cut keeps its beginning.
Outcome checkLength(const Run& run, Replacement& replacement) {
  auto frames = replacement.length;
  auto effectSamples = samplesOf(replacement.entry);
  if (frames <= effectSamples) {
    return std::nullopt;
  }
  if (run.cut) {
    replacement.cut = true;
    return std::nullopt;
  }
  auto held = secondsOf(effectSamples, run.rate);
  auto given = secondsOf(frames, run.rate);
  auto effect = ", but effect " + replacement.item.indexText + " holds ";
  // Lengths that round to the same seconds are told in samples.
  auto lengths = given != held ? given + effect + held
                               : std::to_string(frames) + " samples (" + given + ")" + effect +
                                     std::to_string(effectSamples) + " (" + held + ")";
  return Problem{replacement.item.wavPath,
                 lengths + "; shorten it or give --cut to keep its first " + held, ""};
}

// The refusal of a WAV file named after an effect of another level than LEVEL's.
Outcome checkLevelOfName(const Run& run, const Replacement& replacement) {
  const auto& item = replacement.item;
  if (!item.nameLevel || *item.nameLevel == run.levelNumber) {
    return std::nullopt;
  }
  return Problem{item.wavPath,
                 "An effect of level " + std::to_string(*item.nameLevel) + ", but " +
                     run.level.path + " is level " + std::to_string(run.levelNumber) +
                     "; give its index to put it in anyway: " + item.indexText + " " + item.wavPath,
                 ""};
}

// Every check of one sound before anything is written: the level its name gives, its entry,
// the WAV file, its rate and its length.
Outcome checkReplacement(Run& run, Replacement& replacement) {
  auto problem = checkLevelOfName(run, replacement);
  if (!problem) {
    problem = findEntry(run.level, replacement.item.indexText, replacement.entry);
  }
  if (!problem) {
    problem = readSound(replacement.item.wavPath, replacement.entry, run.rate, replacement.sound);
  }
  if (!problem) {
    problem = checkRate(run, replacement);
  }
  if (!problem) {
    problem = checkLength(run, replacement);
  }
  return problem;
}

// Checks every sound and where the level file goes, complaining of each problem. False when
// there was any: then nothing is written.
bool checkAll(Run& run) {
  bool allGood = true;
  std::vector<RunInput> wavs;
  for (auto& replacement : run.replacements) {
    if (auto problem = checkReplacement(run, replacement)) {
      complain(run.console, *problem);
      allGood = false;
    }
    wavs.push_back(runInput(replacement.item.wavPath));
  }
  if (auto problem = checkDestination(run.level, wavs)) {
    complain(run.console, *problem);
    allGood = false;
  }
  return allGood;
}

// The entry's samples as lvlsnd and lvlsnd-wav decode its stored groups.
std::vector<std::int16_t> decodedSamples(const std::vector<StoredGroup>& groups,
                                         std::uint8_t unitSelector) {
  std::vector<std::int16_t> samples(groups.size() * samplesPerEffectGroup);
  PredictorState state;
  for (std::size_t k = 0; k < groups.size(); ++k) {
    auto group = convertGroup(groups[k], unitSelector);
    auto out = std::span(samples).subspan(k * samplesPerEffectGroup);
    decodeEffectGroup(group, state, out.first<samplesPerEffectGroup>());
  }
  return samples;
}

// Whether the WAV file holds the samples the entry's `groups` decode to, as lvlsnd-wav writes
// them: such a file was not edited.
bool holdsEntrySamples(const Replacement& replacement, const std::vector<StoredGroup>& groups) {
  return !replacement.resampled &&
         isEffectWavLayout(replacement.sound.layout, samplesOf(replacement.entry)) &&
         decodedSamples(groups, replacement.entry.unitSelector) == replacement.sound.samples;
}

// Whether putting one entry's sound in may change what the other entry holds: their groups
// share bytes, unless they are the same groups and one has the even units, the other the odd.
bool mayTouch(const SoundEntry& a, const SoundEntry& b) {
  bool overlap = a.groupOffset < groupsEnd(b) && b.groupOffset < groupsEnd(a);
  auto apart = std::int64_t{a.groupOffset} - std::int64_t{b.groupOffset};
  bool otherUnits =
      apart % std::int64_t{storedGroupSize} == 0 && (a.unitSelector == 0) != (b.unitSelector == 0);
  return overlap && !otherUnits;
}

// The verdict on a sound no sound put in before it may change: unchanged when its WAV file holds
// the entry's own samples, already in when the entry holds the encoding remembered for it.
Verdict verdictBeforeEncoding(const Run& run, const Replacement& replacement) {
  auto groups = groupsOf(run.changed, replacement.entry);
  if (holdsEntrySamples(replacement, groups)) {
    return Verdict::unchanged;
  }
  auto remembered = rememberedEncoding(run.cache, replacement.key);
  bool alreadyIn =
      remembered && *remembered == digestOfStoredGroups(groups, replacement.entry.unitSelector);
  return alreadyIn ? Verdict::alreadyIn : Verdict::encode;
}

// Reads the bytes of every entry named, and decides which sounds are encoded: all but those
// whose WAV file holds the entry's own samples or whose entry holds their remembered encoding,
// unless a sound put in before may change it.
Outcome planEncodes(Run& run) {
  std::vector<SoundEntry> entries;
  for (const auto& replacement : run.replacements) {
    entries.push_back(replacement.entry);
  }
  if (auto problem = readEntryBytes(run.level, entries, run.changed)) {
    return problem;
  }
  for (std::size_t k = 0; k < run.replacements.size(); ++k) {
    auto& replacement = run.replacements[k];
    bool touched = false;
    for (std::size_t before = 0; before < k; ++before) {
      touched = touched || (run.replacements[before].verdict == Verdict::encode &&
                            mayTouch(run.replacements[before].entry, replacement.entry));
    }
    replacement.key =
        encodingKey(replacement.sound, run.rate, samplesOf(replacement.entry), replacement.cut);
    replacement.verdict = touched ? Verdict::encode : verdictBeforeEncoding(run, replacement);
  }
  return std::nullopt;
}

// "effect 2 (135 groups, 0.400 s at 37800 Hz, odd units) in level3.dat from boom.wav".
std::string effectLine(const Run& run, const Replacement& replacement) {
  const auto& entry = replacement.entry;
  char units[64];
  std::snprintf(units, sizeof units, " at %" PRIu32 " Hz, %s units) in ", run.rate,
                entry.unitSelector == 0 ? "even" : "odd");
  return "effect " + replacement.item.indexText + " (" +
         counted(static_cast<std::uint64_t>(entry.groupCount), "group") + ", " +
         secondsOf(samplesOf(entry), run.rate) + units + run.level.path + " from " +
         replacement.item.wavPath;
}

// "boom.wav: 44100 Hz, resampled to 37800 Hz", for a sound at another rate than the effect's.
std::string resampledLine(const Run& run, const Replacement& replacement) {
  if (!replacement.resampled) {
    return "";
  }
  return std::string(replacement.item.wavPath) + ": " +
         std::to_string(replacement.sound.layout.sampleRate) + " Hz, resampled to " +
         std::to_string(run.rate) + " Hz\n";
}

// The lines that say what becomes of one sound.
std::string verdictLine(const Run& run, const Replacement& replacement) {
  const auto& item = replacement.item;
  auto leftAsItIs = "; effect " + item.indexText + " left as it is\n";
  switch (replacement.verdict) {
  case Verdict::unchanged:
    return std::string(item.wavPath) + ": Unchanged" + leftAsItIs;
  case Verdict::alreadyIn:
    return std::string(item.wavPath) + ": Already in the level" + leftAsItIs +
           resampledLine(run, replacement);
  case Verdict::encode:
  case Verdict::replaced:
    break;
  }
  auto line = (run.dryRun ? "Would replace " : "Replacing ") + effectLine(run, replacement) +
              (run.dryRun ? "\n" : "...\n") + resampledLine(run, replacement);
  if (replacement.cut) {
    line += std::string(item.wavPath) + ": Kept the first " +
            secondsOf(samplesOf(replacement.entry), run.rate) + " of " +
            secondsOf(replacement.length, run.rate) + "\n";
  }
  return line;
}

// Encodes every sound still to be encoded, on the run's threads, each into `units`, and
// remembers the encodings.
Outcome encodeSounds(Run& run, std::vector<std::vector<SoundUnit>>& units) {
  std::vector<Replacement*> encoded;
  for (auto& replacement : run.replacements) {
    if (replacement.verdict == Verdict::encode) {
      auto& sound = replacement.sound;
      sound.samples = samplesForEffect(sound, run.rate, samplesOf(replacement.entry));
      encoded.push_back(&replacement);
    }
  }
  std::vector<EncodeJob> jobs(encoded.size());
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    jobs[k].samples = encoded[k]->sound.samples;
    jobs[k].name = "effect " + encoded[k]->item.indexText;
  }
  auto progress = isTerminal(run.console.err) ? run.console.err : nullptr;
  // Ctrl+C ends the progress line with what became of the level file.
  auto note = "Interrupted; " + std::string(run.level.path) + " as it was";
  auto clear = note.size() < progressWidth ? progressWidth - note.size() : 0;
  setInterruptNote(progress, "\r" + note + std::string(clear, ' ') + "\n");
  auto problem = encodeJobs(jobs, run.jobs, progress, "lvlsnd-replace");
  setInterruptNote(nullptr, "");
  if (problem) {
    return problem;
  }
  units.resize(run.replacements.size());
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    rememberEncoding(run.cache, encoded[k]->key, digestOfUnits(jobs[k].units));
    units[static_cast<std::size_t>(encoded[k] - run.replacements.data())] =
        std::move(jobs[k].units);
  }
  return std::nullopt;
}

// Puts each encoded sound into its entry's groups, in the order given, as runs one at a time
// would: a sound whose entry holds its samples by now, or holds its encoding already, is left
// out.
void putSoundsIn(Run& run, const std::vector<std::vector<SoundUnit>>& units) {
  for (std::size_t k = 0; k < run.replacements.size(); ++k) {
    auto& replacement = run.replacements[k];
    if (replacement.verdict != Verdict::encode) {
      continue;
    }
    auto groups = groupsOf(run.changed, replacement.entry);
    if (holdsEntrySamples(replacement, groups)) {
      replacement.verdict = Verdict::unchanged;
      continue;
    }
    auto stored = groups;
    for (std::size_t g = 0; g < stored.size(); ++g) {
      auto groupUnits = std::span(units[k]).subspan(g * unitsPerEffectGroup);
      storeUnits(stored[g], replacement.entry.unitSelector,
                 groupUnits.first<unitsPerEffectGroup>());
    }
    if (stored == groups) {
      replacement.verdict = Verdict::alreadyIn;
      continue;
    }
    putGroups(run.changed, replacement.entry, stored);
    replacement.verdict = Verdict::replaced;
  }
}

// "Replaced 2 effects of level3.dat; 1 unchanged", or what a dry run would do.
std::string summaryLine(const Run& run) {
  std::uint64_t replaced = 0;
  std::uint64_t unchanged = 0;
  for (const auto& replacement : run.replacements) {
    replaced += replacement.verdict == Verdict::replaced ? 1 : 0;
    unchanged += replacement.verdict == Verdict::replaced ? 0 : 1;
  }
  auto line = std::string(run.dryRun ? "Would replace " : "Replaced ") +
              counted(replaced, "effect") + " of " + run.level.path;
  if (run.level.outPath != nullptr) {
    line += std::string(run.dryRun ? ", writing " : ", written to ") + run.level.outPath;
  }
  if (unchanged > 0) {
    line += "; " + std::to_string(unchanged) + " unchanged";
  }
  return line + "\n";
}

// Writes the preview of one changed entry: its samples as the level will hold them, decoded as
// lvlsnd-wav decodes them, as a WAV file at the run's rate.
Outcome writePreview(const Run& run, const Replacement& replacement,
                     std::span<const FileIdentity> inputs) {
  std::size_t index = 0;
  readDecimal(replacement.item.indexText, index);
  auto path = std::string(run.previewFolder) + "/effect" + std::to_string(run.levelNumber) + "_" +
              std::to_string(index) + ".wav";
  auto samples =
      decodedSamples(groupsOf(run.changed, replacement.entry), replacement.entry.unitSelector);
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    putU16le(bytes.data() + 2 * k, static_cast<std::uint16_t>(samples[k]));
  }
  auto header = monoWavHeader(run.rate, static_cast<std::uint32_t>(bytes.size()));
  std::fprintf(run.console.out, "Previewing effect %s in %s\n", replacement.item.indexText.c_str(),
               path.c_str());
  FileUpdate preview;
  if (auto problem = preview.begin(path, {.avoid = inputs})) {
    return problem;
  }
  if (preview.write(header.data(), header.size())) {
    preview.write(bytes.data(), bytes.size());
  }
  return preview.commit();
}

// Writes the preview of every entry the run changes into its preview folder, made when missing,
// none over the level file or a WAV file of the run.
Outcome writePreviews(const Run& run) {
  if (run.previewFolder == nullptr) {
    return std::nullopt;
  }
  if (auto made = makeFolder(run.previewFolder); made.failed()) {
    return systemProblem(run.previewFolder, "Cannot create", made.error);
  }
  std::vector<FileIdentity> inputs = {identityOf(run.level.path)};
  if (run.level.outPath != nullptr) {
    inputs.push_back(identityOf(run.level.outPath));
  }
  for (const auto& replacement : run.replacements) {
    inputs.push_back(identityOf(replacement.item.wavPath));
  }
  for (const auto& replacement : run.replacements) {
    if (replacement.verdict != Verdict::replaced) {
      continue;
    }
    if (auto problem = writePreview(run, replacement, inputs)) {
      return problem;
    }
  }
  return std::nullopt;
}

// Whether the run changes the level file: any sound replaced, or OUT asked for.
bool writesLevel(const Run& run) {
  for (const auto& replacement : run.replacements) {
    if (replacement.verdict == Verdict::replaced) {
      return true;
    }
  }
  return run.level.outPath != nullptr;
}

// Everything a run does once its level file is open and locked; false after a complaint.
bool replaceEffects(Run& run) {
  Outcome problem = readLevelTable(run.level);
  if (problem) {
    complain(run.console, *problem);
    return false;
  }
  // After a refusal, the batch's last line says what became of it.
  auto nothingWritten = [&] {
    std::fprintf(run.console.err, "Nothing written; %s as it was\n", run.level.path);
    return false;
  };
  if (!checkAll(run)) {
    return nothingWritten();
  }
  std::vector<std::vector<SoundUnit>> units;
  if ((problem = planEncodes(run)) || (problem = encodeSounds(run, units))) {
    complain(run.console, *problem);
    return nothingWritten();
  }
  putSoundsIn(run, units);
  for (const auto& replacement : run.replacements) {
    std::fputs(verdictLine(run, replacement).c_str(), run.console.out);
  }
  if ((problem = writePreviews(run))) {
    complain(run.console, *problem);
    return false;
  }
  if (!run.dryRun && writesLevel(run) && (problem = writeLevel(run.level, run.changed))) {
    complain(run.console, *problem);
    return false;
  }
  std::fputs(summaryLine(run).c_str(), run.console.out);
  return true;
}

// The usage problem of a preview folder that holds a WAV file of the run, whose preview would
// take its name, or of which the system cannot tell.
Outcome problemOfPreviewFolder(const char* folder, const std::vector<SoundItem>& items) {
  auto previews = identityOf(folder);
  for (const auto& item : items) {
    auto holder = folderOf(item.wavPath);
    if (compareFiles(previews, identityOf(holder.c_str())) != Sameness::different) {
      return usageProblem(std::string("--preview ") + folder + " holds " + item.wavPath +
                          ", a WAV file of this run; give a folder of its own");
    }
  }
  return std::nullopt;
}

// Whether the file `path` starts as a WAV file does; false too when it cannot be read.
bool isWavFile(const char* path) {
  auto [file, error] = openInput(path);
  if (error != 0) {
    return false;
  }
  std::array<std::uint8_t, 12> start{};
  auto source = fileSource(file);
  auto read = readAt(source, 0, start);
  std::fclose(file);
  return startsLikeWav(std::span(start).first(read.got));
}

// Puts LEVEL first among operands given with no INDEX, as Explorer hands files dropped onto
// the program over, in any order: the one operand that is not a WAV file by its content. The
// usage problem of operands whose first is a WAV file all the same.
Outcome putLevelFirst(std::vector<const char*>& operands) {
  bool anyIndex =
      std::ranges::any_of(operands, [](const char* operand) { return isIndex(operand); });
  if (anyIndex || operands.empty()) {
    return std::nullopt;
  }
  std::vector<bool> wav;
  for (const char* operand : operands) {
    wav.push_back(isWavFile(operand));
  }
  if (std::ranges::count(wav, false) == 1) {
    auto level = static_cast<std::size_t>(std::ranges::find(wav, false) - wav.begin());
    std::rotate(operands.begin(), operands.begin() + static_cast<std::ptrdiff_t>(level),
                operands.begin() + static_cast<std::ptrdiff_t>(level) + 1);
    return std::nullopt;
  }
  if (wav[0]) {
    return usageProblem(std::string(operands[0]) +
                        " is a WAV file, not a level file; the order is LEVEL, then the WAV files");
  }
  return std::nullopt;
}

// Reads -j or --jobs into `jobs` (left at the number of processor cores when not given); a bad
// value becomes the command line's problem.
void readJobsOption(CommandLine& line, const char* value, std::size_t& jobs) {
  jobs = std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
  if (!line.problem && value != nullptr &&
      !(readDecimal(std::string_view(value), jobs) && jobs >= 1 && jobs <= mostJobs)) {
    line.problem = usageProblem("the number of jobs must be an integer from 1 to " +
                                std::to_string(mostJobs) + ", not '" + value + "'");
  }
}

} // namespace

int lvlsndReplaceMain(int argc, const char* const* argv, Console console) {
  FoldersOfRun folders;
  Run run;
  run.console = console;
  const char* rate = nullptr;
  const char* jobs = nullptr;
  const Option options[] = {{{"-o"}, &run.level.outPath},
                            {{"--rate"}, &rate},
                            {{"-j", "--jobs"}, &jobs},
                            {{"--preview"}, &run.previewFolder},
                            {{"--cut"}, nullptr, &run.cut},
                            {{"-n", "--dry-run"}, nullptr, &run.dryRun},
                            {{"-f", "--force"}, nullptr, &run.level.force}};
  auto line = readCommandLine(argc, argv, options);
  readRateOption(line, rate, run.rate);
  readJobsOption(line, jobs, run.jobs);
  SoundItems items;
  auto misplaced = putLevelFirst(line.operands);
  if (misplaced) {
    noteOperandProblem(line, misplaced);
  } else if (line.operands.empty()) {
    noteOperandProblem(line, usageProblem("LEVEL and at least one INDEX SOUND.wav or "
                                          "effectN_M.wav are needed"));
  } else {
    items = readSoundItems(line.operands[0], std::span(line.operands).subspan(1));
    noteOperandProblem(line, items.problem);
  }
  if (run.previewFolder != nullptr && !line.problem) {
    noteOperandProblem(line, problemOfPreviewFolder(run.previewFolder, items.items));
  }
  if (auto status = answerCommandLine(line, "lvlsnd-replace", usageText, console)) {
    if (line.version) {
      std::fprintf(console.out, "encoder instructions: %s\n", searchInstructionsName());
    }
    return *status;
  }
  run.level.path = line.operands[0];
  run.levelNumber = levelNumberFromPath(run.level.path);
  run.cache = encodingCacheOfEnvironment();
  for (const auto& item : items.items) {
    run.replacements.push_back({item, {}, {}});
  }
  bool done = false;
  if (auto problem = openLevelFile(run.level)) {
    complain(console, *problem);
  } else {
    done = replaceEffects(run);
  }
  closeLevel(run.level);
  return done ? exitDone : exitComplaint;
}

} // namespace lvlsnd
