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
    auto row = pageRow(summary, "/pages", 37800).text;
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

TEST(PageRow, ShowsAnyFileNameAsTextAndLinksItByItsBytes) {
  struct Case {
    std::string name;
    std::string shown; // in the row's text
    std::string link;  // in the player's address, of the WAV file named as the effect file
  };
  const Case cases[] = {
      {"<b>&\"'.raw", "&lt;b&gt;&amp;&quot;&#39;", "%3Cb%3E%26%22%27.raw"},
      {"caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5.raw", "caf\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5",
       "caf%C3%A9%E2%82%AC%F0%9F%8E%B5.raw"},
      // Control characters as their pictures: ESC, tab, DEL.
      {"a\x1B[31m\t\x7F.raw", "a\xE2\x90\x9B[31m\xE2\x90\x89\xE2\x90\xA1", "a%1B%5B31m%09%7F.raw"},
      // No UTF-8: a stray byte, a cut sequence, an overlong "/", a surrogate, past U+10FFFF, and
      // a C1 control.
      {"\xFF\xE2\x82.raw", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "%FF%E2%82.raw"},
      {"\xC0\xAF\xED\xA0\x80.raw", std::string(15, ' '), "%C0%AF%ED%A0%80.raw"},
      {"\xF4\x90\x80\x80\xC2\x9B.raw", std::string(15, ' '), "%F4%90%80%80%C2%9B.raw"},
  };
  for (auto c : cases) {
    if (c.shown == std::string(15, ' ')) {
      c.shown.clear();
      for (int k = 0; k < 5; ++k) {
        c.shown += "\xEF\xBF\xBD";
      }
    }
    auto wav = c.name.substr(0, c.name.size() - 4) + ".wav";
    auto summary = startSummary(c.name, wav, 1, 112);
    auto row = pageRow(summary, "/pages", 37800).text;
    auto text = row;
    for (auto at = text.find("<wbr>"); at != std::string::npos; at = text.find("<wbr>")) {
      text.erase(at, 5);
    }
    EXPECT_NE(text.find(">" + c.shown + ".raw</td>"), std::string::npos) << c.link << ": " << row;
    auto link = c.link.substr(0, c.link.size() - 4) + ".wav\"";
    EXPECT_NE(row.find(link), std::string::npos) << link << ": " << row;
    for (char byte : row) {
      auto value = static_cast<unsigned char>(byte);
      EXPECT_TRUE(value >= 0x20 || byte == '\n') << c.link << " puts a control byte in the page";
    }
  }
}

TEST(PageEnd, CountsTheEffectFilesInWords) {
  EXPECT_NE(pageEnd(1).find("<p>1 effect file.</p>"), std::string::npos);
  EXPECT_NE(pageEnd(12).find("<p>12 effect files.</p>"), std::string::npos);
}

} // namespace
