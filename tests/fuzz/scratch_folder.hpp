// A scratch folder for one fuzz input, on tmpfs where there is one: what the tools write never
// needs to reach a disk.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

inline std::filesystem::path makeScratchFolder() {
  namespace fs = std::filesystem;
  auto parent = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (parent / "lvlsnd-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::abort();
  }
  return pattern;
}

inline void writeInput(const std::filesystem::path& path, const std::uint8_t* data,
                       std::size_t size) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}
