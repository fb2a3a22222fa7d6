// What every program does at its start and end: the file-size limit, standard output closed
// and checked, and on Windows the arguments and console in UTF-8. LVLSND_CONSOLE_MAIN makes a
// program's entry point of its logic.
#pragma once

#include "bug.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace lvlsnd {

// What every program does first: a write past the file-size limit (ulimit -f) fails as a write,
// reported and cleaned up, instead of ending the program (SIGXFSZ is ignored); memory the system
// cannot give ends the run at once with "<program>: Out of memory" and status 1, every temporary
// file removed. `program` names it in that message and in that of a bug (bug.hpp).
void startProgram(const char* program);

// Standard output is flushed and closed when a program ends; when that shows that some of it
// was never written (a full disk, a closed pipe), the program says so and ends with status 1,
// since what it printed was lost. So it does, naming each, when a temporary file could not be
// removed (".lvlsnd-XXXXXX: Cannot remove (<reason>)"). Returns the exit status.
int closeStandardOutput(const char* program, int status);

// Whether the stream is a terminal (a console on Windows), where a line may be redrawn in place;
// a log file or a pipe gets plain lines.
bool isTerminal(std::FILE* stream);

// A line that Ctrl+C, SIGTERM or closing the console writes to `stream` before the program ends,
// while a line drawn in place there (a progress line) would be left half drawn:
// "\rInterrupted; level3.dat as it was\n". A null stream puts the note away.
void setInterruptNote(std::FILE* stream, const std::string& note);

// Windows alone: the program's wide-character arguments as UTF-8, with the console's output code
// page set to UTF-8 until endUtf8Console, which also puts it back when Ctrl+C, Ctrl+Break or
// closing the console interrupts the program.
struct Utf8Arguments {
  std::vector<std::string> texts;
  std::vector<const char*> pointers; // into texts
};
Utf8Arguments startUtf8Console(int argc, wchar_t** argv);
// Closes standard output as closeStandardOutput does and restores the console's code page.
int endUtf8Console(const char* program, int status);

} // namespace lvlsnd

// A program's entry point: runs `tool`, a function (argc, argv, lvlsnd::Console) -> status, on
// the arguments in UTF-8 and closes standard output, which a failed write makes status 1.
#ifdef _WIN32
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int wmain(int argc, wchar_t** argv) {                                                            \
    lvlsnd::startProgram(program);                                                                 \
    auto arguments = lvlsnd::startUtf8Console(argc, argv);                                         \
    return lvlsnd::endUtf8Console(program,                                                         \
                                  tool(argc, arguments.pointers.data(), {stdout, stderr}));        \
  }
// cmd hands wildcards over as typed; a program that takes many files has the C runtime expand
// them, so that "lvlsnd-wav effect3_*.raw" works in a Windows console as in a Unix shell.
#define LVLSND_EXPAND_WILDCARDS                                                                    \
  extern "C" {                                                                                     \
  int _dowildcard = -1;                                                                            \
  }
#else
#define LVLSND_EXPAND_WILDCARDS
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int main(int argc, char** argv) {                                                                \
    lvlsnd::startProgram(program);                                                                 \
    return lvlsnd::closeStandardOutput(program, tool(argc, argv, {stdout, stderr}));               \
  }
#endif
