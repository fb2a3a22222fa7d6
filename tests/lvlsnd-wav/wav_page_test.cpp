// The figures of the page's rows: the peak level and the waveform drawn from known samples.
#include "wav_page.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace lvlsnd;

namespace {

// `count` samples that alternate between `high` and `low`, so that every column of the
// waveform holds both.
std::vector<std::int16_t> alternating(std::size_t count, std::int16_t high, std::int16_t low) {
  std::vector<std::int16_t> samples(count);
  for (std::size_t k = 0; k < count; ++k) {
    samples[k] = k % 2 == 0 ? high : low;
  }
  return samples;
}

TEST(PageRow, ShowsThePeakAndDrawsEachColumnFromItsHighestToItsLowestSample) {
  struct Case {
    const char* signal;
    std::vector<std::int16_t> samples;
    std::string peak;                 // in dBFS, as the row shows it
    std::vector<std::string> drawn;   // pieces of the waveform's SVG
    std::vector<std::string> undrawn; // pieces it must not hold
  };
  const Case cases[] = {
      // Highs at 25% of the height (y 25.0), lows at 62.5: the outline goes along the highs
      // left to right, then back along the lows.
      {"half scale over a quarter below",
       alternating(1200, 16384, -8192),
       "-6.0",
       {"d=\"M0 25.0h1L1 25.0h1", "L600 62.5h-1L599 62.5h-1"},
       {"class=\"limit\""}},
      {"quiet", alternating(1200, 328, -328), "-40.0", {"M0 49.5h1", "L600 50.5h-1"}, {}},
      // The 16-bit limits are marked at the top and the bottom edge.
      {"at the limits",
       alternating(1200, 32767, -32768),
       "0.0",
       {"M0 0.0h1", "L600 100.0h-1", "<path class=\"limit\" d=\"M0 0h1v4h-1zM1 0h1v4h-1z"},
       {}},
      {"the low limit alone",
       alternating(1200, 0, -32768),
       "0.0",
       {"M0 96h1v4h-1z"},
       {" 0h1v4h-1z"}},
      {"silence", std::vector<std::int16_t>(1200, 0), "-inf", {"M0 50.0h1"}, {"class=\"limit\""}},
  };
  for (const auto& c : cases) {
    auto summary =
        startSummary("effect3_1.raw", "effect3_1.wav", c.samples.size() / 112, c.samples.size());
    // In two pieces, as a conversion gives them chunk by chunk.
    summarize(summary, std::span(c.samples).first(500));
    summarize(summary, std::span(c.samples).subspan(500));
    auto row = pageRow(summary, "/pages", 37800).value_or("");
    EXPECT_NE(row.find("data-label=\"Peak dBFS\">" + c.peak + "</td>"), std::string::npos)
        << c.signal << ": " << row;
    for (const auto& piece : c.drawn) {
      EXPECT_NE(row.find(piece), std::string::npos) << c.signal << " lacks " << piece;
    }
    for (const auto& piece : c.undrawn) {
      EXPECT_EQ(row.find(piece), std::string::npos) << c.signal << " has " << piece;
    }
  }
}

TEST(PageEnd, CountsTheEffectFilesInWords) {
  EXPECT_NE(pageEnd(1).find("<p>1 effect file.</p>"), std::string::npos);
  EXPECT_NE(pageEnd(12).find("<p>12 effect files.</p>"), std::string::npos);
}

} // namespace
