// The program's own name, for the messages that are its own rather than a file's, and the one
// way the code says that it broke a rule of its own.
#pragma once

#include <string>

namespace lvlsnd {

// Keeps the program's name ("lvlsnd-replace"); startProgram gives it.
void nameProgram(const char* name);
// The name given, or "lvlsnd" before any was.
const char* programName();

// A rule of the code broken, not a problem of the input or the system: says so on standard error,
// naming the program and what broke ("lvlsnd-replace: bug: an entry's bytes were not read"), and
// ends the program at once, before anything more is written or renamed.
[[noreturn]] void bug(const std::string& what);

} // namespace lvlsnd
