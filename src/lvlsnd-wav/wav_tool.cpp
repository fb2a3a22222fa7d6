#include "wav_tool.hpp"

#include "command_line.hpp"
#include "wav.hpp"
#include "wav_page.hpp"
#include "xa_adpcm.hpp"

#include <algorithm>
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
    "Usage: lvlsnd-wav [--rate HZ] [--page PAGE.html] FILE...\n"
    "Function: Converts lvlsnd effect files to WAV files\n"
    "Each effect file FILE.raw is written to FILE.wav beside it\n"
    "  --rate HZ   sample rate written into the WAV files, 1000 to 192000 (default 37800)\n"
    "  --page PAGE.html  also write a page that shows and plays every file converted\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

constexpr std::uint64_t wavBytesPerGroup = 2 * samplesPerEffectGroup;

// Effect files go through these fixed buffers a chunk of groups at a time.
struct ConversionBuffers {
  std::vector<RawGroup> groups = std::vector<RawGroup>(groupsPerChunk);
  std::vector<std::int16_t> samples =
      std::vector<std::int16_t>(groupsPerChunk * samplesPerEffectGroup);
  std::vector<std::uint8_t> wavBytes = std::vector<std::uint8_t>(groupsPerChunk * wavBytesPerGroup);
};

// Writes the WAV header, then decodes `groupCount` raw groups from `input` into `output`, and
// into `summary` when there is one.
Transfer decodeGroups(std::FILE* input, std::FILE* output, std::uint64_t groupCount,
                      std::uint32_t rate, ConversionBuffers& buffers, EffectSummary* summary) {
  auto header = monoWavHeader(rate, static_cast<std::uint32_t>(groupCount * wavBytesPerGroup));
  if (std::fwrite(header.data(), 1, header.size(), output) != header.size()) {
    return Transfer::writeFailed;
  }
  PredictorState state;
  for (auto remaining = groupCount; remaining > 0;) {
    auto count = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, groupsPerChunk));
    if (std::fread(buffers.groups.data(), rawGroupSize, count, input) != count) {
      return Transfer::readFailed;
    }
    for (std::size_t k = 0; k < count; ++k) {
      auto samples = std::span(buffers.samples).subspan(k * samplesPerEffectGroup);
      decodeEffectGroup(buffers.groups[k], state, samples.first<samplesPerEffectGroup>());
    }
    for (std::size_t n = 0; n < count * samplesPerEffectGroup; ++n) {
      putU16le(buffers.wavBytes.data() + 2 * n, static_cast<std::uint16_t>(buffers.samples[n]));
    }
    if (summary != nullptr) {
      summarize(*summary, std::span(buffers.samples).first(count * samplesPerEffectGroup));
    }
    if (std::fwrite(buffers.wavBytes.data(), wavBytesPerGroup, count, output) != count) {
      return Transfer::writeFailed;
    }
    remaining -= count;
  }
  return Transfer::done;
}

// What one run converts: the rate, and the summaries of the files converted when a page
// shows them.
struct Conversion {
  std::uint32_t rate = defaultEffectRate;
  const char* pagePath = nullptr;
  std::vector<EffectSummary> summaries;
  ConversionBuffers buffers;
};

// Writes the WAV file for the open effect file. Returns false after a complaint.
bool writeWavFile(std::FILE* input, const char* inputPath, std::uint64_t groupCount,
                  Conversion& conversion, Console console) {
  auto outputPath = wavNameFor(inputPath);
  // Never created over the effect file itself, whatever link leads there.
  std::FILE* output = createOutput(outputPath, identityOf(input), console);
  if (output == nullptr) {
    return false;
  }
  std::fprintf(console.out, "Converting %s to %s (%" PRIu64 " groups)...\n", inputPath,
               outputPath.c_str(), groupCount);
  EffectSummary summary;
  if (conversion.pagePath != nullptr) {
    summary = startSummary(inputPath, outputPath, groupCount, groupCount * samplesPerEffectGroup);
  }
  auto transfer = decodeGroups(input, output, groupCount, conversion.rate, conversion.buffers,
                               conversion.pagePath != nullptr ? &summary : nullptr);
  transfer = finishOutput(output, outputPath, transfer, inputPath, console);
  if (transfer == Transfer::done && conversion.pagePath != nullptr) {
    conversion.summaries.push_back(std::move(summary));
  }
  return transfer == Transfer::done;
}

