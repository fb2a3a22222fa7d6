// What the three programs share: where they print, how a copy between files ended, their exit
// statuses, the effect rate, the size of the chunks they stream through, how they complain, the
// way they create and finish an output file, and their entry point.
#pragma once

#include "platform.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Where a program prints: progress lines to `out`, complaints to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
};

inline constexpr int exitDone = 0;      // everything asked was done
inline constexpr int exitComplaint = 1; // at least one complaint, each on standard error
inline constexpr int exitUsage = 2;     // the command line was wrong

// The rate the game plays an effect at, in samples a second. The level file does not say it;
// 37800 is the rate of CD-ROM XA stereo audio, and its other rate is 18900.
inline constexpr std::uint32_t defaultEffectRate = 37800;
inline constexpr std::uint32_t lowestEffectRate = 1000;
inline constexpr std::uint32_t highestEffectRate = 192000;

// Groups go through fixed buffers this many at a time, so memory stays flat whatever the size
// of a file, and every read and write is large.
inline constexpr std::size_t groupsPerChunk = 1024;

// How copying data from one file into another ended: a failed read of the input is told from a
// failed write of the output, since each names another file.
enum class Transfer { done, readFailed, writeFailed };

// One line on standard error: the file's name first, then the problem. Standard output is
// flushed first, so that a log of both reads in the order things happened.
void complain(Console console, const std::string& name, const std::string& problem);
// `problem` with the reason in parentheses, "Cannot open (No such file or directory)"; the
// problem alone when there is no reason.
std::string withReason(const std::string& problem, const std::string& reason);

// The complaint of a transfer that failed, naming the file it failed on: "<input>: Cannot
// read" or "<output>: Cannot write", with the reason when there is one.
void complainOfTransfer(Console console, Transfer transfer, const std::string& input,
                        const std::string& output, const std::string& reason);

// Creates the output file `path` for writing, unbuffered (the programs write whole chunks),
// unless its name leads to `input`: creating it would truncate a file being read. Null after
// the complaint "<path>: Cannot create".
std::FILE* createOutput(const std::string& path, const FileIdentity& input, Console console);
// Closes an output that a transfer from `input` wrote. When the transfer or the close failed,
// the incomplete file is removed, so that it never looks complete, with the complaint of
// complainOfTransfer. Returns how the transfer ended, the close included.
Transfer finishOutput(std::FILE* file, const std::string& path, Transfer transfer,
                      const std::string& input, Console console);

// The type of each program's whole logic: its arguments, in UTF-8, and where it prints.
using ToolMain = int (*)(int argc, const char* const* argv, Console console);

// A program's entry point: runs `tool` on the arguments in UTF-8 and closes standard output,
// which a failed write makes status 1.
#ifdef _WIN32
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int wmain(int argc, wchar_t** argv) {                                                            \
    startProgram();                                                                                \
    auto arguments = startUtf8Console(argc, argv);                                                 \
    return endUtf8Console(program, tool(argc, arguments.pointers.data(), {stdout, stderr}));       \
  }
#else
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int main(int argc, char** argv) {                                                                \
    startProgram();                                                                                \
    return closeStandardOutput(program, tool(argc, argv, {stdout, stderr}));                       \
  }
#endif
