#include "wav_tool.hpp"

#include "command_line.hpp"
#include "effect_names.hpp"
#include "file_update.hpp"
#include "files.hpp"
#include "inputs.hpp"
#include "paths.hpp"
#include "sound_encoding.hpp"
#include "wav.hpp"
#include "wav_page.hpp"
#include "xa_adpcm.hpp"
#include "xa_encoder.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string_view>
#include <vector>

namespace lvlsnd {

std::string wavNameFor(const std::string& effectPath) {
  std::string_view extension = ".raw";
  bool isRaw = endsInAnyCase(effectPath, extension);
  return effectPath.substr(0, effectPath.size() - (isRaw ? extension.size() : 0)) + ".wav";
}

namespace {

constexpr const char* usageText =
    "Usage: lvlsnd-wav [--rate HZ] [--page PAGE.html] [--force] FILE...\n"
    "Function: Converts lvlsnd effect files to WAV files\n"
    "Each effect file FILE.raw is written to FILE.wav beside it\n"
    "  --rate HZ   sample rate written into the WAV files, 1000 to 192000 (default 37800)\n"
    "  --page PAGE.html  also write a page that shows and plays every file converted\n"
    "  -f, --force replace a WAV file even when it holds other samples (an edit)\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

constexpr std::uint64_t wavBytesPerGroup = 2 * samplesPerEffectGroup;

constexpr const char* keptEdit =
    "Exists and holds other samples (an edit?); give --force to replace it";

// The next step for an edit the level does not hold: "An edit not in the level yet;
// lvlsnd-replace LEVEL effect3_2.wav puts it back, --force replaces it" (with INDEX before a WAV
// file named otherwise).
std::string editNotInLevel(const std::string& wavName) {
  std::string index = effectNameOf(wavName, ".wav") ? "" : "INDEX ";
  return "An edit not in the level yet; lvlsnd-replace LEVEL " + index + wavName +
         " puts it back, --force replaces it";
}

// Effect files go through these fixed buffers a chunk of groups at a time.
struct ConversionBuffers {
  std::vector<RawGroup> groups = std::vector<RawGroup>(groupsPerChunk);
  std::vector<std::int16_t> samples =
      std::vector<std::int16_t>(groupsPerChunk * samplesPerEffectGroup);
  std::vector<std::uint8_t> wavBytes = std::vector<std::uint8_t>(groupsPerChunk * wavBytesPerGroup);
  std::vector<std::uint8_t> existingBytes =
      std::vector<std::uint8_t>(groupsPerChunk * wavBytesPerGroup);
};

// A WAV file already under the name being written: its samples are compared with the effect's,
// so that an edit is not replaced unasked.
struct ExistingWav {
  std::string name;
  std::FILE* file = nullptr; // null when there is none to compare with
  ByteSource source;
  WavLayout layout;
  bool sameSamples = true; // so far
};

// Opens the WAV file the update found, for the comparison, when there is one. It holds the
// effect's own samples only as lvlsnd-wav writes them: 16-bit mono PCM, the very sample bytes
// (the rate alone may differ); anything else is other samples. The problem when the system
// cannot tell.
Outcome openExistingWav(const FileUpdate& wav, const std::string& path, std::uint64_t groupCount,
                        ExistingWav& existing) {
  existing.name = path;
  if (wav.found().kind == IdentityKind::none) {
    return std::nullopt;
  }
  bool changed = false;
  auto opened = wav.openFound(changed);
  if (changed) {
    existing.sameSamples = false; // saved meanwhile: an edit
    return std::nullopt;
  }
  if (opened.failed()) {
    return systemProblem(path, "Cannot read", opened.error);
  }
  existing.file = opened.value;
  existing.source = fileSource(existing.file);
  auto problem = readWavLayout(existing.source, existing.layout);
  if (problem && problem->systemFailed) {
    problem->name = path;
    return problem;
  }
  existing.sameSamples =
      !problem && isEffectWavLayout(existing.layout, groupCount * samplesPerEffectGroup);
  return std::nullopt;
}

void closeExistingWav(ExistingWav& existing) {
  if (existing.file != nullptr) {
    std::fclose(existing.file);
    existing.file = nullptr;
  }
}

// Whether the existing WAV file, of lvlsnd-wav's own layout, holds `bytes` (the samples about to
// be written) from frame `first` on: one read and a comparison of bytes, so that a run over WAV
// files it wrote before costs little more than a first run. The problem when it cannot be read;
// a file cut meanwhile holds other samples.
Outcome compareWithExisting(ExistingWav& existing, std::uint64_t first,
                            std::span<const std::uint8_t> bytes, std::span<std::uint8_t> buffer) {
  auto held = buffer.first(bytes.size());
  auto offset = existing.layout.dataStart + static_cast<std::int64_t>(2 * first);
  auto read = readAt(existing.source, offset, held);
  if (read.failed) {
    return systemProblem(existing.name, "Cannot read", read.error);
  }
  existing.sameSamples =
      read.got == held.size() && std::memcmp(held.data(), bytes.data(), held.size()) == 0;
  return std::nullopt;
}

// One effect file being converted: where its bytes come from, its name and its WAV file's, as
// typed, and how many whole groups it holds.
struct Effect {
  ByteSource& source;
  std::string name;
  std::string wavName;
  std::uint64_t groupCount = 0;
};

Problem notAnEffectFile(const std::string& name, std::uint64_t group) {
  return {name,
          "Not an effect file (group " + std::to_string(group) +
              " is not an XA sound group); lvlsnd extracts effect files from a level file",
          ""};
}

// Reads groups `first` on into all of `groups`. A file that ends before them got shorter while
// it was read: its size said it held them.
Outcome readGroups(Effect& effect, std::uint64_t first, std::span<RawGroup> groups) {
  auto bytes = std::as_writable_bytes(groups);
  auto read = readAt(effect.source, static_cast<std::int64_t>(first * rawGroupSize),
                     {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
  if (read.failed) {
    return systemProblem(effect.name, "Cannot read", read.error);
  }
  if (read.got != bytes.size()) {
    return Problem{effect.name, "Cannot read", "it got shorter while it was read"};
  }
  return std::nullopt;
}

// Decodes the chunk's groups into `buffers.samples`; the problem of a group that is no XA sound
// group.
Outcome decodeChunk(const Effect& effect, std::uint64_t first, std::size_t count,
                    ConversionBuffers& buffers, PredictorState& state) {
  for (std::size_t k = 0; k < count; ++k) {
    if (!isXaSoundGroup(buffers.groups[k])) {
      return notAnEffectFile(effect.name, first + k + 1);
    }
    auto samples = std::span(buffers.samples).subspan(k * samplesPerEffectGroup);
    decodeEffectGroup(buffers.groups[k], state, samples.first<samplesPerEffectGroup>());
  }
  return std::nullopt;
}

// The header of the WAV file of the effect's groups.
std::array<std::uint8_t, wavHeaderSize> wavHeaderOf(const Effect& effect, std::uint32_t rate) {
  return monoWavHeader(rate, static_cast<std::uint32_t>(effect.groupCount * wavBytesPerGroup));
}

// Decodes the effect's groups into `summary` when there is one, and compares them with
// `existing` while it holds the same; with no existing WAV file to compare with, writes them
// into `wav`, after the header.
Outcome decodeGroups(Effect& effect, FileUpdate& wav, std::uint32_t rate,
                     ConversionBuffers& buffers, EffectSummary* summary, ExistingWav& existing) {
  bool writing = existing.file == nullptr;
  auto header = wavHeaderOf(effect, rate);
  if (writing && !wav.write(header.data(), header.size())) {
    return wav.commit();
  }
  PredictorState state;
  for (std::uint64_t done = 0; done < effect.groupCount;) {
    auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(effect.groupCount - done, groupsPerChunk));
    auto problem = readGroups(effect, done, std::span(buffers.groups).first(count));
    if (!problem) {
      problem = decodeChunk(effect, done, count, buffers, state);
    }
    if (problem) {
      return problem;
    }
    auto decoded = std::span(buffers.samples).first(count * samplesPerEffectGroup);
    for (std::size_t n = 0; n < decoded.size(); ++n) {
      putU16le(buffers.wavBytes.data() + 2 * n, static_cast<std::uint16_t>(decoded[n]));
    }
    if (summary != nullptr) {
      summarize(*summary, decoded);
    }
    auto bytes = std::span(buffers.wavBytes).first(count * wavBytesPerGroup);
    if (!writing && existing.sameSamples) {
      problem =
          compareWithExisting(existing, done * samplesPerEffectGroup, bytes, buffers.existingBytes);
      if (problem) {
        return problem;
      }
    }
    if (writing && !wav.write(bytes.data(), bytes.size())) {
      return wav.commit(); // which gives the write's problem
    }
    done += count;
  }
  return std::nullopt;
}

// Whether the existing WAV file, holding the effect's samples, is byte for byte the file about
// to be written: `header`, then the samples, then nothing. The problem when it cannot be read.
Outcome isWrittenAlready(ExistingWav& existing, std::span<const std::uint8_t> header,
                         std::uint64_t dataBytes, bool& written) {
  std::array<std::uint8_t, wavHeaderSize> held{};
  auto read = readAt(existing.source, 0, held);
  if (read.failed) {
    return systemProblem(existing.name, "Cannot read", read.error);
  }
  auto size = fileSize(existing.file);
  written = !size.failed() && static_cast<std::uint64_t>(size.value) == header.size() + dataBytes &&
            read.got == held.size() && std::equal(held.begin(), held.end(), header.begin());
  return std::nullopt;
}

// Writes the WAV file as `header` and the existing file's samples, which are the effect's own:
// the same samples under another rate, or without another program's chunks.
Outcome writeFromExisting(ExistingWav& existing, std::span<const std::uint8_t> header,
                          std::uint64_t dataBytes, FileUpdate& wav,
                          std::span<std::uint8_t> buffer) {
  if (!wav.write(header.data(), header.size())) {
    return wav.commit();
  }
  for (std::uint64_t done = 0; done < dataBytes;) {
    auto chunk = buffer.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(dataBytes - done, buffer.size())));
    auto read =
        readAt(existing.source, existing.layout.dataStart + static_cast<std::int64_t>(done), chunk);
    if (read.failed || read.got != chunk.size()) {
      return read.failed
                 ? systemProblem(existing.name, "Cannot read", read.error)
                 : Problem{existing.name, "Cannot read", "it got shorter while it was read"};
    }
    if (!wav.write(chunk.data(), chunk.size())) {
      return wav.commit();
    }
    done += chunk.size();
  }
  return std::nullopt;
}

// The digest of the effect file's whole groups, read a chunk at a time.
Outcome digestOfEffect(Effect& effect, ConversionBuffers& buffers, Digest& digest) {
  DigestStream stream;
  for (std::uint64_t done = 0; done < effect.groupCount;) {
    auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(effect.groupCount - done, groupsPerChunk));
    auto groups = std::span(buffers.groups).first(count);
    if (auto problem = readGroups(effect, done, groups)) {
      return problem;
    }
    stream.add({reinterpret_cast<const std::uint8_t*>(groups.data()), groups.size_bytes()});
    done += count;
  }
  digest = stream.digest();
  return std::nullopt;
}

