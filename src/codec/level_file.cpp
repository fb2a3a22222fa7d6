#include "level_file.hpp"

#include "xa_adpcm.hpp"

#include <algorithm>
#include <array>
#include <cerrno>

namespace lvlsnd {

namespace {

// Large enough that reading runs of stored groups costs about what copying them costs.
constexpr std::size_t levelBufferSize = 64 * 1024;

// Reads from the level file at the current position into `bytes`. Returns how many bytes it
// got: fewer at the end of the file, none past the end or once a read or seek has failed.
std::size_t readFromFile(LevelStream& stream, std::span<std::uint8_t> bytes) {
  // A short level file is read past its end over and over (every record of a long sound
  // table, say); once the end is known, such reads cost nothing.
  if (stream.failed || (stream.fileEnd >= 0 && stream.position >= stream.fileEnd)) {
    return 0;
  }
  auto read = readAt(stream.source, stream.position, bytes);
  if (read.failed) {
    stream.failed = true;
    stream.error = read.error;
    return 0;
  }
  if (read.got < bytes.size()) {
    stream.fileEnd = stream.position + static_cast<std::int64_t>(read.got);
  }
  return read.got;
}

// Copies to the front of `bytes` what the buffer holds from the current position on.
std::size_t copyFromBuffer(LevelStream& stream, std::span<std::uint8_t> bytes) {
  auto bufferEnd = stream.bufferStart + static_cast<std::int64_t>(stream.bufferLength);
  if (stream.position < stream.bufferStart || stream.position >= bufferEnd) {
    return 0;
  }
  auto count = std::min(static_cast<std::size_t>(bufferEnd - stream.position), bytes.size());
  std::copy_n(stream.buffer.begin() + (stream.position - stream.bufferStart), count, bytes.begin());
  return count;
}

// Gets the next bytes for `bytes` from the file: a read as large as the buffer or larger goes
// straight into `bytes`, a smaller one refills the buffer first.
std::size_t readMore(LevelStream& stream, std::span<std::uint8_t> bytes) {
  if (bytes.size() >= stream.buffer.size()) {
    return readFromFile(stream, bytes);
  }
  stream.bufferStart = stream.position;
  stream.bufferLength = readFromFile(stream, stream.buffer);
  return copyFromBuffer(stream, bytes);
}

} // namespace

LevelStream openLevelStream(const char* path) {
  LevelStream stream;
  // A level file is read by offset. A directory opens on POSIX systems but holds no level
  // data, and a pipe cannot seek, so every byte would read as 255 and the run would report
  // success over data it never saw.
  auto opened = openInput(path);
  std::FILE* file = opened.value;
  stream.error = opened.error;
  // Which file it is guards it from being written over: when the system cannot say, the level
  // file is not opened at all.
  auto identity = file != nullptr ? identityOf(file) : FileIdentity{};
  if (file != nullptr && identity.kind != IdentityKind::known) {
    std::fclose(file);
    file = nullptr;
    stream.error = identity.error;
  }
  if (file != nullptr) {
    stream.source = fileSource(file);
    stream.identity = identity;
    // The stream keeps its own buffer, so the file's would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    stream.buffer.resize(levelBufferSize);
  }
  return stream;
}

LevelStream levelStreamOf(std::span<const std::uint8_t> bytes) {
  LevelStream stream;
  stream.source = memorySource(bytes);
  stream.buffer.resize(levelBufferSize);
  return stream;
}

void closeLevelStream(LevelStream& stream) {
  if (stream.source.file != nullptr) {
    std::fclose(stream.source.file);
  }
  stream.source = {};
}

void readBytes(LevelStream& stream, std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    auto count = copyFromBuffer(stream, bytes);
    if (count == 0) {
      count = readMore(stream, bytes);
    }
    if (count == 0) {
      std::fill(bytes.begin(), bytes.end(), 0xFF);
      return;
    }
    stream.position += static_cast<std::int64_t>(count);
    bytes = bytes.subspan(count);
  }
}

std::uint8_t readByte(LevelStream& stream) {
  std::uint8_t byte = 0;
  readBytes(stream, std::span(&byte, 1));
  return byte;
}

std::uint16_t readU16be(LevelStream& stream) {
  std::array<std::uint8_t, 2> bytes{};
  readBytes(stream, bytes);
  return getU16be(bytes.data());
}

