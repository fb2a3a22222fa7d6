// lvlsnd-wav: converts effect files into WAV files.
#include "platform.hpp"
#include "wav_tool.hpp"

LVLSND_CONSOLE_MAIN(runWavTool)
