#include "wav.hpp"

#include "files.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace lvlsnd {

namespace {

constexpr std::uint16_t pcmFormat = 1;
constexpr std::uint16_t bytesPerSample = 2;

void putTag(std::uint8_t* bytes, const char (&tag)[5]) {
  std::memcpy(bytes, tag, 4);
}

} // namespace

bool startsLikeWav(std::span<const std::uint8_t> start) {
  return start.size() >= 12 && std::memcmp(start.data(), "RIFF", 4) == 0 &&
         std::memcmp(start.data() + 8, "WAVE", 4) == 0;
}

std::array<std::uint8_t, wavHeaderSize> monoWavHeader(std::uint32_t sampleRate,
                                                      std::uint32_t dataSize) {
  std::array<std::uint8_t, wavHeaderSize> header{};
  auto* bytes = header.data();
  putTag(bytes, "RIFF");
  putU32le(bytes + 4, static_cast<std::uint32_t>(wavHeaderSize - 8 + dataSize));
  putTag(bytes + 8, "WAVE");
  putTag(bytes + 12, "fmt ");
  putU32le(bytes + 16, 16);
  putU16le(bytes + 20, pcmFormat);
  putU16le(bytes + 22, 1); // channels
  putU32le(bytes + 24, sampleRate);
  putU32le(bytes + 28, sampleRate * bytesPerSample);
  putU16le(bytes + 32, bytesPerSample); // block align
  putU16le(bytes + 34, 8 * bytesPerSample);
  putTag(bytes + 36, "data");
  putU32le(bytes + 40, dataSize);
  return header;
}