// What putting an edited WAV file back would do: refused (it is no WAV file lvlsnd-replace takes),
// or not, and then whether the effect file is what it makes.
enum class EditState { refused, notInLevel, inLevel };

// What putting the existing WAV file back would do: its sound read and encoded as lvlsnd-replace
// does at `rate`, cut to the effect's length, or its encoding taken from the cache. The problem
// when a file cannot be read.
Outcome stateOfEdit(Effect& effect, ExistingWav& existing, std::uint32_t rate,
                    ConversionBuffers& buffers, const EncodingCache& cache, EditState& state) {
  state = EditState::refused;
  if (effect.groupCount == 0) {
    return std::nullopt; // an entry of no stored groups takes no sound
  }
  auto effectSamples = effect.groupCount * samplesPerEffectGroup;
  WavSound sound;
  if (auto problem = readSoundFor(existing.source, effectSamples, rate, sound)) {
    problem->name = existing.name;
    return problem->systemFailed ? problem : std::nullopt;
  }
  if (!takesRate(sound.layout.sampleRate)) {
    return std::nullopt;
  }
  Digest effectDigest{};
  if (auto problem = digestOfEffect(effect, buffers, effectDigest)) {
    return problem;
  }
  auto key = encodingKey(sound, rate, effectSamples, lengthAtRate(sound, rate) > effectSamples);
  auto units = rememberedEncoding(cache, key);
  if (!units) {
    units = digestOfUnits(encodeUnits(samplesForEffect(sound, rate, effectSamples)));
    rememberEncoding(cache, key, *units);
  }
  state = *units == effectDigest ? EditState::inLevel : EditState::notInLevel;
  return std::nullopt;
}

