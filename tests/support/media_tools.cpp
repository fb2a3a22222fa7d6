#include "media_tools.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

constexpr std::size_t sectorBytes = 2352;
constexpr std::size_t groupsPerSector = 18;
constexpr std::size_t groupBytes = 128;
constexpr std::size_t sectorDataStart = 24;

std::string quoted(const std::filesystem::path& path) {
  std::string text(1, '\'');
  text.append(path.string()).push_back('\'');
  return text;
}

std::string textOf(const std::filesystem::path& path) {
  auto bytes = readFile(path.string().c_str());
  return std::string(bytes.begin(), bytes.end());
}

std::int16_t sampleAt(const Bytes& bytes, std::size_t at) {
  return static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
}

} // namespace

bool haveFfmpeg() {
  return std::system("command -v ffmpeg > /dev/null 2>&1 && command -v ffprobe > /dev/null") == 0;
}

Bytes xaSectors(const Bytes& rawGroups) {
  constexpr std::size_t dataBytes = groupsPerSector * groupBytes;
  Bytes sectors;
  for (std::size_t at = 0; at < rawGroups.size(); at += dataBytes) {
    // Sync, header, then the subheader twice: file 1, channel 1, real-time form 2 audio,
    // stereo 37800 Hz 4-bit.
    Bytes sector(sectorBytes, 0);
    std::fill(sector.begin() + 1, sector.begin() + 11, 0xFF);
    sector[13] = 0x02;
    sector[15] = 0x02; // mode 2
    for (std::size_t copy : {std::size_t{16}, std::size_t{20}}) {
      sector[copy] = 1;
      sector[copy + 1] = 1;
      sector[copy + 2] = 0x64;
      sector[copy + 3] = 0x01;
    }
    auto count = std::min(dataBytes, rawGroups.size() - at);
    std::copy_n(rawGroups.begin() + static_cast<std::ptrdiff_t>(at), count,
                sector.begin() + sectorDataStart);
    sectors.insert(sectors.end(), sector.begin(), sector.end());
  }
  return sectors;
}

Stereo decodeWithFfmpeg(const Bytes& rawGroups, const std::filesystem::path& folder) {
  auto xa = folder / "effect.xa";
  auto pcm = folder / "decoded.pcm";
  auto log = folder / "ffmpeg.log";
  writeFile(xa.string().c_str(), xaSectors(rawGroups));
  // The demuxer reports the end of the sectors as an input error; the status tells.
  auto command = "ffmpeg -nostdin -y -v error -f psxstr -i " + quoted(xa) +
                 " -f s16le -acodec pcm_s16le " + quoted(pcm) + " 2> " + quoted(log);
  EXPECT_EQ(std::system(command.c_str()), 0) << textOf(log);
  auto bytes = readFile(pcm.string().c_str());
  Stereo stereo;
  for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
    stereo.left.push_back(sampleAt(bytes, at));
    stereo.right.push_back(sampleAt(bytes, at + 2));
  }
  return stereo;
}

std::string probeWav(const std::filesystem::path& wav) {
  auto out = wav.string() + ".probe";
  auto command = "ffprobe -v error -select_streams a:0 -show_entries "
                 "stream=codec_name,channels,sample_rate,duration_ts -of "
                 "default=noprint_wrappers=1:nokey=1 " +
                 quoted(wav) + " > '" + out + "' 2>&1";
  std::system(command.c_str());
  auto text = textOf(out);
  std::remove(out.c_str());
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  // A WAV file with no samples has no duration at all.
  if (text.ends_with(" N/A")) {
    text.replace(text.size() - 3, 3, "0");
  }
  return text;
}

Samples wavSamples(const Bytes& wav) {
  Samples samples;
  for (std::size_t at = 44; at + 2 <= wav.size(); at += 2) {
    samples.push_back(sampleAt(wav, at));
  }
  return samples;
}

double signalToNoiseDb(const Samples& source, const Samples& decoded) {
  double signal = 0;
  double noise = 0;
  for (std::size_t k = 0; k < source.size(); ++k) {
    double wanted = source[k];
    double difference = wanted - (k < decoded.size() ? decoded[k] : 0);
    signal += wanted * wanted;
    noise += difference * difference;
  }
  return 10 * std::log10(signal / noise);
}
