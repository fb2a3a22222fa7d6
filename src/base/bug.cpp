#include "bug.hpp"

#include <cstdio>
#include <cstdlib>

namespace lvlsnd {

namespace {

const char* nameOfProgram = "lvlsnd";

} // namespace

void nameProgram(const char* name) {
  nameOfProgram = name;
}

const char* programName() {
  return nameOfProgram;
}

void bug(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: bug: %s\n", nameOfProgram, what.c_str());
  std::abort();
}

} // namespace lvlsnd