// Puts the effect's WAV file in place once its samples are known to be the existing file's, or
// there is none: from the existing file (nothing at all when it is the very file), else as
// decoded.
Outcome finishWavFile(Effect& effect, FileUpdate& wav, std::uint32_t rate,
                      ConversionBuffers& buffers, ExistingWav& existing) {
  if (existing.file != nullptr) {
    auto header = wavHeaderOf(effect, rate);
    auto dataBytes = effect.groupCount * wavBytesPerGroup;
    bool written = false;
    auto problem = isWrittenAlready(existing, header, dataBytes, written);
    if (!problem && !written) {
      problem = writeFromExisting(existing, header, dataBytes, wav, buffers.existingBytes);
    }
    if (problem || written) {
      return problem;
    }
  }
  closeExistingWav(existing); // Windows replaces no open file
  return wav.commit();
}

// The page of the files converted, written as they are: its update, and how many rows it has.
struct Page {
  const char* path = nullptr; // null: no page was asked for
  std::string folder;         // the absolute folder it goes in
  FileUpdate update;
  std::string level; // of every effect file, when they are of one level
  std::size_t rows = 0;
  bool started = false;
  Outcome problem; // what spoiled it on the way: it is then not written
  // The folder beside the page where the effects of edited rows are written as the level holds
  // them, for their second player: no glob of WAV files beside the page takes them for edits.
  std::string levelFolder;
  std::vector<std::string> levelNames; // the names given there so far
};

