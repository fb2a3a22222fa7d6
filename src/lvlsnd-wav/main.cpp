// lvlsnd-wav: converts effect files into WAV files.
#include "console.hpp"
#include "wav_tool.hpp"

#ifdef _WIN32
// cmd hands wildcards over as typed; the C runtime expands them, so that
// "lvlsnd-wav effect3_*.raw" works in a Windows console as in a Unix shell.
extern "C" {
int _dowildcard = -1;
}
#endif

LVLSND_CONSOLE_MAIN(lvlsnd::lvlsndWavMain, "lvlsnd-wav")
