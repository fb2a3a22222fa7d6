// Where a reader gets its bytes: an open file or a span of bytes in memory. The level file
// reader and the WAV reader take one, so that tests and fuzzers read from memory through the
// very code that reads the users' files.
#pragma once

#include "problem.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace lvlsnd {

struct ByteSource {
  std::FILE* file = nullptr;            // read from here when set
  std::span<const std::uint8_t> memory; // otherwise from here
  std::int64_t filePosition = -1;       // where the file is positioned; -1 when unknown
};

ByteSource fileSource(std::FILE* file);
ByteSource memorySource(std::span<const std::uint8_t> bytes);

// The source's size; failed for a file that has none (a pipe, say: ESPIPE), or whose size the
// system cannot tell.
SystemResult<std::int64_t> sourceSize(const ByteSource& source);

// What one read at an offset got: fewer bytes than asked only at the end of the source, none
// at all when it failed. A failed read is no end of the source.
struct SourceRead {
  std::size_t got = 0;
  bool failed = false;
  int error = 0; // errno of a failed read
};
SourceRead readAt(ByteSource& source, std::int64_t offset, std::span<std::uint8_t> bytes);

// Lets a file read again after a failure, from wherever it is asked next.
void clearSourceFailure(ByteSource& source);

} // namespace lvlsnd