// Why the open file cannot be converted as an effect file, judged by its first bytes; null
// when it can. Effect files start with the even units' parameter bytes, four zeros; a WAV
// file given by mistake would decode to full-scale noise. The file is left at its start.
const char* problemOfStart(std::FILE* input) {
  std::uint8_t start[12] = {};
  auto got = std::fread(start, 1, sizeof start, input);
  if (std::ferror(input) != 0 || !seekFile(input, 0)) {
    return "Cannot read";
  }
  bool wav = got == sizeof start && std::memcmp(start, "RIFF", 4) == 0 &&
             std::memcmp(start + 8, "WAVE", 4) == 0;
  return wav ? "A WAV file, not an effect file" : nullptr;
}

// Converts one effect file into a WAV file beside it. Returns false after a complaint.
bool convertEffectFile(const char* path, Conversion& conversion, Console console) {
  std::FILE* input = openFile(path, "rb");
  if (input != nullptr) {
    std::setvbuf(input, nullptr, _IONBF, 0);
  }
  // Only a regular file has a size, and the WAV header is written from it.
  std::int64_t size = input != nullptr ? fileSize(input) : -1;
  auto groupCount = static_cast<std::uint64_t>(size) / rawGroupSize;
  bool converted = false;
  const char* problem = nullptr;
  if (size < 0) {
    complain(console, path, "Cannot open");
  } else if (groupCount * wavBytesPerGroup > largestWavData) {
    complain(console, path, "Too long for a WAV file");
  } else if ((problem = problemOfStart(input)) != nullptr) {
    complain(console, path, problem);
  } else {
    converted = writeWavFile(input, path, groupCount, conversion, console);
  }
  if (input != nullptr) {
    std::fclose(input);
  }
  auto leftOver = static_cast<std::uint64_t>(size) % rawGroupSize;
  if (converted && leftOver != 0) {
    std::fprintf(console.err, "%s: Left out %" PRIu64 " bytes after the last whole group\n", path,
                 leftOver);
    return false;
  }
  return converted;
}

// Writes the page of the files converted. Returns false after a complaint.
bool writePage(const Conversion& conversion, Console console) {
  auto page = effectPage(conversion.summaries, conversion.pagePath, conversion.rate);
  std::FILE* file = createOutput(conversion.pagePath, FileIdentity{}, console);
  if (file == nullptr) {
    return false;
  }
  // The page comes from memory, so only its write can fail.
  bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
  auto transfer = written ? Transfer::done : Transfer::writeFailed;
  return finishOutput(file, conversion.pagePath, transfer, "", console) == Transfer::done;
}

} // namespace

int runWavTool(int argc, const char* const* argv, Console console) {
  auto line = readCommandLine(argc, argv, {"--rate", "--page"});
  Conversion conversion;
  readRateOption(line, line.values[0], conversion.rate);
  conversion.pagePath = line.values[1];
  if (line.operands.empty()) {
    noteOperandProblem(line, "no effect file given");
  }
  if (auto status = answerCommandLine(line, "lvlsnd-wav", usageText, console)) {
    return *status;
  }
  bool allConverted = true;
  for (const char* file : line.operands) {
    allConverted = convertEffectFile(file, conversion, console) && allConverted;
  }
  if (conversion.pagePath != nullptr) {
    allConverted = writePage(conversion, console) && allConverted;
  }
  return allConverted ? exitDone : exitComplaint;
}