bool writingPage(const Page& page) {
  return page.update.state() == UpdateState::begun;
}

// A failed write spoils the update, which then refuses to be committed.
void writeToPage(Page& page, const std::string& text) {
  page.update.write(text.data(), text.size());
}

// What one run converts: the rate, whether edits may be replaced, the page, and the effect
// files of the run, which no WAV file may be written over.
struct Conversion {
  std::uint32_t rate = defaultEffectRate;
  bool force = false;
  EncodingCache cache;
  Page page;
  std::vector<RunInput> inputs;
  ConversionBuffers buffers;
};

// Writes `made` to the page, or notes why it could not be made.
void writeMadeText(Page& page, const PageText& made) {
  if (made.error == 0) {
    writeToPage(page, made.text);
  } else if (!page.problem) {
    page.problem = systemProblem(page.path, "Cannot write", made.error);
  }
}

// Adds the effect's row to the page, after its heading when it is the first.
void addToPage(Page& page, const EffectSummary& summary, std::uint32_t rate) {
  if (!page.started) {
    writeMadeText(page, pageStart(summary.effectPath, page.level, rate));
    page.started = true;
  }
  writeMadeText(page, pageRow(summary, page.folder, rate));
  ++page.rows;
}

// The folder of the page's level sounds: "effects-in-level" beside "effects.html".
std::string levelFolderOf(const std::string& pagePath) {
  auto name = lastNameOf(pagePath);
  return folderOf(pagePath) + "/" + name.substr(0, name.rfind('.')) + "-in-level";
}

