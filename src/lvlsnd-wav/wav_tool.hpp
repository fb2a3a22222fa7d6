// lvlsnd-wav: turns effect files into WAV files that any player or sound editor opens.
#pragma once

#include "program.hpp"

#include <string>

// The WAV file's name beside the effect file: a trailing ".raw" in any case becomes ".wav",
// any other name gets ".wav" appended.
std::string wavNameFor(const std::string& effectPath);

// The whole program: options, then every effect file named; returns the exit status.
int runWavTool(int argc, const char* const* argv, Console console);
