#include "sound_items.hpp"

#include "command_line.hpp"
#include "effect_names.hpp"

#include <algorithm>
#include <string_view>

namespace lvlsnd {

namespace {

bool isIndex(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The item as the command line gave it, for a message.
std::string typed(const SoundItem& item) {
  return item.nameLevel ? item.wavPath : item.indexText + " " + item.wavPath;
}

// The usage problem of two items that name one entry, or "".
std::string entryNamedTwice(const std::vector<SoundItem>& items) {
  for (std::size_t k = 0; k < items.size(); ++k) {
    std::size_t index = 0;
    if (!readDecimal(items[k].indexText, index)) {
      continue; // too large for an entry: refused once the sound table is read
    }
    for (std::size_t before = 0; before < k; ++before) {
      std::size_t other = 0;
      if (readDecimal(items[before].indexText, other) && other == index) {
        return "effect " + std::to_string(index) + " is given twice: " + typed(items[before]) +
               ", then " + typed(items[k]);
      }
    }
  }
  return "";
}

} // namespace

SoundItems readSoundItems(const char* levelPath, std::span<const char* const> operands) {
  SoundItems read;
  for (std::size_t k = 0; k < operands.size() && read.problem.empty(); ++k) {
    std::string_view operand = operands[k];
    if (isIndex(operand)) {
      if (k + 1 == operands.size() || isIndex(operands[k + 1])) {
        read.problem = "INDEX " + std::string(operand) + " needs a SOUND.wav after it";
      } else {
        read.items.push_back({operands[k + 1], std::string(operand), std::nullopt});
        ++k;
      }
    } else if (auto name = effectNameOf(operands[k], ".wav")) {
      read.items.push_back({operands[k], std::to_string(name->index), name->level});
    } else {
      read.problem = std::string(operand) +
                     " is not named effectN_M.wav; give the INDEX of its effect before it";
    }
  }
  if (!read.problem.empty() && isIndex(levelPath)) {
    read.problem = std::string(levelPath) +
                   " is an index, not a level file; the order is LEVEL INDEX SOUND.wav";
  }
  if (read.problem.empty() && read.items.empty()) {
    read.problem = "LEVEL and at least one INDEX SOUND.wav or effectN_M.wav are needed";
  }
  if (read.problem.empty()) {
    read.problem = entryNamedTwice(read.items);
  }
  return read;
}

} // namespace lvlsnd