// Writes the effect, decoded as its WAV file would be, into the page's folder of level sounds
// for an edited row, under a name no other row of the page took; `path` is where it went.
Outcome writeLevelSound(Effect& effect, Conversion& conversion, std::string& path) {
  auto& page = conversion.page;
  if (page.levelFolder.empty()) {
    page.levelFolder = levelFolderOf(page.path);
    if (auto made = makeFolder(page.levelFolder.c_str()); made.failed()) {
      return systemProblem(page.levelFolder, "Cannot create", made.error);
    }
  }
  auto name = lastNameOf(effect.wavName);
  for (int taken = 2; std::ranges::count(page.levelNames, name) > 0; ++taken) {
    name = std::to_string(taken) + "-" + lastNameOf(effect.wavName);
  }
  page.levelNames.push_back(name);
  path = page.levelFolder + "/" + name;
  std::vector<FileIdentity> inputs;
  for (const auto& input : conversion.inputs) {
    inputs.push_back(input.identity);
  }
  FileUpdate update;
  if (auto problem = update.begin(path, {.avoid = inputs})) {
    return problem;
  }
  ExistingWav none;
  if (auto problem =
          decodeGroups(effect, update, conversion.rate, conversion.buffers, nullptr, none)) {
    return problem;
  }
  return update.commit();
}

// Why the WAV file's name must not be written: what it held when looked up (`found`) is the
// effect file itself (`identity`) or another of the run, or the system cannot tell.
Outcome problemOfWavName(const Effect& effect, const FileIdentity& identity,
                         const FileIdentity& found, const std::vector<RunInput>& inputs) {
  const RunInput own[] = {{effect.name, identity}};
  auto match = findInput(found, effect.wavName, own);
  if (match.problem || match.index == 0) {
    return match.problem ? match.problem
                         : Problem{effect.wavName, "Cannot create", "it is the effect file"};
  }
  match = findInput(found, effect.wavName, inputs);
  if (match.problem || match.index < inputs.size()) {
    return match.problem
               ? match.problem
               : Problem{effect.wavName, "Cannot create", "it is an effect file of this run"};
  }
  return std::nullopt;
}

// Writes the WAV file for the effect through a file update, so that it is absent, as it was,
// or complete. `identity` is the effect file's, which the WAV file must never replace. An edit
// found under the name is kept, and so is one saved while the effect is converted.
Outcome writeWavFile(Effect& effect, const FileIdentity& identity, Conversion& conversion,
                     Console console) {
  FileUpdate wav;
  auto guard = conversion.force ? UpdateGuard::sameFile : UpdateGuard::unchangedFile;
  if (auto problem = wav.begin(effect.wavName, {.guard = guard})) {
    return problem;
  }
  if (auto problem = problemOfWavName(effect, identity, wav.found(), conversion.inputs)) {
    return problem;
  }
  std::fprintf(console.out, "Converting %s to %s (%s)...\n", effect.name.c_str(),
               effect.wavName.c_str(), counted(effect.groupCount, "group").c_str());
  auto& page = conversion.page;
  EffectSummary summary;
  if (writingPage(page)) {
    summary = startSummary(effect.name, effect.wavName, effect.groupCount,
                           effect.groupCount * samplesPerEffectGroup);
  }
  // With --force nothing is compared: whatever is there goes.
  ExistingWav existing;
  Outcome problem;
  if (!conversion.force) {
    problem = openExistingWav(wav, effect.wavName, effect.groupCount, existing);
  }
  if (!problem) {
    problem = decodeGroups(effect, wav, conversion.rate, conversion.buffers,
                           writingPage(page) ? &summary : nullptr, existing);
  }
  if (!problem && existing.sameSamples) {
    problem = finishWavFile(effect, wav, conversion.rate, conversion.buffers, existing);
  }
  // Other samples are an edit, kept: no complaint when the level holds it already.
  auto edit = EditState::refused;
  if (!problem && !existing.sameSamples && existing.file != nullptr) {
    problem =
        stateOfEdit(effect, existing, conversion.rate, conversion.buffers, conversion.cache, edit);
  }
  closeExistingWav(existing);
  // So is something saved or put under the name meanwhile, which was not looked at.
  bool editKept = !conversion.force && ((!problem && !existing.sameSamples) || wav.targetChanged());
  if (editKept && edit == EditState::inLevel) {
    std::fprintf(console.out, "%s: Your edit, in the level; kept\n", effect.wavName.c_str());
  } else if (editKept) {
    auto what = edit == EditState::notInLevel ? editNotInLevel(effect.wavName) : keptEdit;
    problem = Problem{effect.wavName, what, ""};
  }
  // The page loses nothing: an effect whose edit was kept has its row, marked, with the effect
  // as the level holds it beside the edit.
  if (writingPage(page) && (!problem || editKept)) {
    summary.edited = editKept;
    summary.inLevel = edit == EditState::inLevel;
    if (auto levelProblem =
            editKept ? writeLevelSound(effect, conversion, summary.levelWavPath) : std::nullopt) {
      page.problem = page.problem ? page.problem : levelProblem;
    }
    addToPage(page, summary, conversion.rate);
  }
  return problem;
}

