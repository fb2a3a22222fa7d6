// lvlsnd-replace: puts a sound from a WAV file into an effect of a level file.
#include "console.hpp"
#include "replace_tool.hpp"

LVLSND_CONSOLE_MAIN(lvlsnd::lvlsndReplaceMain, "lvlsnd-replace")
