// The page that lvlsnd-wav --page writes: one row per effect file converted, with its length,
// peak level, a waveform drawn while it was decoded, and a player for its WAV file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lvlsnd {

// A waveform is drawn in this many columns, each the lowest and highest sample that falls in
// it, so that a summary stays a few KB whatever the effect's length.
inline constexpr std::size_t waveformColumns = 600;

// What the page shows of one effect file, gathered from its samples as they are decoded.
struct EffectSummary {
  std::string effectPath;
  std::string wavPath;
  std::uint64_t groups = 0;
  std::uint64_t sampleCount = 0; // all the effect's samples
  std::uint64_t samplesSeen = 0;
  int peak = 0; // the largest magnitude, 32768 for -32768
  std::uint64_t atLimits = 0;
  // Its WAV file was kept, holding other samples (an edit): the row has two players, the edit
  // and the effect as the level holds it, decoded into `levelWavPath`.
  bool edited = false;
  bool inLevel = false; // the edit is what the level holds
  std::string levelWavPath;
  std::array<std::int16_t, waveformColumns> lowest{};
  std::array<std::int16_t, waveformColumns> highest{};
};

EffectSummary startSummary(const std::string& effectPath, const std::string& wavPath,
                           std::uint64_t groups, std::uint64_t sampleCount);
// Takes the effect's next decoded samples into its summary.
void summarize(EffectSummary& summary, std::span<const std::int16_t> samples);

// The level of the effect files `paths` when all are named as lvlsnd names them,
// effect<level>_<index>.raw, and are of one level, or "".
std::string levelOfEffects(const std::vector<const char*>& paths);
// The effect files in the page's order: those named effect<level>_<index>.raw by level, then
// index; the others after them, in the order given.
std::vector<const char*> inEntryOrder(const std::vector<const char*>& paths);

// A part of the page, or why it could not be made: the error number (errno) of the current
// folder that could not be told, for a page with wrong links would look right.
struct PageText {
  std::string text;
  int error = 0; // 0: made
};

// The page is written as the files are converted, so that its memory stays flat however many
// there are; it stands alone (no script, no style sheet or URL from elsewhere). Its start, for
// the folder of the first effect file converted, titled after `level`
// when there is one.
PageText pageStart(const std::string& firstEffectPath, const std::string& level,
                   std::uint32_t rate);
// One effect's row, for a page in the absolute folder `pageFolder`: the player's source is
// relative to it.
PageText pageRow(const EffectSummary& summary, const std::string& pageFolder, std::uint32_t rate);
// The end of the page, after the rows of `effectCount` effect files (at least one: a page of
// none is not written).
std::string pageEnd(std::size_t effectCount);

} // namespace lvlsnd
