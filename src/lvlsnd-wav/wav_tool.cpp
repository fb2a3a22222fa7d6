#include "wav_tool.hpp"

#include "command_line.hpp"
#include "wav.hpp"
#include "wav_page.hpp"
#include "xa_adpcm.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string_view>
#include <vector>

std::string wavNameFor(const std::string& effectPath) {
  std::string_view extension = ".raw";
  bool isRaw = effectPath.size() >= extension.size() &&
               std::equal(extension.begin(), extension.end(),
                          effectPath.end() - static_cast<std::ptrdiff_t>(extension.size()),
                          [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
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

// Effect files go through these fixed buffers a chunk of groups at a time.
struct ConversionBuffers {
  std::vector<RawGroup> groups = std::vector<RawGroup>(groupsPerChunk);
  std::vector<std::int16_t> samples =
      std::vector<std::int16_t>(groupsPerChunk * samplesPerEffectGroup);
  std::vector<std::int16_t> existingSamples =
      std::vector<std::int16_t>(groupsPerChunk * samplesPerEffectGroup);
  std::vector<std::uint8_t> wavBytes = std::vector<std::uint8_t>(groupsPerChunk * wavBytesPerGroup);
};

// A WAV file already under the name being written: its samples are compared with the effect's,
// so that an edit is not replaced unasked.
struct ExistingWav {
  std::FILE* file = nullptr; // null when there is none to compare with
  ByteSource source;
  WavLayout layout;
  bool sameSamples = true; // so far
};

// Opens the WAV file at `path` for the comparison, when it exists.
ExistingWav openExistingWav(const std::string& path, std::uint64_t groupCount) {
  ExistingWav existing;
  if (kindOfName(path.c_str(), true) != NameKind::regularFile) {
    return existing;
  }
  existing.file = openInput(path.c_str());
  existing.sameSamples = existing.file != nullptr;
  if (existing.file != nullptr) {
    existing.source = fileSource(existing.file);
    existing.sameSamples = readWavLayout(existing.source, existing.layout).empty() &&
                           existing.layout.frames == groupCount * samplesPerEffectGroup;
  }
  return existing;
}

// Whether the existing WAV file holds `samples` from frame `first` on; anything it cannot show
// counts as other samples.
bool holdsSamples(ExistingWav& existing, std::uint64_t first, std::span<const std::int16_t> samples,
                  std::span<std::int16_t> buffer) {
  auto held = buffer.first(samples.size());
  return readWavFrames(existing.source, existing.layout, first, held).empty() &&
         std::equal(held.begin(), held.end(), samples.begin());
}

// How a conversion ended: its transfer, and the first group (from 1) that is no XA sound group.
struct Decoding {
  Transfer transfer = Transfer::done;
  std::uint64_t strangeGroup = 0;
};

// Writes the WAV header, then decodes `groupCount` raw groups from `input` into `output`, into
// `summary` when there is one, and compares them with `existing` while it holds the same.
Decoding decodeGroups(std::FILE* input, std::FILE* output, std::uint64_t groupCount,
                      std::uint32_t rate, ConversionBuffers& buffers, EffectSummary* summary,
                      ExistingWav& existing) {
  auto header = monoWavHeader(rate, static_cast<std::uint32_t>(groupCount * wavBytesPerGroup));
  if (std::fwrite(header.data(), 1, header.size(), output) != header.size()) {
    return {Transfer::writeFailed};
  }
  PredictorState state;
  for (std::uint64_t done = 0; done < groupCount;) {
    auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(groupCount - done, groupsPerChunk));
    if (std::fread(buffers.groups.data(), rawGroupSize, count, input) != count) {
      return {Transfer::readFailed};
    }
    for (std::size_t k = 0; k < count; ++k) {
      if (!isXaSoundGroup(buffers.groups[k])) {
        return {Transfer::done, done + k + 1};
      }
      auto samples = std::span(buffers.samples).subspan(k * samplesPerEffectGroup);
      decodeEffectGroup(buffers.groups[k], state, samples.first<samplesPerEffectGroup>());
    }
    auto decoded = std::span(buffers.samples).first(count * samplesPerEffectGroup);
    for (std::size_t n = 0; n < decoded.size(); ++n) {
      putU16le(buffers.wavBytes.data() + 2 * n, static_cast<std::uint16_t>(decoded[n]));
    }
    if (summary != nullptr) {
      summarize(*summary, decoded);
    }
    if (existing.file != nullptr && existing.sameSamples) {
      existing.sameSamples =
          holdsSamples(existing, done * samplesPerEffectGroup, decoded, buffers.existingSamples);
    }
    if (std::fwrite(buffers.wavBytes.data(), wavBytesPerGroup, count, output) != count) {
      return {Transfer::writeFailed};
    }
    done += count;
  }
  return {};
}

// The page of the files converted, written as they are: its update, and how many rows it has.
struct Page {
  const char* path = nullptr; // null: no page was asked for
  FileUpdate update;
  std::string level; // of every effect file, when they are of one level
  std::size_t rows = 0;
  bool started = false;
  bool written = true; // every write so far; the update's failure says why one did not
};

void writeToPage(Page& page, const std::string& text) {
  if (page.written && std::fwrite(text.data(), 1, text.size(), page.update.file) != text.size()) {
    page.written = false;
    page.update.failure = reasonOf(errno);
  }
}

// What one run converts: the rate, whether edits may be replaced, and the page.
struct Conversion {
  std::uint32_t rate = defaultEffectRate;
  bool force = false;
  Page page;
  ConversionBuffers buffers;
};

// The refusal of a finished decoding that must not become the WAV file; "" when it may.
std::string refusalOf(const Decoding& decoding, const ExistingWav& existing, bool force) {
  if (decoding.strangeGroup != 0) {
    return "Not an effect file (group " + std::to_string(decoding.strangeGroup) +
           " is not an XA sound group); lvlsnd extracts effect files from a level file";
  }
  if (!existing.sameSamples && !force) {
    return "Exists and holds other samples (an edit?); give --force to replace it";
  }
  return "";
}

// Writes the WAV file for the open effect file through a file update, so that it is absent, as
// it was, or complete. Returns false after a complaint.
bool writeWavFile(std::FILE* input, const char* inputPath, std::uint64_t groupCount,
                  Conversion& conversion, Console console) {
  auto outputPath = wavNameFor(inputPath);
  // Never written over the effect file itself, whatever link leads there.
  if (sameFile(identityOf(outputPath.c_str()), identityOf(input))) {
    complain(console, outputPath, "Cannot create (it is the effect file)");
    return false;
  }
  auto update = beginUpdate(outputPath, UpdateKind::remakeable);
  if (update.file == nullptr) {
    complain(console, outputPath, withReason("Cannot create", update.failure));
    return false;
  }
  std::setvbuf(update.file, nullptr, _IONBF, 0);
  std::fprintf(console.out, "Converting %s to %s (%" PRIu64 " groups)...\n", inputPath,
               outputPath.c_str(), groupCount);
  auto& page = conversion.page;
  EffectSummary summary;
  if (page.update.file != nullptr) {
    summary = startSummary(inputPath, outputPath, groupCount, groupCount * samplesPerEffectGroup);
  }
  // With --force nothing is compared: whatever is there goes.
  auto existing = conversion.force ? ExistingWav{} : openExistingWav(outputPath, groupCount);
  auto decoding = decodeGroups(input, update.file, groupCount, conversion.rate, conversion.buffers,
                               page.update.file != nullptr ? &summary : nullptr, existing);
  auto reason = reasonOf(decoding.transfer == Transfer::done ? 0 : errno);
  if (existing.file != nullptr) {
    std::fclose(existing.file);
  }
  auto refusal = refusalOf(decoding, existing, conversion.force);
  if (decoding.transfer != Transfer::done || !refusal.empty()) {
    abandonUpdate(update);
    if (decoding.transfer != Transfer::done) {
      complainOfTransfer(console, decoding.transfer, inputPath, outputPath, reason);
    } else {
      complain(console, decoding.strangeGroup != 0 ? inputPath : outputPath, refusal);
    }
    return false;
  }
  if (!commitUpdate(update, nullptr)) {
    complain(console, outputPath, withReason("Cannot write", update.failure));
    return false;
  }
  if (page.update.file != nullptr) {
    if (!page.started) {
      writeToPage(page, pageStart(inputPath, page.level, conversion.rate));
      page.started = true;
    }
    writeToPage(page, pageRow(summary, page.path, conversion.rate));
    ++page.rows;
  }
  return true;
}

// Why the open file cannot be converted as an effect file, judged by its first group; empty
// when it can. A WAV file or a level file given by mistake would decode to noise. The file is left
// at its start.
std::string problemOfStart(std::FILE* input) {
  RawGroup start{};
  auto got = std::fread(start.data(), 1, start.size(), input);
  if (std::ferror(input) != 0 || !seekFile(input, 0)) {
    return withReason("Cannot read", reasonOf(errno));
  }
  if (got >= 12 && std::memcmp(start.data(), "RIFF", 4) == 0 &&
      std::memcmp(start.data() + 8, "WAVE", 4) == 0) {
    return "A WAV file, not an effect file";
  }
  if (got == start.size() && !isXaSoundGroup(start)) {
    return "Not an effect file (group 1 is not an XA sound group); lvlsnd extracts effect files "
           "from a level file";
  }
  return "";
}

// Converts one effect file into a WAV file beside it. Returns false after a complaint.
bool convertEffectFile(const char* path, Conversion& conversion, Console console) {
  std::FILE* input = openInput(path);
  auto openFailure = reasonOf(input == nullptr ? errno : ESPIPE);
  if (input != nullptr) {
    std::setvbuf(input, nullptr, _IONBF, 0);
  }
  // Only a regular file has a size, and the WAV header is written from it.
  std::int64_t size = input != nullptr ? fileSize(input) : -1;
  auto groupCount = static_cast<std::uint64_t>(size) / rawGroupSize;
  bool converted = false;
  std::string problem;
  if (size < 0) {
    complain(console, path, withReason("Cannot open", openFailure));
  } else if (groupCount * wavBytesPerGroup > largestWavData) {
    complain(console, path, "Too long for a WAV file");
  } else if (!(problem = problemOfStart(input)).empty()) {
    complain(console, path, problem);
  } else {
    converted = writeWavFile(input, path, groupCount, conversion, console);
  }
  if (input != nullptr) {
    std::fclose(input);
  }
  auto leftOver = static_cast<std::uint64_t>(size) % rawGroupSize;
  if (converted && leftOver != 0) {
    complain(console, path,
             "Left out " + std::to_string(leftOver) + " bytes after the last whole group");
    return false;
  }
  return converted;
}

// Whether `path` can be the page: a name ending in .html or .htm, in any case, that leads to
// none of the run's effect files or WAV files.
bool isPageName(const std::string& path, const std::vector<const char*>& effects) {
  auto lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  if (!lower.ends_with(".html") && !lower.ends_with(".htm")) {
    return false;
  }
  auto page = identityOf(path.c_str());
  return std::none_of(effects.begin(), effects.end(), [&](const char* effect) {
    return sameFile(page, identityOf(effect)) ||
           sameFile(page, identityOf(wavNameFor(effect).c_str()));
  });
}

// Begins the page; a page that cannot be begun is complained of, and the files are still
// converted.
void beginPage(Page& page, Console console) {
  page.update = beginUpdate(page.path, UpdateKind::remakeable);
  if (page.update.file == nullptr) {
    complain(console, page.path, withReason("Cannot create", page.update.failure));
  }
}

// Finishes the page of the files converted. Returns false after a complaint.
bool finishPage(Page& page, std::uint32_t rate, Console console) {
  if (page.update.file == nullptr) {
    return false;
  }
  if (!page.started) {
    writeToPage(page, pageStart("", page.level, rate));
  }
  writeToPage(page, pageEnd(page.rows));
  if (!page.written) {
    abandonUpdate(page.update);
  }
  if (!page.written || !commitUpdate(page.update, nullptr)) {
    complain(console, page.path, withReason("Cannot write", page.update.failure));
    return false;
  }
  return true;
}

} // namespace

int runWavTool(int argc, const char* const* argv, Console console) {
  auto line = readCommandLine(argc, argv, {"--rate", "--page"}, {"-f", "--force"});
  Conversion conversion;
  readRateOption(line, line.values[0], conversion.rate);
  conversion.page.path = line.values[1];
  conversion.force = line.flags[0] || line.flags[1];
  if (line.operands.empty()) {
    noteOperandProblem(line, "no effect file given");
  }
  if (auto status = answerCommandLine(line, "lvlsnd-wav", usageText, console)) {
    return *status;
  }
  auto& page = conversion.page;
  if (page.path != nullptr && !isPageName(page.path, line.operands)) {
    complain(console, page.path, "Not a page name; give a name ending in .html");
    return exitUsage;
  }
  if (page.path != nullptr) {
    page.level = levelOfEffects(line.operands);
    beginPage(page, console);
  }
  bool allConverted = true;
  for (const char* file : line.operands) {
    allConverted = convertEffectFile(file, conversion, console) && allConverted;
  }
  if (page.path != nullptr) {
    allConverted = finishPage(page, conversion.rate, console) && allConverted;
  }
  return allConverted ? exitDone : exitComplaint;
}
