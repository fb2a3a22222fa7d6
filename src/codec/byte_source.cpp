#include "byte_source.hpp"

#include "files.hpp"

#include <algorithm>
#include <cerrno>

namespace lvlsnd {

ByteSource fileSource(std::FILE* file) {
  ByteSource source;
  source.file = file;
  return source;
}

ByteSource memorySource(std::span<const std::uint8_t> bytes) {
  ByteSource source;
  source.memory = bytes;
  return source;
}

SystemResult<std::int64_t> sourceSize(const ByteSource& source) {
  if (source.file == nullptr) {
    return {static_cast<std::int64_t>(source.memory.size())};
  }
  return fileSize(source.file);
}

namespace {

SourceRead readFromMemory(const ByteSource& source, std::int64_t offset,
                          std::span<std::uint8_t> bytes) {
  auto size = static_cast<std::int64_t>(source.memory.size());
  if (offset < 0 || offset >= size) {
    return {};
  }
  auto count = std::min(bytes.size(), static_cast<std::size_t>(size - offset));
  std::copy_n(source.memory.begin() + offset, count, bytes.begin());
  return {count, false};
}

SourceRead readFromFile(ByteSource& source, std::int64_t offset, std::span<std::uint8_t> bytes) {
  // Reads that follow on from the last one need no seek.
  if (source.filePosition != offset) {
    if (auto sought = seekFile(source.file, offset); sought.failed()) {
      source.filePosition = -1;
      return {0, true, sought.error};
    }
  }
  auto got = std::fread(bytes.data(), 1, bytes.size(), source.file);
  source.filePosition = offset + static_cast<std::int64_t>(got);
  if (got < bytes.size()) {
    // Only the end of the file makes a read short; an error is a failure, whatever it got.
    if (std::ferror(source.file) != 0) {
      return {0, true, errno};
    }
    // Seek again before the next read, which also clears the end-of-file flag.
    source.filePosition = -1;
  }
  return {got, false};
}

} // namespace

SourceRead readAt(ByteSource& source, std::int64_t offset, std::span<std::uint8_t> bytes) {
  return source.file != nullptr ? readFromFile(source, offset, bytes)
                                : readFromMemory(source, offset, bytes);
}

void clearSourceFailure(ByteSource& source) {
  source.filePosition = -1;
  if (source.file != nullptr) {
    std::clearerr(source.file);
  }
}

} // namespace lvlsnd
