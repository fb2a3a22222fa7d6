#include "wav_page.hpp"

#include "command_line.hpp"
#include "effect_names.hpp"
#include "paths.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace lvlsnd {

EffectSummary startSummary(const std::string& effectPath, const std::string& wavPath,
                           std::uint64_t groups, std::uint64_t sampleCount) {
  EffectSummary summary;
  summary.effectPath = effectPath;
  summary.wavPath = wavPath;
  summary.groups = groups;
  summary.sampleCount = sampleCount;
  summary.lowest.fill(32767);
  summary.highest.fill(-32768);
  return summary;
}

namespace {

std::size_t columnsOf(const EffectSummary& summary) {
  return static_cast<std::size_t>(std::min<std::uint64_t>(summary.sampleCount, waveformColumns));
}

} // namespace

void summarize(EffectSummary& summary, std::span<const std::int16_t> samples) {
  auto columns = columnsOf(summary);
  for (auto sample : samples) {
    auto column = static_cast<std::size_t>(summary.samplesSeen++ * columns / summary.sampleCount);
    summary.lowest[column] = std::min(summary.lowest[column], sample);
    summary.highest[column] = std::max(summary.highest[column], sample);
    summary.peak = std::max(summary.peak, std::abs(int{sample}));
    summary.atLimits += sample == -32768 || sample == 32767 ? 1 : 0;
  }
}

std::string levelOfEffects(const std::vector<const char*>& paths) {
  std::optional<std::int32_t> level;
  for (const char* path : paths) {
    auto name = effectNameOf(path, ".raw");
    if (!name || (level && name->level != *level)) {
      return "";
    }
    level = name->level;
  }
  return level ? std::to_string(*level) : "";
}

std::vector<const char*> inEntryOrder(const std::vector<const char*>& paths) {
  auto ordered = paths;
  auto others = std::stable_partition(ordered.begin(), ordered.end(), [](const char* path) {
    return effectNameOf(path, ".raw").has_value();
  });
  std::stable_sort(ordered.begin(), others, [](const char* a, const char* b) {
    auto first = *effectNameOf(a, ".raw");
    auto second = *effectNameOf(b, ".raw");
    return std::pair(first.level, first.index) < std::pair(second.level, second.index);
  });
  return ordered;
}

namespace {

// How many bytes the UTF-8 sequence at the start of `bytes` takes; 0 when it is none (a stray
// or missing continuation byte, an overlong form, a surrogate, a code point past U+10FFFF).
std::size_t utf8Length(std::string_view bytes) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  auto lead = byte(0);
  std::size_t length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
  if (length == 0 || length > bytes.size()) {
    return 0;
  }
  // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  for (std::size_t k = 1; k < length; ++k) {
    if (byte(k) < (k == 1 ? low : 0x80) || byte(k) > (k == 1 ? high : 0xBF)) {
      return 0;
    }
  }
  return length;
}

// Text for the page: the characters HTML gives a meaning escaped, control characters shown as
// their pictures (ESC as U+241B), C1 controls and bytes that are no UTF-8 as U+FFFD, so that no
// file name can reach the page's bytes as it is.
std::string escapedHtml(const std::string& text) {
  constexpr const char* replacement = "\xEF\xBF\xBD";
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    auto length = utf8Length(std::string_view(text).substr(at));
    auto c = static_cast<unsigned char>(text[at]);
    if (length == 0 || (c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)) {
      escaped += replacement; // no UTF-8, or a C1 control
      at += length == 0 ? 1 : length;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      // U+2400 + c, and U+2421 for DEL, in UTF-8.
      escaped += "\xE2\x90";
      escaped += static_cast<char>(0x80 + (c == 0x7F ? 0x21 : c));
    } else if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else if (c == '"') {
      escaped += "&quot;";
    } else if (c == '\'') {
      escaped += "&#39;";
    } else {
      escaped.append(text, at, length);
    }
    at += length;
  }
  return escaped;
}

// `path` as a URL relative to the absolute folder `from`, every byte but letters, digits,
// "-._~" and the separators percent-encoded; failed when the current folder cannot be told.
SystemResult<std::string> relativeUrl(const std::string& path, const std::string& from) {
  auto absolute = absolutePath(path);
  if (absolute.failed()) {
    return {"", absolute.error};
  }
  auto relative = relativePathFrom(absolute.value, from);
  // Another drive of a Windows system has no relative way there.
  auto text = relative.empty() ? absolute.value : relative;
  std::string url = relative.empty() ? "file:///" : "";
  for (char byte : text) {
    auto c = static_cast<unsigned char>(byte);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      url += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      url += escaped;
    }
  }
  return {url};
}

// The name escaped, with a place to wrap after each "_" and "." (and nowhere else), for a name
// too long for its column.
std::string wrappableName(const std::string& name) {
  std::string html;
  for (char c : escapedHtml(name)) { // escaping brings no "_" or "."
    html += c;
    if (c == '_' || c == '.') {
      html += "<wbr>";
    }
  }
  return html;
}

