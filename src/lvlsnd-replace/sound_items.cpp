#include "sound_items.hpp"

#include "command_line.hpp"
#include "effect_names.hpp"

#include <algorithm>
#include <string_view>

namespace lvlsnd {

bool isIndex(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

namespace {

// The item as the command line gave it, for a message.
std::string typed(const SoundItem& item) {
  return item.nameLevel ? item.wavPath : item.indexText + " " + item.wavPath;
}

// The usage problem of two items that name one entry: of all such pairs, the one whose second
// item comes first.
Outcome entryNamedTwice(const std::vector<SoundItem>& items) {
  std::vector<std::pair<std::size_t, std::size_t>> named; // entry index, item
  for (std::size_t k = 0; k < items.size(); ++k) {
    std::size_t index = 0;
    // An index too large for an entry is refused once the sound table is read.
    if (readDecimal(items[k].indexText, index)) {
      named.emplace_back(index, k);
    }
  }
  std::sort(named.begin(), named.end());
  std::size_t found = 0; // where in `named` the pair's second item is; 0 for none
  for (std::size_t k = 1; k < named.size(); ++k) {
    if (named[k].first == named[k - 1].first &&
        (found == 0 || named[k].second < named[found].second)) {
      found = k;
    }
  }
  if (found == 0) {
    return std::nullopt;
  }
  return usageProblem("effect " + std::to_string(named[found].first) +
                      " is given twice: " + typed(items[named[found - 1].second]) + ", then " +
                      typed(items[named[found].second]));
}

} // namespace

SoundItems readSoundItems(const char* levelPath, std::span<const char* const> operands) {
  SoundItems read;
  for (std::size_t k = 0; k < operands.size() && !read.problem; ++k) {
    std::string_view operand = operands[k];
    if (isIndex(operand)) {
      if (k + 1 == operands.size() || isIndex(operands[k + 1])) {
        read.problem =
            usageProblem("INDEX " + std::string(operand) + " needs a SOUND.wav after it");
      } else {
        read.items.push_back({operands[k + 1], std::string(operand), std::nullopt});
        ++k;
      }
    } else if (auto name = effectNameOf(operands[k], ".wav")) {
      read.items.push_back({operands[k], std::to_string(name->index), name->level});
    } else if (effectNameOf(operands[k], ".raw")) {
      read.problem = usageProblem(std::string(operand) + " is an effect file; lvlsnd-wav " +
                                  std::string(operand) + " makes its WAV file");
    } else {
      read.problem =
          usageProblem(std::string(operand) +
                       " is not named effectN_M.wav; give the INDEX of its effect before it");
    }
  }
  if (read.problem && isIndex(levelPath)) {
    read.problem =
        usageProblem(std::string(levelPath) +
                     " is an index, not a level file; the order is LEVEL INDEX SOUND.wav");
  }
  if (!read.problem && read.items.empty()) {
    read.problem =
        usageProblem("LEVEL and at least one INDEX SOUND.wav or effectN_M.wav are needed");
  }
  if (!read.problem) {
    read.problem = entryNamedTwice(read.items);
  }
  return read;
}

} // namespace lvlsnd