// Why the effect cannot be converted as an effect file, judged by its first group. A WAV file
// or a level file given by mistake would decode to noise.
Outcome problemOfStart(Effect& effect) {
  RawGroup start{};
  auto read = readAt(effect.source, 0, start);
  if (read.failed) {
    return systemProblem(effect.name, "Cannot read", read.error);
  }
  if (startsLikeWav(std::span(start).first(read.got))) {
    return Problem{effect.name, "A WAV file, not an effect file", ""};
  }
  if (read.got == start.size() && !isXaSoundGroup(start)) {
    return notAnEffectFile(effect.name, 1);
  }
  return std::nullopt;
}

// Converts the effect file whose bytes `source` holds, `size` of them, into its WAV file.
Outcome convertEffect(ByteSource& source, std::int64_t size, const std::string& name,
                      const FileIdentity& identity, Conversion& conversion, Console console) {
  Effect effect{source, name, wavNameFor(name), static_cast<std::uint64_t>(size) / rawGroupSize};
  if (effect.groupCount * wavBytesPerGroup > largestWavData) {
    return Problem{name, "Too long for a WAV file", ""};
  }
  auto problem = problemOfStart(effect);
  if (!problem) {
    problem = writeWavFile(effect, identity, conversion, console);
  }
  auto leftOver = static_cast<std::uint64_t>(size) % rawGroupSize;
  if (!problem && leftOver != 0) {
    problem = Problem{
        name, "Left out " + std::to_string(leftOver) + " bytes after the last whole group", ""};
  }
  return problem;
}

// Converts one effect file into a WAV file beside it.
Outcome convertEffectFile(const char* path, Conversion& conversion, Console console) {
  auto opened = openInput(path);
  if (opened.failed()) {
    return systemProblem(path, "Cannot open", opened.error);
  }
  std::FILE* input = opened.value;
  // Only a regular file has a size, and the WAV header is written from it.
  auto size = fileSize(input);
  auto identity = identityOf(input);
  Outcome problem;
  if (size.failed()) {
    problem = sizeProblem(path, size.error);
  } else if (identity.kind != IdentityKind::known) {
    problem = systemProblem(path, "Cannot read", identity.error);
  } else {
    std::setvbuf(input, nullptr, _IONBF, 0); // read in whole chunks
    auto source = fileSource(input);
    problem = convertEffect(source, size.value, path, identity, conversion, console);
  }
  std::fclose(input);
  return problem;
}

// Why the page cannot be written at `path`: a name not ending in .html or .htm, in any case.
Outcome problemOfPageName(const std::string& path) {
  auto lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  if (!lower.ends_with(".html") && !lower.ends_with(".htm")) {
    return Problem{path, "Not a page name; give a name ending in .html", ""};
  }
  return std::nullopt;
}

