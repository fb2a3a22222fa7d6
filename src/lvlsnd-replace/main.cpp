// lvlsnd-replace: puts the sounds of WAV files into the effects of a level file.
#include "console.hpp"
#include "replace_tool.hpp"

LVLSND_EXPAND_WILDCARDS
LVLSND_CONSOLE_MAIN(lvlsnd::lvlsndReplaceMain, "lvlsnd-replace")
