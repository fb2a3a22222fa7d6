// Writes the sample level file that the README runs the tool on.
#include "xa_sounds.hpp"

#include <cstdio>

using namespace lvlsnd;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: lvlsnd_make_sample level3.dat\n", stderr);
    return 2;
  }
  writeFile(argv[1], sampleLevelFile());
  return 0;
}