namespace {

constexpr std::uint16_t floatFormat = 3;
constexpr std::uint16_t extensibleFormat = 0xFFFE;

std::uint16_t getU16le(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t getU32le(const std::uint8_t* bytes) {
  return getU16le(bytes) | std::uint32_t{getU16le(bytes + 2)} << 16;
}

// A problem of the file's contents; the caller names the file.
Problem damaged(const std::string& text) {
  return {"", text, ""};
}

// Reads `size` bytes at `offset`. Returns what keeps them back: "Cannot read" for a read
// error, `shortProblem` when the file ends first.
Outcome readExactly(ByteSource& source, std::int64_t offset, std::uint8_t* bytes, std::size_t size,
                    const char* shortProblem) {
  auto read = readAt(source, offset, {bytes, size});
  if (read.failed) {
    return systemProblem("", "Cannot read", read.error);
  }
  if (read.got != size) {
    return damaged(shortProblem);
  }
  return std::nullopt;
}

// The fmt chunk, as far as the reader needs it.
struct WavFormat {
  bool found = false;
  std::uint16_t format = 0; // the subformat of WAVE_FORMAT_EXTENSIBLE
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
};

// WAVE_FORMAT_EXTENSIBLE: a 40-byte fmt chunk whose last 16 bytes are the subformat GUID, the
// format code in its first two bytes and then the same 14 bytes for every audio format.
constexpr std::uint32_t extensibleFmtSize = 40;
constexpr std::size_t subformatAt = 24;
constexpr std::uint8_t subformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Where the samples are: the data chunk's start and its size, cut to what the file holds.
struct WavData {
  bool found = false;
  std::int64_t start = 0;
  std::uint64_t size = 0;
};

// Reads the fmt chunk. An extensible format whose GUID is not an audio format's stays
// 0xFFFE, which no caller supports.
Outcome readFormat(const std::uint8_t* chunk, std::uint32_t size, WavFormat& format) {
  format = {true, getU16le(chunk), getU16le(chunk + 2), getU32le(chunk + 4), getU16le(chunk + 14)};
  if (format.format != extensibleFormat) {
    return std::nullopt;
  }
  if (size < extensibleFmtSize) {
    return damaged("Damaged fmt chunk");
  }
  if (std::memcmp(chunk + subformatAt + 2, subformatTail, sizeof subformatTail) == 0) {
    format.format = getU16le(chunk + subformatAt);
  }
  return std::nullopt;
}

constexpr std::uint16_t mostChannels = 8;

bool supported(const WavFormat& format) {
  bool pcm = format.format == pcmFormat &&
             (format.bits == 8 || format.bits == 16 || format.bits == 24 || format.bits == 32);
  bool floating = format.format == floatFormat && (format.bits == 32 || format.bits == 64);
  return (pcm || floating) && format.channels >= 1 && format.channels <= mostChannels;
}

// The refusal of a format the reader does not take: what it is, and what to save instead.
Problem unsupported(const WavFormat& format) {
  struct Known {
    std::uint16_t code;
    const char* name;
  };
  static constexpr Known known[] = {{0x0002, "MS ADPCM"},  {0x0006, "A-law"},    {0x0007, "µ-law"},
                                    {0x0011, "IMA ADPCM"}, {0x0031, "GSM 6.10"}, {0x0050, "MPEG"},
                                    {0x0055, "MP3"}};
  char text[128];
  for (const auto& k : known) {
    if (k.code == format.format) {
      std::snprintf(text, sizeof text, "%s WAV (format 0x%04x); save it as 16-bit PCM", k.name,
                    unsigned{format.format});
      return damaged(text);
    }
  }
  std::snprintf(text, sizeof text,
                "Unsupported WAV format 0x%04x, %u channel%s, %u bits; save it as 16-bit PCM",
                unsigned{format.format}, unsigned{format.channels}, format.channels == 1 ? "" : "s",
                unsigned{format.bits});
  return damaged(text);
}

// A float sample from -1 ... 1 in 16 bits, rounded and clamped; NaN is silence.
int sampleOfFloat(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  return static_cast<int>(std::lround(std::clamp(value * 32768.0, -32768.0, 32767.0)));
}

// One channel's sample in 16 bits: 8-bit samples are unsigned, 24- and 32-bit ones lose their
// lower bytes, float ones are scaled from -1 ... 1 and clamped.
int sampleOf(const std::uint8_t* bytes, std::uint16_t format, std::uint16_t bits) {
  if (format == floatFormat) {
    if (bits == 32) {
      float value = 0;
      std::uint32_t word = getU32le(bytes);
      std::memcpy(&value, &word, sizeof value);
      return sampleOfFloat(value);
    }
    double value = 0;
    std::uint64_t word = getU32le(bytes) | std::uint64_t{getU32le(bytes + 4)} << 32;
    std::memcpy(&value, &word, sizeof value);
    return sampleOfFloat(value);
  }
  switch (bits) {
  case 8:
    return (bytes[0] - 128) * 256;
  case 16:
    return static_cast<std::int16_t>(getU16le(bytes));
  default: // 24 or 32: the top two bytes
    return static_cast<std::int16_t>(getU16le(bytes + bits / 8 - 2));
  }
}

// The mix of a frame's channels with equal weights, rounded down as an arithmetic shift does.
int mixOf(int sum, int channels) {
  return sum >= 0 ? sum / channels : -((-sum + channels - 1) / channels);
}

// The first bytes of a file that is no WAV file, given for one: what it is.
Problem notAWavFile(const std::uint8_t* start, std::size_t size) {
  auto is = [&](const char* magic, std::size_t at) {
    auto length = std::strlen(magic);
    return size >= at + length && std::memcmp(start + at, magic, length) == 0;
  };
  const char* kind = nullptr;
  if (is("ID3", 0) || (size >= 2 && start[0] == 0xFF && (start[1] & 0xE0) == 0xE0)) {
    kind = "An MP3 file";
  } else if (is("OggS", 0)) {
    kind = "An Ogg file";
  } else if (is("fLaC", 0)) {
    kind = "A FLAC file";
  } else if (is("FORM", 0) && (is("AIFF", 8) || is("AIFC", 8))) {
    kind = "An AIFF file";
  }
  return damaged(kind == nullptr ? "Not a WAV file"
                                 : std::string(kind) + ", not a WAV file; export it as WAV");
}

// The bytes of the file around the chunk being read, so that a walk over many chunks reads the
// file in large pieces, not a seek and a read for each chunk header.
struct ChunkWindow {
  std::int64_t start = 0;
  std::size_t length = 0;
  std::array<std::uint8_t, 4096> bytes{};
};

// Copies `size` bytes at `offset` from the window, filling it from there first where it does
// not hold them. Returns what keeps them back, as readExactly does, or an empty text.
Outcome windowBytes(ByteSource& source, ChunkWindow& window, std::int64_t fileSize,
                    std::int64_t offset, std::uint8_t* bytes, std::size_t size,
                    const char* shortProblem) {
  auto end = offset + static_cast<std::int64_t>(size);
  if (offset < window.start || end > window.start + static_cast<std::int64_t>(window.length)) {
    auto wanted = std::min<std::int64_t>(fileSize - offset, std::ssize(window.bytes));
    window.start = offset;
    window.length = static_cast<std::size_t>(std::max<std::int64_t>(wanted, 0));
    auto problem = readExactly(source, offset, window.bytes.data(), window.length, "Cannot read");
    if (problem) {
      window.length = 0;
      return problem; // the file holds these bytes: only an error keeps them back
    }
    if (window.length < size) {
      return damaged(shortProblem);
    }
  }
  std::copy_n(window.bytes.begin() + (offset - window.start), size, bytes);
  return std::nullopt;
}

// A chunk's id is four printable ASCII characters; anything else is no chunk at all.
bool isChunkId(const std::uint8_t* id) {
  return std::all_of(id, id + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Walks the chunks after "RIFF", size, "WAVE" until the fmt and data chunks are found.
Outcome findChunks(ByteSource& source, std::int64_t fileSize, WavFormat& format, WavData& data) {
  ChunkWindow window;
  std::int64_t at = 12;
  std::uint8_t header[8];
  while (at + 8 <= fileSize && !(format.found && data.found)) {
    auto problem = windowBytes(source, window, fileSize, at, header, 8, "Cannot read");
    if (problem) {
      return problem;
    }
    if (!isChunkId(header)) {
      return damaged("Damaged chunk at offset " + std::to_string(at));
    }
    std::uint32_t size = getU32le(header + 4);
    std::int64_t start = at + 8;
    if (std::memcmp(header, "fmt ", 4) == 0 && !format.found) {
      std::uint8_t chunk[extensibleFmtSize] = {};
      if (size < 16) {
        return damaged("Damaged fmt chunk");
      }
      problem = windowBytes(source, window, fileSize, start, chunk,
                            std::min<std::size_t>(size, sizeof chunk), "Damaged fmt chunk");
      if (!problem) {
        problem = readFormat(chunk, size, format);
      }
      if (problem) {
        return problem;
      }
    } else if (std::memcmp(header, "data", 4) == 0 && !data.found) {
      data = {true, start,
              std::min<std::uint64_t>(size, static_cast<std::uint64_t>(fileSize - start))};
    }
    // Chunks of odd size are followed by a padding byte.
    at = start + size + (size & 1);
  }
  if (!format.found) {
    return damaged("No fmt chunk");
  }
  if (!data.found) {
    return damaged("No data chunk");
  }
  return std::nullopt;
}

} // namespace

Outcome readWavLayout(ByteSource& source, WavLayout& layout) {
  std::uint8_t riff[12];
  auto size = sourceSize(source);
  if (size.failed()) {
    return systemProblem("", "Cannot read", size.error); // the system cannot tell the size
  }
  auto fileSize = size.value;
  auto got = static_cast<std::size_t>(std::min<std::int64_t>(fileSize, 12));
  auto problem = readExactly(source, 0, riff, got, "Cannot read");
  if (problem) {
    return problem;
  }
  if (got < 12) {
    return notAWavFile(riff, got);
  }
  if (std::memcmp(riff + 8, "WAVE", 4) == 0 && std::memcmp(riff, "RF64", 4) == 0) {
    return damaged("RF64 is not supported");
  }
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return notAWavFile(riff, got);
  }
  WavFormat format;
  WavData data;
  problem = findChunks(source, fileSize, format, data);
  if (problem) {
    return problem;
  }
  if (!supported(format)) {
    return unsupported(format);
  }
  layout = {format.channels, format.rate, format.bits,
            format.format,   data.start,  data.size / (format.bits / 8u * format.channels)};
  if (layout.frames == 0) {
    return damaged("No samples in the data chunk");
  }
  return std::nullopt;
}

bool isEffectWavLayout(const WavLayout& layout, std::uint64_t frames) {
  return layout.channels == 1 && layout.bits == 16 && layout.format == pcmFormat &&
         layout.frames == frames;
}

Outcome readWavFrames(ByteSource& source, const WavLayout& layout, std::uint64_t first,
                      std::span<std::int16_t> samples) {
  std::size_t sampleBytes = layout.bits / 8u;
  std::size_t frameBytes = sampleBytes * layout.channels;
  std::vector<std::uint8_t> bytes(samples.size() * frameBytes);
  auto start = layout.dataStart + static_cast<std::int64_t>(first * frameBytes);
  auto problem = readExactly(source, start, bytes.data(), bytes.size(), "Cannot read");
  if (problem) {
    return problem;
  }
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const auto* frame = bytes.data() + k * frameBytes;
    int sum = 0;
    for (std::size_t channel = 0; channel < layout.channels; ++channel) {
      sum += sampleOf(frame + channel * sampleBytes, layout.format, layout.bits);
    }
    samples[k] = static_cast<std::int16_t>(mixOf(sum, layout.channels));
  }
  return std::nullopt;
}

Outcome readWavSound(ByteSource& source, std::size_t wantedSamples, WavSound& sound) {
  WavLayout layout;
  auto problem = readWavLayout(source, layout);
  if (problem) {
    return problem;
  }
  sound.layout = layout;
  sound.samples.resize(
      static_cast<std::size_t>(std::min<std::uint64_t>(layout.frames, wantedSamples)));
  return readWavFrames(source, layout, 0, sound.samples);
}

} // namespace lvlsnd
