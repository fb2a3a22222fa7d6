// The level file as far as the programs read it: the byte reader that every read goes through,
// the block header that places the sound header, and the sound table read from it.
#pragma once

#include "byte_source.hpp"
#include "files.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace lvlsnd {

// Blocks of a level file are placed on whole sectors; the block header owns the first one.
inline constexpr std::uint32_t sectorSize = 2048;

// Only blocks 0 to 3 are used: the sound header starts where block 3 ends.
inline constexpr int blocksBeforeSoundHeader = 4;

// Every record of the sound header, record 0 (the count) included, is 8 bytes long.
inline constexpr std::int64_t soundRecordSize = 8;

// Entry indices are 16-bit, so the sound table holds at most this many records, record 0
// included.
inline constexpr std::int32_t maxEntryCount = 32767;

// A buffered, read-only view of a level file with 64-bit positions. Reads follow one rule: a
// byte that is not there (at or past the end of the file) reads as 255 and leaves the position
// where it is. A read or seek that fails is no end of the file: it marks the stream failed, and
// from then on every byte reads as 255 until the caller, told, clears the mark.
struct LevelStream {
  ByteSource source;
  std::int64_t position = 0;    // offset of the next byte to read
  std::int64_t bufferStart = 0; // offset of buffer[0]
  std::size_t bufferLength = 0; // valid bytes in buffer
  std::int64_t fileEnd = -1;    // the file's length once a read has met its end; -1 before
  bool failed = false;          // a read or seek failed; nothing read since is real
  int error = 0;                // then the errno of that failure
  std::vector<std::uint8_t> buffer;
  FileIdentity identity; // which file it is, so that no output is created over it
};

// Opens what the path names as a level file when it can be read by offset: a regular file or
// a block device, whose identity the system tells. Returns a stream with no file when it
// cannot, its `error` saying why.
LevelStream openLevelStream(const char* path);
// What a file given as a level file is by its bytes: an effect file, given by mistake, is whole
// raw groups (at least one), each holding its parameter bytes twice, and not all of them zero
// (an all-zero file is still read as a level file); or unreadable.
enum class LevelFileKind { level, effect, unreadable };
LevelFileKind levelFileKind(ByteSource& source);

// A level file held in memory.
LevelStream levelStreamOf(std::span<const std::uint8_t> bytes);
void closeLevelStream(LevelStream& stream);

// Fills `bytes` from the current position; bytes past the end of the file read as 255 and
// the position stops at the end.
void readBytes(LevelStream& stream, std::span<std::uint8_t> bytes);
std::uint8_t readByte(LevelStream& stream);
std::uint16_t readU16be(LevelStream& stream);
std::uint32_t readU32be(LevelStream& stream);
void seekLevel(LevelStream& stream, std::int64_t offset);
// Lets the stream read again after a failure, from wherever it is positioned next.
void clearReadFailure(LevelStream& stream);

inline std::uint16_t getU16be(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline std::uint32_t getU32be(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

// Size of a block once rounded up to whole sectors, modulo 2^32 like every offset sum here.
inline std::uint32_t roundUpToSector(std::uint32_t size) {
  return (size + (sectorSize - 1)) & ~(sectorSize - 1);
}

// Where the sound header starts: after the block header's sector and blocks 0 to 3.
std::uint32_t soundHeaderOffset(std::span<const std::uint32_t, blocksBeforeSoundHeader> sizes);

// One sound entry: where its stored groups start (absolute, 32-bit), how many there are and
// which units of each group carry the effect (0: even units, any other value: odd units).
struct SoundEntry {
  std::uint32_t groupOffset = 0;
  std::int16_t groupCount = 0;
  std::uint8_t unitSelector = 0;
};

// The sound table, indexed by entry index. Index 0 stands for the count record and stays
// empty, so entries.size() is the entry count as clamped to 0 ... maxEntryCount.
struct SoundTable {
  std::vector<SoundEntry> entries;
};

// Reads the block header from the current position (offset 0 of a freshly opened level file)
// and returns where the sound header starts.
std::uint32_t readSoundHeaderOffset(LevelStream& stream);
// Reads the sound table from the current position, the start of the sound header.
SoundTable readSoundTable(LevelStream& stream);

} // namespace lvlsnd
