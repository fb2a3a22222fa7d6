// A test fixture with its own scratch folder, for tests that write level files.
#pragma once

#include "support/level_builder.hpp"
#include "support/tool_runner.hpp"

#include <gtest/gtest.h>
#include <string>

class ScratchTest : public ::testing::Test {
protected:
  ~ScratchTest() override { removeScratch(scratch); }

  // Writes `bytes` as `name` beside the working directory and returns the path the tool is
  // given for it, relative to the working directory.
  std::string putLevelFile(const std::string& name, const Bytes& bytes) {
    writeFile((scratch.root / name).string().c_str(), bytes);
    return "../" + name;
  }

  Scratch scratch = makeScratch();
};

// The two lines that every run over a readable level file prints before the effects.
inline std::string headerLines(const std::string& path, const std::string& soundHeaderOffset) {
  return "Reading block header from " + path + " @$0...\nReading sound header from " + path +
         " @$" + soundHeaderOffset + "...\n";
}
