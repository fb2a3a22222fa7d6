#include "messages.hpp"

namespace lvlsnd {

void complain(Console console, const Problem& problem) {
  std::fflush(console.out);
  std::fprintf(console.err, "%s: %s\n", problem.name.c_str(), describe(problem).c_str());
}

} // namespace lvlsnd
