#include "encoding_cache.hpp"

#include "environment.hpp"
#include "file_update.hpp"
#include "files.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lvlsnd {

struct DigestStream::State {
  XXH3_state_t xxh3;
};

DigestStream::DigestStream() : state_(new State) {
  XXH3_128bits_reset(&state_->xxh3);
}

DigestStream::~DigestStream() = default;

void DigestStream::add(std::span<const std::uint8_t> bytes) {
  XXH3_128bits_update(&state_->xxh3, bytes.data(), bytes.size());
}

void DigestStream::addNumber(std::uint64_t number) {
  std::array<std::uint8_t, 8> bytes{};
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    bytes[k] = static_cast<std::uint8_t>(number >> (8 * k));
  }
  add(bytes);
}

Digest DigestStream::digest() const {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state_->xxh3));
  Digest digest{};
  std::memcpy(digest.data(), canonical.digest, digest.size());
  return digest;
}

namespace {

// A cache file: this mark, then up to `recordsPerFile` records of a key and its units' digest,
// the latest first.
constexpr std::array<std::uint8_t, 8> fileMark = {'l', 'v', 'l', 's', 'n', 'd', 'E', '1'};
constexpr std::size_t recordSize = 2 * sizeof(Digest);
constexpr std::size_t recordsPerFile = 64;
constexpr std::size_t largestFile = fileMark.size() + recordsPerFile * recordSize;

std::string cacheFileOf(const EncodingCache& cache, const Digest& key) {
  char name[32];
  std::snprintf(name, sizeof name, "/encodings-%02x", key[0]);
  return cache.folder + name;
}

// The records of the cache file `path`; none when it is missing, cannot be read, or is not a
// cache file (`foreign` says so, so that it is left alone).
std::vector<std::uint8_t> recordsOf(const std::string& path, bool& foreign) {
  foreign = false;
  std::vector<std::uint8_t> bytes(largestFile + 1);
  auto [file, error] = openFile(path.c_str(), "rb");
  if (error != 0) {
    return {};
  }
  auto got = std::fread(bytes.data(), 1, bytes.size(), file);
  bool readWell = std::ferror(file) == 0;
  std::fclose(file);
  bytes.resize(got);
  foreign = !readWell || got > largestFile || got < fileMark.size() ||
            !std::equal(fileMark.begin(), fileMark.end(), bytes.begin());
  if (foreign) {
    return {};
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(fileMark.size()));
  bytes.resize(bytes.size() - bytes.size() % recordSize); // a record cut short is left out
  return bytes;
}

} // namespace

EncodingCache encodingCacheOfEnvironment() {
  auto setting = environmentValue("LVLSND_CACHE");
  if (setting && *setting == "off") {
    return {};
  }
#ifdef _WIN32
  auto home = environmentValue("LOCALAPPDATA");
  return {home ? *home + "\\lvlsnd" : ""};
#else
  auto base = environmentValue("XDG_CACHE_HOME");
  if (!base || !base->starts_with("/")) { // a relative one is not taken
    auto home = environmentValue("HOME");
    if (!home) {
      return {};
    }
    base = *home + "/.cache";
  }
  return {*base + "/lvlsnd"};
#endif
}

std::optional<Digest> rememberedEncoding(const EncodingCache& cache, const Digest& key) {
  if (cache.folder.empty()) {
    return std::nullopt;
  }
  bool foreign = false;
  auto records = recordsOf(cacheFileOf(cache, key), foreign);
  for (std::size_t at = 0; at < records.size(); at += recordSize) {
    if (std::equal(key.begin(), key.end(), records.begin() + static_cast<std::ptrdiff_t>(at))) {
      Digest units{};
      std::copy_n(records.begin() + static_cast<std::ptrdiff_t>(at + key.size()), units.size(),
                  units.begin());
      return units;
    }
  }
  return std::nullopt;
}

void rememberEncoding(const EncodingCache& cache, const Digest& key, const Digest& units) {
  if (cache.folder.empty()) {
    return;
  }
  auto parent = cache.folder.substr(0, cache.folder.find_last_of("/\\"));
  if (makeFolder(cache.folder.c_str()).failed() &&
      (makeFolder(parent.c_str()).failed() || makeFolder(cache.folder.c_str()).failed())) {
    return;
  }
  auto path = cacheFileOf(cache, key);
  bool foreign = false;
  auto old = recordsOf(path, foreign);
  if (foreign) {
    return;
  }
  std::vector<std::uint8_t> bytes(fileMark.begin(), fileMark.end());
  bytes.insert(bytes.end(), key.begin(), key.end());
  bytes.insert(bytes.end(), units.begin(), units.end());
  for (std::size_t at = 0; at < old.size() && bytes.size() < largestFile; at += recordSize) {
    auto record = old.begin() + static_cast<std::ptrdiff_t>(at);
    if (!std::equal(key.begin(), key.end(), record)) {
      bytes.insert(bytes.end(), record, record + recordSize);
    }
  }
  FileUpdate update;
  if (!update.begin(path, {}) && update.write(bytes.data(), bytes.size())) {
    update.commit();
  }
}

} // namespace lvlsnd
