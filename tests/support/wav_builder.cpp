#include "wav_builder.hpp"

namespace {

void putU16le(Bytes& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putU32le(Bytes& bytes, std::uint32_t value) {
  putU16le(bytes, static_cast<std::uint16_t>(value));
  putU16le(bytes, static_cast<std::uint16_t>(value >> 16));
}

} // namespace

Bytes fmtBytes(std::uint16_t format, std::uint16_t channels, std::uint16_t bits,
               std::uint16_t subformat, std::uint32_t rate) {
  Bytes bytes;
  putU16le(bytes, subformat != 0 ? 0xFFFE : format);
  putU16le(bytes, channels);
  putU32le(bytes, rate);
  putU32le(bytes, rate * channels * bits / 8);
  putU16le(bytes, static_cast<std::uint16_t>(channels * bits / 8));
  putU16le(bytes, bits);
  if (subformat != 0) {
    putU16le(bytes, 22);
    putU16le(bytes, bits);
    putU32le(bytes, 0);
    putU16le(bytes, subformat);
    const std::uint8_t guidRest[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    bytes.insert(bytes.end(), std::begin(guidRest), std::end(guidRest));
  }
  return bytes;
}

Bytes wavFile(const std::vector<Chunk>& chunks) {
  Bytes body = {'W', 'A', 'V', 'E'};
  for (const auto& [tag, bytes] : chunks) {
    body.insert(body.end(), tag.begin(), tag.end());
    putU32le(body, static_cast<std::uint32_t>(bytes.size()));
    body.insert(body.end(), bytes.begin(), bytes.end());
    if (bytes.size() % 2 != 0) {
      body.push_back(0);
    }
  }
  Bytes file = {'R', 'I', 'F', 'F'};
  putU32le(file, static_cast<std::uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes monoWav(const std::vector<std::int16_t>& samples, std::uint32_t rate) {
  Bytes data;
  for (auto sample : samples) {
    putU16le(data, static_cast<std::uint16_t>(sample));
  }
  return wavFile({{"fmt ", fmtBytes(1, 1, 16, 0, rate)}, {"data", data}});
}