std::uint32_t readU32be(LevelStream& stream) {
  std::array<std::uint8_t, 4> bytes{};
  readBytes(stream, bytes);
  return getU32be(bytes.data());
}

void seekLevel(LevelStream& stream, std::int64_t offset) {
  stream.position = offset;
}

void clearReadFailure(LevelStream& stream) {
  stream.failed = false;
  stream.bufferLength = 0;
  clearSourceFailure(stream.source);
}

std::uint32_t soundHeaderOffset(std::span<const std::uint32_t, blocksBeforeSoundHeader> sizes) {
  std::uint32_t offset = sectorSize;
  for (auto size : sizes) {
    offset += roundUpToSector(size);
  }
  return offset;
}

namespace {

// Reads the block count and the block sizes. Sizes the file does not give (a count below 4)
// count as 0, since a missing block takes no space; sizes past the fourth are read and
// ignored.
std::array<std::uint32_t, blocksBeforeSoundHeader> readBlockSizes(LevelStream& stream) {
  std::array<std::uint32_t, blocksBeforeSoundHeader> sizes{};
  auto blockCount = static_cast<std::int16_t>(readU16be(stream));
  for (int block = 0; block < blockCount; ++block) {
    auto size = readU32be(stream);
    if (block < blocksBeforeSoundHeader) {
      sizes[static_cast<std::size_t>(block)] = size;
    }
  }
  return sizes;
}

// Entry indices are 16-bit: a larger count keeps the first 32767 records, and a count below
// 1 has none.
std::int32_t clampEntryCount(std::int32_t entryCount) {
  return std::clamp(entryCount, std::int32_t{0}, maxEntryCount);
}

SoundEntry readSoundEntry(LevelStream& stream) {
  // The group offset counts from the record's own first byte. Past the end of the file the
  // position stays at the end, and that is what the offset is added to.
  auto recordPosition = static_cast<std::uint32_t>(stream.position);
  SoundEntry entry;
  entry.groupOffset = recordPosition + readU32be(stream);
  entry.groupCount = static_cast<std::int16_t>(readU16be(stream));
  entry.unitSelector = readByte(stream);
  readByte(stream);
  return entry;
}

} // namespace

std::uint32_t readSoundHeaderOffset(LevelStream& stream) {
  return soundHeaderOffset(readBlockSizes(stream));
}

SoundTable readSoundTable(LevelStream& stream) {
  auto entryCount = static_cast<std::int32_t>(readU32be(stream));
  readU32be(stream);
  SoundTable table;
  table.entries.resize(static_cast<std::size_t>(clampEntryCount(entryCount)));
  for (std::size_t index = 1; index < table.entries.size(); ++index) {
    table.entries[index] = readSoundEntry(stream);
  }
  return table;
}

LevelFileKind levelFileKind(ByteSource& source) {
  auto size = sourceSize(source).value; // 0 when it has none: no effect file
  auto groupSize = static_cast<std::int64_t>(rawGroupSize);
  if (size < groupSize || size % groupSize != 0) {
    return LevelFileKind::level;
  }
  // A chunk at a time, up to the first group that is none: a level file's header is none.
  std::vector<RawGroup> groups(groupsPerChunk);
  bool parametersSeen = false;
  for (std::int64_t at = 0; at < size;) {
    auto bytes = std::as_writable_bytes(std::span(groups));
    auto chunk = std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())
                     .first(static_cast<std::size_t>(std::min<std::int64_t>(
                         size - at, static_cast<std::int64_t>(bytes.size()))));
    auto read = readAt(source, at, chunk);
    if (read.failed || read.got != chunk.size()) {
      return read.failed ? LevelFileKind::unreadable : LevelFileKind::level;
    }
    for (std::size_t k = 0; k < chunk.size() / rawGroupSize; ++k) {
      if (!isXaSoundGroup(groups[k])) {
        return LevelFileKind::level;
      }
      parametersSeen =
          parametersSeen || std::any_of(groups[k].begin(), groups[k].begin() + rawSampleData,
                                        [](std::uint8_t byte) { return byte != 0; });
    }
    at += static_cast<std::int64_t>(chunk.size());
  }
  return parametersSeen ? LevelFileKind::effect : LevelFileKind::level;
}

} // namespace lvlsnd
