// lvlsnd-wav: converts effect files into WAV files.
#include "console.hpp"
#include "wav_tool.hpp"

LVLSND_EXPAND_WILDCARDS
LVLSND_CONSOLE_MAIN(lvlsnd::lvlsndWavMain, "lvlsnd-wav")