std::string formatted(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The waveform as SVG, every row at the same scale: full scale at the top and bottom edges,
// one column a unit wide, the samples at the 16-bit limits marked at the edges.
std::string waveformSvg(const EffectSummary& summary) {
  auto columns = columnsOf(summary);
  auto y = [](int sample) { return formatted("%.1f", 50.0 - sample * 50.0 / 32768.0); };
  // Built by appending alone: GCC 12 warns falsely about "text" + std::string here.
  std::string outline;
  std::string limits;
  for (std::size_t column = 0; column < columns; ++column) {
    outline.append(column == 0 ? "M" : "L").append(std::to_string(column)).append(" ");
    outline.append(y(summary.highest[column])).append("h1");
    if (summary.highest[column] == 32767 || summary.lowest[column] == -32768) {
      limits.append("M").append(std::to_string(column));
      limits.append(summary.highest[column] == 32767 ? " 0h1v4h-1z" : " 96h1v4h-1z");
    }
  }
  for (auto column = columns; column-- > 0;) {
    outline.append("L").append(std::to_string(column + 1)).append(" ");
    outline.append(y(summary.lowest[column])).append("h-1");
  }
  std::string svg = "<svg viewBox=\"0 0 ";
  svg.append(std::to_string(std::max<std::size_t>(columns, 1)));
  svg.append(" 100\" preserveAspectRatio=\"none\" role=\"img\" aria-label=\"waveform of ");
  svg.append(escapedHtml(summary.effectPath)).append("\">");
  svg.append("<path class=\"axis\" d=\"M0 50H").append(std::to_string(columns)).append("\"/>");
  if (columns > 0) {
    svg.append("<path class=\"wave\" d=\"").append(outline).append("z\"/>");
  }
  if (!limits.empty()) {
    svg.append("<path class=\"limit\" d=\"").append(limits).append("\"/>");
  }
  return svg.append("</svg>");
}

// The entry index an effect file's name gives, or "" for another name.
std::string entryOf(const std::string& effectPath) {
  auto name = effectNameOf(effectPath, ".raw");
  return name ? std::to_string(name->index) : "";
}

// A player of the WAV file `url`, labelled `label` for a screen reader.
std::string player(const std::string& url, const std::string& label) {
  return "<audio controls preload=\"metadata\" src=\"" + escapedHtml(url) + "\" aria-label=\"" +
         escapedHtml(label) + "\"></audio>";
}

// The players of a row: the WAV file's; for an edit, the edit's and the level's, each labelled.
PageText players(const EffectSummary& summary, const std::string& pageFolder) {
  auto url = relativeUrl(summary.wavPath, pageFolder);
  if (url.failed()) {
    return {"", url.error};
  }
  if (!summary.edited) {
    return {player(url.value, summary.effectPath)};
  }
  auto levelUrl = relativeUrl(summary.levelWavPath, pageFolder);
  if (levelUrl.failed()) {
    return {"", levelUrl.error};
  }
  auto mark = summary.inLevel ? "edited, in the level" : "edited, not in the level yet";
  return {std::string("<span class=\"edited\">") + mark +
          "</span><span class=\"who\">your edit</span>" + player(url.value, "your edit") +
          "<span class=\"who\">in the level</span>" + player(levelUrl.value, "in the level")};
}

PageText row(const EffectSummary& summary, const std::string& pageFolder, std::uint32_t rate) {
  auto played = players(summary, pageFolder);
  if (played.error != 0) {
    return played;
  }
  auto peak = summary.peak == 0 ? std::string("-inf")
                                : formatted("%.1f", 20 * std::log10(summary.peak / 32768.0));
  const std::pair<const char*, std::string> numbers[] = {
      {"Entry", entryOf(summary.effectPath)},
      {"Groups", std::to_string(summary.groups)},
      {"Seconds", formatted("%.3f", static_cast<double>(summary.sampleCount) / rate)},
      {"Peak dBFS", peak},
      {"At limits", std::to_string(summary.atLimits)}};
  std::string cells = std::string(summary.edited ? "<tr class=\"edited\">" : "<tr>") +
                      "<td class=\"name\">" + wrappableName(summary.effectPath) + "</td>";
  for (const auto& [label, value] : numbers) {
    // The label shows beside the number where a narrow screen has no room for the heading.
    cells.append("<td class=\"n\" data-label=\"").append(label).append("\">");
    cells.append(value).append("</td>");
  }
  return {cells + "<td class=\"wave\">" + waveformSvg(summary) + "</td><td class=\"play\">" +
          played.text + "</td></tr>\n"};
}

// Wide windows show a table: the names and numbers take what they need, the waveform gives way,
// the player keeps its width. Narrow ones show each effect as a card: the name, the numbers,
// then the waveform and the player across the whole width.
constexpr const char* styleSheet = R"(:root { color-scheme: light dark; --text: #1c1c1c;
  --back: #fbfbfa; --rule: #d8d8d4; --wave: #2b6cb0; --limit: #c53030; --axis: #b8b8b2; }
@media (prefers-color-scheme: dark) { :root { --text: #e8e8e4; --back: #171717;
  --rule: #3a3a38; --wave: #63b3ed; --limit: #fc8181; --axis: #4a4a46; } }
body { margin: 1rem; font: 15px/1.4 system-ui, sans-serif; color: var(--text);
  background: var(--back); }
h1 { font-size: 1.3rem; margin: 0 0 .3rem; }
p { margin: 0 0 .6rem; }
code { font-size: .9em; }
table { display: grid; width: 100%; border-collapse: collapse;
  grid-template-columns: minmax(0, max-content) repeat(5, max-content) minmax(6rem, 1fr) max-content; }
thead, tbody, tr { display: contents; }
th, td { display: flex; align-items: center; padding: .35rem .5rem; text-align: left;
  border-bottom: 1px solid var(--rule); }
td.n { justify-content: flex-end; font-variant-numeric: tabular-nums; }
td.name { overflow-wrap: anywhere; }
svg { display: block; width: 100%; height: 3rem; }
.wave path.wave { fill: var(--wave); }
.wave path.limit { fill: var(--limit); }
.wave path.axis { stroke: var(--axis); stroke-width: 1; vector-effect: non-scaling-stroke; }
audio { display: block; width: 16rem; }
td.play { flex-direction: column; align-items: flex-start; justify-content: center; gap: .2rem; }
.edited { font-size: .85em; color: var(--limit); }
.who { font-size: .85em; }
@media (max-width: 62rem) {
  table, tbody { display: block; }
  thead { display: none; }
  tr { display: flex; flex-wrap: wrap; gap: .2rem 1rem; padding: .5rem 0;
    border-bottom: 1px solid var(--rule); }
  td { display: block; border: 0; padding: 0; }
  td.n::before { content: attr(data-label) " "; opacity: .7; font-size: .85em; }
  td.name, td.wave, td.play { flex: 1 0 100%; min-width: 0; }
  audio { max-width: 100%; min-width: 15rem; }
})";

// The line that tells how to put edited sounds back, as lvlsnd-replace is run for this rate: all
// of a level's at once, by the names lvlsnd-wav gave them, when the effects are of one level.
std::string replaceHint(std::uint32_t rate, const std::string& level) {
  auto rateOption = rate == defaultEffectRate ? "" : "--rate " + std::to_string(rate) + " ";
  auto command = "lvlsnd-replace " + rateOption +
                 (level.empty() ? "LEVEL INDEX NEW.wav..." : "LEVEL effect" + level + "_*.wav");
  return "<p>Edit the WAV files in place, then put them back in one run: <code>" +
         escapedHtml(command) +
         "</code> (any rate, 1 to 8 channels, at most the effect&#39;s length).</p>\n";
}

} // namespace

PageText pageStart(const std::string& firstEffectPath, const std::string& level,
                   std::uint32_t rate) {
  // The folder's own name, or the whole folder where it has none (a drive's root).
  auto absolute = absoluteFolderOf(firstEffectPath);
  if (absolute.failed()) {
    return {"", absolute.error};
  }
  auto name = lastNameOf(absolute.value);
  auto folder = name.empty() ? absolute.value : name;
  // Effect files of one level are named after it; the folder then goes under the heading.
  auto title = escapedHtml(level.empty() ? "Sound effects in " + folder
                                         : "Level " + level + " sound effects");
  auto folderLine = level.empty() ? "" : "<p>Folder: " + escapedHtml(folder) + "</p>\n";
  return {"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
          "<title>" +
          title + "</title>\n<style>\n" + styleSheet + "\n</style>\n</head>\n<body>\n<h1>" + title +
          "</h1>\n" + folderLine + replaceHint(rate, level) + "<p>Played at " +
          std::to_string(rate) +
          " Hz. Every waveform has the same scale, full scale at its edges; red marks samples at "
          "the 16-bit limits.</p>\n<table>\n<thead><tr><th>Effect file</th><th>Entry</th>"
          "<th>Groups</th><th>Seconds</th><th>Peak dBFS</th><th>At limits</th><th>Waveform</th>"
          "<th>Listen</th></tr></thead>\n<tbody>\n"};
}

PageText pageRow(const EffectSummary& summary, const std::string& pageFolder, std::uint32_t rate) {
  return row(summary, pageFolder, rate);
}

std::string pageEnd(std::size_t effectCount) {
  return "</tbody>\n</table>\n<p>" + counted(effectCount, "effect file") +
         ".</p>\n</body>\n</html>\n";
}

} // namespace lvlsnd
