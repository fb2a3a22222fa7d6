#include "level_builder.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

void putU8(Bytes& bytes, std::uint8_t value) {
  bytes.push_back(value);
}

void putU16be(Bytes& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value));
}

void putU32be(Bytes& bytes, std::uint32_t value) {
  putU16be(bytes, static_cast<std::uint16_t>(value >> 16));
  putU16be(bytes, static_cast<std::uint16_t>(value));
}

void padTo(Bytes& bytes, std::size_t size, std::uint8_t fill) {
  if (bytes.size() < size) {
    bytes.resize(size, fill);
  }
}

namespace {
constexpr std::size_t sector = 2048;
std::size_t sectorsFor(std::size_t size) {
  return (size + sector - 1) / sector * sector;
}
} // namespace

std::uint32_t soundHeaderStart(const LevelLayout& layout) {
  std::size_t start = sector;
  for (auto size : layout.blockSizes) {
    start += sectorsFor(size);
  }
  return static_cast<std::uint32_t>(start);
}

Bytes buildLevelFile(const LevelLayout& layout) {
  Bytes bytes;
  putU16be(bytes, 4);
  for (auto size : layout.blockSizes) {
    putU32be(bytes, size);
  }
  padTo(bytes, sector);
  padTo(bytes, soundHeaderStart(layout), layout.blockFill);
  putU32be(bytes, static_cast<std::uint32_t>(layout.records.size() + 1));
  putU32be(bytes, 0xDEADBEEF); // not read by the tool
  for (const auto& record : layout.records) {
    putU32be(bytes, record.groupOffset);
    putU16be(bytes, record.groupCount);
    putU8(bytes, record.unitSelector);
    putU8(bytes, 0xA5); // not read by the tool
  }
  bytes.insert(bytes.end(), layout.tail.begin(), layout.tail.end());
  return bytes;
}

std::uint32_t offsetToTail(std::size_t recordIndex, std::size_t recordCount,
                           std::size_t tailOffset) {
  return static_cast<std::uint32_t>(8 * (recordCount + 1 - recordIndex) + tailOffset);
}

Bytes storedGroup(std::span<const std::uint8_t, 8> parameters,
                  std::span<const std::uint8_t, 112> data) {
  Bytes bytes(parameters.size() + data.size());
  std::copy(data.begin(), data.end(),
            std::copy(parameters.begin(), parameters.end(), bytes.begin()));
  return bytes;
}

Bytes countingGroup(std::uint8_t seed) {
  Bytes bytes(120);
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    bytes[k] = static_cast<std::uint8_t>(seed + k);
  }
  return bytes;
}

void writeFile(const char* path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error(std::string("cannot write ") + path);
  }
}

Bytes readFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
