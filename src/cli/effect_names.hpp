// How lvlsnd names what it writes: the level number it takes from a level file's name, and the
// names effect<level>_<index>.raw of the effect files, which lvlsnd-wav turns into .wav.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lvlsnd {

// The level number is the first run of decimal digits in the file's own name (after the last
// "/", on Windows also "\" or a drive's ":"); only a name without digits takes the first run
// anywhere in the path, and none at all gives 0. Too many digits saturate at the largest 32-bit
// value.
std::int32_t levelNumberFromPath(const char* path);

// Whether `text` ends in `ending`, a lower-case ASCII text, its letters in any case: ".RAW" and
// ".raw" both end an effect file's name.
bool endsInAnyCase(std::string_view text, std::string_view ending);

// The level and the entry index that a file's own name gives when it is named as lvlsnd names
// effect files, effect<level>_<index> and then `extension` (".raw", ".wav"), its letters in any
// case; nothing for another name or for numbers of more than 32 bits.
struct EffectName {
  std::int32_t level = 0;
  std::size_t index = 0;
};
std::optional<EffectName> effectNameOf(const std::string& path, std::string_view extension);

} // namespace lvlsnd
