#include "problem.hpp"

#include <cerrno>
#include <cstring>

namespace lvlsnd {

std::string reasonOf(int error) {
  return error == 0 ? "" : std::strerror(error); // no number, no reason
}

Problem systemProblem(const std::string& name, const std::string& text, int error) {
  return {name, text, reasonOf(error), true};
}

Problem sizeProblem(const std::string& name, int error) {
  return systemProblem(name, error == ESPIPE ? "Cannot open" : "Cannot read", error);
}

std::string describe(const Problem& problem) {
  return problem.reason.empty() ? problem.text : problem.text + " (" + problem.reason + ")";
}

} // namespace lvlsnd
