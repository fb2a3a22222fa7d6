// The sounds a run puts in, as its command line names them after LEVEL: "INDEX SOUND.wav", or a
// WAV file named effect<L>_<I>.wav as lvlsnd-wav names it, which names entry I of level L.
#pragma once

#include "problem.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lvlsnd {

struct SoundItem {
  const char* wavPath = nullptr;
  std::string indexText;                 // the INDEX as typed, or the I of the WAV file's name
  std::optional<std::int32_t> nameLevel; // the L of a WAV file given by its name alone
};

// The items `operands` (those after LEVEL) name, or the usage problem of the command line: an
// INDEX with no SOUND.wav after it, a WAV file not named effect<L>_<I>.wav given with no INDEX,
// or one entry named twice. `levelPath` is the operand before them, named when it looks like an
// INDEX given first.
struct SoundItems {
  std::vector<SoundItem> items;
  Outcome problem;
};
// Whether an operand is an INDEX: decimal digits alone.
bool isIndex(std::string_view text);

SoundItems readSoundItems(const char* levelPath, std::span<const char* const> operands);

} // namespace lvlsnd
