// Builds level files byte by byte for the tests and the sample generator. It knows the level
// file layout on its own, apart from the tool's code, so that a fault in the tool's reading
// of the layout cannot hide behind the same fault here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

void putU8(Bytes& bytes, std::uint8_t value);
void putU16be(Bytes& bytes, std::uint16_t value);
void putU32be(Bytes& bytes, std::uint32_t value);
void padTo(Bytes& bytes, std::size_t size, std::uint8_t fill = 0);

// One record of the sound header as stored: the group offset counts from the record's
// first byte.
struct RecordSpec {
  std::uint32_t groupOffset = 0;
  std::uint16_t groupCount = 0;
  std::uint8_t unitSelector = 0;
};

// A level file with block count 4: the block header sector, blocks 0 to 3 of the given sizes
// (their bytes `blockFill`, each rounded up to whole 2048-byte sectors), the sound header
// with record 0 counting the records, the records, then `tail` (usually stored groups).
struct LevelLayout {
  std::uint32_t blockSizes[4] = {0, 0, 0, 0};
  std::uint8_t blockFill = 0;
  std::vector<RecordSpec> records;
  Bytes tail;
};

Bytes buildLevelFile(const LevelLayout& layout);

// Where the sound header of `layout` starts.
std::uint32_t soundHeaderStart(const LevelLayout& layout);

// The group offset that record `recordIndex` (1-based) must hold to point at byte
// `tailOffset` of the tail, in a sound header of `recordCount` records after record 0.
std::uint32_t offsetToTail(std::size_t recordIndex, std::size_t recordCount,
                           std::size_t tailOffset);

// A stored group: eight parameter bytes, then 112 data bytes.
Bytes storedGroup(std::span<const std::uint8_t, 8> parameters,
                  std::span<const std::uint8_t, 112> data);
// A stored group whose bytes are seed, seed + 1, ... (mod 256).
Bytes countingGroup(std::uint8_t seed);

void writeFile(const char* path, const Bytes& bytes);
Bytes readFile(const char* path);
