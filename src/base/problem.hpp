// What went wrong, and with which file: the one result of every step of the programs that can
// fail, from a WAV file that is not one to a disk that is full. The programs print it in one
// place (complain), "<name>: <text> (<reason>)", and decide by where it came from, never by its
// words.
#pragma once

#include <optional>
#include <string>

namespace lvlsnd {

struct Problem {
  std::string name;   // the file it concerns, as typed; empty until the caller that knows says
  std::string text;   // what is wrong: "Cannot read", "Not a WAV file", ...
  std::string reason; // the system's words for why, when the system gave any
  bool systemFailed = false; // the system could not do what was asked (a read, a stat)
};

// What a step that can fail returns: nothing when it did what was asked.
using Outcome = std::optional<Problem>;

// What a call of the system gives back, as the platform layer returns it: its value when it did
// what was asked, else the error number (errno) of why not, never a value that stands for a
// failure with errno beside it.
template <typename Value> struct SystemResult {
  Value value{};
  int error = 0; // 0: done
  bool failed() const { return error != 0; }
};
// The same for a call that gives nothing back.
struct SystemStatus {
  int error = 0; // 0: done
  bool failed() const { return error != 0; }
};

// The system's words for an error number (errno), as in "No such file or directory"; empty for
// 0.
std::string reasonOf(int error);
// A problem of the system's, with its reason by its error number (errno).
Problem systemProblem(const std::string& name, const std::string& text, int error);
// The problem of an open file whose size fileSize could not give, by its errno: no regular
// file ("Cannot open (Illegal seek)"), or the system could not say ("Cannot read").
Problem sizeProblem(const std::string& name, int error);
// The text with its reason, "Cannot open (No such file or directory)"; the text alone when there
// is no reason.
std::string describe(const Problem& problem);

} // namespace lvlsnd
