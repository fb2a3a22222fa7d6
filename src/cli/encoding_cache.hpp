// The encodings remembered between runs, so that a sound put back before is not encoded again:
// the encoder always gives the same units for the same samples, so the digest of those units,
// kept under the digest of what shaped them (sound_encoding.hpp), tells whether an entry holds
// them already.
//
// The cache lives in $XDG_CACHE_HOME/lvlsnd (else ~/.cache/lvlsnd), on Windows in
// %LOCALAPPDATA%\lvlsnd; LVLSND_CACHE=off turns it off. It is 256 files, each a short list of
// the latest encodings whose key starts with one byte, so it never grows past about half a MB.
// A cache that cannot be read or written, holds a damaged or foreign file, or is written by two
// runs at once, only costs an encoding: a run never fails for it and never writes other bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lvlsnd {

// A 128-bit digest (XXH3-128) of bytes.
using Digest = std::array<std::uint8_t, 16>;

// Digests bytes given a piece at a time.
class DigestStream {
public:
  DigestStream();
  ~DigestStream();
  DigestStream(const DigestStream&) = delete;
  DigestStream& operator=(const DigestStream&) = delete;
  void add(std::span<const std::uint8_t> bytes);
  void addNumber(std::uint64_t number); // as eight bytes, least significant first
  Digest digest() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};

// Where the cache is; an empty folder when it is off or there is no home for it.
struct EncodingCache {
  std::string folder;
};
EncodingCache encodingCacheOfEnvironment();

// The digest of the units remembered for `key`; nothing when there is none or it cannot be read.
std::optional<Digest> rememberedEncoding(const EncodingCache& cache, const Digest& key);
// Remembers `units` (a digest of units) for `key`, as far as the cache can be written.
void rememberEncoding(const EncodingCache& cache, const Digest& key, const Digest& units);

} // namespace lvlsnd
