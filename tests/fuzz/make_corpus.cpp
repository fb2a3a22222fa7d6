// Writes the fuzzers' seed corpora: level files whole and cut short, with the values where
// reading a level file is hardest; effect files as lvlsnd writes them; and WAV files of every
// accepted format and chunk order.
#include "level_builder.hpp"
#include "wav_builder.hpp"
#include "xa_adpcm.hpp"

#include <cstdio>
#include <string>

using namespace lvlsnd;

namespace {

LevelLayout validLayout(std::uint8_t unitSelector) {
  LevelLayout layout;
  layout.blockSizes[0] = 0x10;
  layout.blockSizes[2] = 0x801;
  for (std::uint8_t seed = 0; seed < 3; ++seed) {
    auto group = countingGroup(static_cast<std::uint8_t>(seed * 40));
    layout.tail.insert(layout.tail.end(), group.begin(), group.end());
  }
  layout.records = {{offsetToTail(1, 3, 0), 2, unitSelector},
                    {offsetToTail(2, 3, 120), 0, unitSelector},
                    {offsetToTail(3, 3, 120), 2, unitSelector}};
  return layout;
}

Bytes withHeader(std::uint16_t blockCount, std::uint32_t entryCount, std::uint32_t groupOffset) {
  Bytes bytes;
  putU16be(bytes, blockCount);
  padTo(bytes, 0x800);
  putU32be(bytes, entryCount);
  putU32be(bytes, 0);
  putU32be(bytes, groupOffset);
  putU16be(bytes, 1);
  putU16be(bytes, 0x0100);
  auto group = countingGroup(9);
  bytes.insert(bytes.end(), group.begin(), group.end());
  return bytes;
}

// An effect file of `count` groups converted from counting stored groups.
Bytes effectOf(std::size_t count, std::uint8_t unitSelector) {
  Bytes effect;
  for (std::size_t k = 0; k < count; ++k) {
    StoredGroup stored;
    auto group = countingGroup(static_cast<std::uint8_t>(k * 40));
    std::copy(group.begin(), group.end(), stored.begin());
    auto raw = convertGroup(stored, unitSelector);
    effect.insert(effect.end(), raw.begin(), raw.end());
  }
  return effect;
}

Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("Usage: lvlsnd_make_corpus level-folder wav-folder effect-folder\n", stderr);
    return 2;
  }
  const auto layout = validLayout(0);
  const auto even = buildLevelFile(layout);
  const auto table = soundHeaderStart(layout);
  const std::pair<const char*, Bytes> seeds[] = {
      {"valid-even-units", even},
      {"valid-odd-units", buildLevelFile(validLayout(1))},
      {"cut-in-block-header", cut(even, 7)},
      {"cut-in-sound-header", cut(even, table + 5)},
      {"cut-in-record", cut(even, table + 8 + 8 + 3)},
      {"cut-in-group", cut(even, even.size() - 200)},
      {"block-count-0", withHeader(0, 2, 8)},
      {"block-count-negative", withHeader(0xFFFF, 2, 8)},
      {"entry-count-max", withHeader(0, 0x7FFFFFFF, 8)},
      {"offset-0x80000000", withHeader(0, 2, 0x80000000)},
      {"offset-0xffffffff", withHeader(0, 2, 0xFFFFFFFF)},
  };
  for (const auto& [name, bytes] : seeds) {
    writeFile((std::string(argv[1]) + "/" + name).c_str(), bytes);
  }

  const Bytes frames(24, 0x5A);
  const Chunk list = {"LIST", Bytes(5, 'x')};
  const std::pair<const char*, Bytes> wavSeeds[] = {
      {"pcm8-stereo", wavFile({{"fmt ", fmtBytes(1, 2, 8)}, {"data", frames}})},
      {"pcm16-mono", wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", frames}})},
      {"pcm24-mono", wavFile({{"fmt ", fmtBytes(1, 1, 24)}, {"data", frames}})},
      {"float-stereo", wavFile({{"fmt ", fmtBytes(3, 2, 32)}, {"data", frames}})},
      {"extensible-pcm16", wavFile({{"fmt ", fmtBytes(0, 1, 16, 1)}, {"data", frames}})},
      {"data-first-odd-chunk", wavFile({list, {"data", frames}, {"fmt ", fmtBytes(1, 1, 16)}})},
      {"data-cut-short", cut(wavFile({{"fmt ", fmtBytes(1, 1, 16)}, {"data", frames}}), 50)},
      {"pcm32-mono", wavFile({{"fmt ", fmtBytes(1, 1, 32)}, {"data", frames}})},
      {"float64-mono", wavFile({{"fmt ", fmtBytes(3, 1, 64)}, {"data", frames}})},
      {"pcm8-eight-channels", wavFile({{"fmt ", fmtBytes(1, 8, 8)}, {"data", frames}})},
  };
  for (const auto& [name, bytes] : wavSeeds) {
    writeFile((std::string(argv[2]) + "/" + name).c_str(), bytes);
  }
  const std::pair<const char*, Bytes> effectSeeds[] = {
      {"one-group-even", effectOf(1, 0)},
      {"three-groups-odd", effectOf(3, 1)},
      {"partial-group", cut(effectOf(2, 1), 200)},
  };
  for (const auto& [name, bytes] : effectSeeds) {
    writeFile((std::string(argv[3]) + "/" + name).c_str(), bytes);
  }
  return 0;
}
