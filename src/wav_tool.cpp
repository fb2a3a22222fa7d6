#include "wav_tool.hpp"

#include "command_line.hpp"
#include "wav.hpp"
#include "wav_page.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string_view>
#include <vector>

void decodeEffectGroup(std::span<const std::uint8_t, rawGroupSize> group, PredictorState& state,
                       std::span<std::int16_t, samplesPerEffectGroup> samples) {
  // A local copy of the state stays in registers; the samples written cannot change it.
  auto decoder = state;
  auto* sample = samples.data();
  for (std::size_t unit = 1; unit < soundUnitCount; unit += 2) {
    auto coding = unitCodingOf(group[rawUnitParameters + unit]);
    const auto* data = group.data() + rawSampleData;
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      // An odd unit's sample is a high nibble: shifted down from a signed byte, it comes out
      // sign-extended.
      int nibble = static_cast<std::int8_t>(data[sampleByteOf(k, unit)] & 0xF0) >> 4;
      *sample++ = decodeSample(nibble, coding, decoder);
    }
  }
  state = decoder;
}

std::string wavNameFor(const std::string& effectPath) {
  std::string_view extension = ".raw";
  bool isRaw = effectPath.size() >= extension.size() &&
               std::equal(extension.begin(), extension.end(),
                          effectPath.end() - static_cast<std::ptrdiff_t>(extension.size()),
                          [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
  return effectPath.substr(0, effectPath.size() - (isRaw ? extension.size() : 0)) + ".wav";
}

namespace {

constexpr int exitAllConverted = 0;
constexpr int exitComplaint = 1;
constexpr int exitUsage = 2;

constexpr const char* usageText =
    "Usage: lvlsnd-wav [--rate HZ] [--page PAGE.html] FILE...\n"
    "Function: Converts lvlsnd effect files to WAV files\n"
    "Each effect file FILE.raw is written to FILE.wav beside it\n"
    "  --rate HZ   sample rate written into the WAV files, 1000 to 192000 (default 37800)\n"
    "  --page PAGE.html  also write a page that shows and plays every file converted\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

constexpr std::uint64_t wavBytesPerGroup = 2 * samplesPerEffectGroup;

// Effect files go through these fixed buffers a chunk of groups at a time, so memory stays
// flat whatever the size of the file, and every read and write is large.
constexpr std::size_t groupsPerChunk = 1024;

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

void complain(Console console, const std::string& name, const char* problem) {
  std::fprintf(console.err, "%s: %s\n", name.c_str(), problem);
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
  // Creating the WAV file truncates it, so it is never created over the effect file itself,
  // whatever link leads there.
  std::FILE* output = sameFile(identityOf(outputPath.c_str()), identityOf(input))
                          ? nullptr
                          : openFile(outputPath.c_str(), "wb");
  if (output == nullptr) {
    complain(console, outputPath, "Cannot create");
    return false;
  }
  std::setvbuf(output, nullptr, _IONBF, 0);
  std::fprintf(console.out, "Converting %s to %s (%" PRIu64 " groups)...\n", inputPath,
               outputPath.c_str(), groupCount);
  EffectSummary summary;
  if (conversion.pagePath != nullptr) {
    summary = startSummary(inputPath, outputPath, groupCount, groupCount * samplesPerEffectGroup);
  }
  auto transfer = decodeGroups(input, output, groupCount, conversion.rate, conversion.buffers,
                               conversion.pagePath != nullptr ? &summary : nullptr);
  bool closed = std::fclose(output) == 0;
  if (transfer == Transfer::done && closed) {
    if (conversion.pagePath != nullptr) {
      conversion.summaries.push_back(std::move(summary));
    }
    return true;
  }
  // An incomplete WAV file must not be left looking complete.
  removeFile(outputPath.c_str());
  if (transfer == Transfer::readFailed) {
    complain(console, inputPath, "Cannot read");
  } else {
    complain(console, outputPath, "Cannot write");
  }
  return false;
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
  std::FILE* file = openFile(conversion.pagePath, "wb");
  if (file == nullptr) {
    complain(console, conversion.pagePath, "Cannot create");
    return false;
  }
  bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
  written = std::fclose(file) == 0 && written;
  if (!written) {
    // An incomplete page must not be left looking complete.
    removeFile(conversion.pagePath);
    complain(console, conversion.pagePath, "Cannot write");
  }
  return written;
}

} // namespace

int runWavTool(int argc, const char* const* argv, Console console) {
  auto line = readCommandLine(argc, argv, {"--rate", "--page"});
  Conversion conversion;
  readRateOption(line, line.values[0], conversion.rate);
  conversion.pagePath = line.values[1];
  if (line.problem.empty() && !line.help && !line.version && line.operands.empty()) {
    line.problem = "no effect file given";
  }
  if (!line.problem.empty()) {
    std::fprintf(console.err, "lvlsnd-wav: %s\n%s", line.problem.c_str(), usageText);
    return exitUsage;
  }
  if (line.help) {
    std::fputs(usageText, console.out);
    return exitAllConverted;
  }
  if (line.version) {
    std::fputs("lvlsnd-wav " LVLSND_VERSION "\n", console.out);
    return exitAllConverted;
  }
  bool allConverted = true;
  for (const char* file : line.operands) {
    allConverted = convertEffectFile(file, conversion, console) && allConverted;
  }
  if (conversion.pagePath != nullptr) {
    allConverted = writePage(conversion, console) && allConverted;
  }
  return allConverted ? exitAllConverted : exitComplaint;
}