// Why the page, its name looked up, must not be written: it holds an effect file or a WAV file
// of the run, or the system cannot tell.
Outcome problemOfPageTarget(const Page& page, const std::vector<RunInput>& effects) {
  auto files = effects;
  for (const auto& effect : effects) {
    files.push_back(runInput(wavNameFor(effect.name)));
  }
  auto match = findInput(page.update.found(), page.path, files);
  if (match.problem) {
    return match.problem;
  }
  if (match.index < files.size()) {
    return Problem{page.path, "Not a page name; give a name ending in .html", ""};
  }
  return std::nullopt;
}

// Begins the page, in the folder it goes in: its name looked up once and checked. The problem,
// and whether it is a usage error, when it cannot be begun.
Outcome beginPage(Page& page, const std::vector<RunInput>& effects, bool& usageError) {
  usageError = false;
  if (auto problem = problemOfPageName(page.path)) {
    usageError = true;
    return problem;
  }
  auto folder = absoluteFolderOf(page.path);
  if (folder.failed()) {
    return systemProblem(page.path, "Cannot write", folder.error);
  }
  page.folder = folder.value;
  if (auto problem = page.update.begin(page.path, {})) {
    return problem;
  }
  auto problem = problemOfPageTarget(page, effects);
  usageError = problem && !problem->systemFailed;
  if (problem) {
    page.update.abandon();
  }
  return problem;
}

// Finishes the page of the files converted; a page with no row is not written.
Outcome finishPage(Page& page) {
  if (!writingPage(page)) {
    return std::nullopt; // it could not be begun, which was said then
  }
  if (page.rows == 0) {
    // A page of nothing would replace a good one.
    page.update.abandon();
    return Problem{page.path, "Not written: no effect file was converted", ""};
  }
  writeToPage(page, pageEnd(page.rows));
  if (page.problem) {
    page.update.abandon();
    return page.problem;
  }
  return page.update.commit();
}

// Converts every effect file named, and writes the page when one is asked for. Returns false
// after a complaint.
bool convertAll(const std::vector<const char*>& files, Conversion& conversion, Console console) {
  auto& page = conversion.page;
  bool allConverted = true;
  if (page.path != nullptr) {
    page.level = levelOfEffects(files);
  }
  for (const char* file : inEntryOrder(files)) {
    if (auto problem = convertEffectFile(file, conversion, console)) {
      complain(console, *problem);
      allConverted = false;
    }
  }
  if (auto problem = finishPage(page)) {
    complain(console, *problem);
    allConverted = false;
  }
  return allConverted;
}

} // namespace

Outcome convertEffectBytes(std::span<const std::uint8_t> bytes, const std::string& name,
                           std::uint32_t rate, Console console) {
  FoldersOfRun folders;
  Conversion conversion;
  conversion.rate = rate;
  auto source = memorySource(bytes);
  // Bytes in memory are no file a WAV file could be written over.
  FileIdentity none{IdentityKind::none};
  return convertEffect(source, std::ssize(bytes), name, none, conversion, console);
}

int lvlsndWavMain(int argc, const char* const* argv, Console console) {
  FoldersOfRun folders;
  Conversion conversion;
  const char* rate = nullptr;
  const Option options[] = {{{"--rate"}, &rate},
                            {{"--page"}, &conversion.page.path},
                            {{"-f", "--force"}, nullptr, &conversion.force}};
  auto line = readCommandLine(argc, argv, options);
  conversion.cache = encodingCacheOfEnvironment();
  readRateOption(line, rate, conversion.rate);
  if (line.operands.empty()) {
    noteOperandProblem(line, usageProblem("no effect file given"));
  }
  if (auto status = answerCommandLine(line, "lvlsnd-wav", usageText, console)) {
    return *status;
  }
  for (const char* file : line.operands) {
    conversion.inputs.push_back(runInput(file));
  }
  // A page that cannot be begun, or whose name cannot be told from the run's files, stops the
  // run before anything is converted.
  if (conversion.page.path != nullptr) {
    bool usageError = false;
    if (auto problem = beginPage(conversion.page, conversion.inputs, usageError)) {
      complain(console, *problem);
      return usageError ? exitUsage : exitComplaint;
    }
  }
  return convertAll(line.operands, conversion, console) ? exitDone : exitComplaint;
}

} // namespace lvlsnd
