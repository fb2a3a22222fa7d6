#!/bin/sh
# Puts the WAV files you edited back into every level of an Orrelin game, one run a level, from
# the folders whole-game.sh made (level3/ for level3.dat, holding effect3_N.wav). Run it in the
# folder that holds the level files, with lvlsnd-replace on the PATH: sh whole-game-back.sh. A
# level without WAV files is skipped; a WAV file that holds what its effect holds changes nothing,
# so a second run writes nothing. A level file is kept as LEVEL.bak before it is first changed.
status=0
for level in [Ll][Ee][Vv][Ee][Ll]*.[Dd][Aa][Tt]; do
  folder=${level%.*}
  set -- "$folder"/[Ee][Ff][Ff][Ee][Cc][Tt]*.[Ww][Aa][Vv]
  [ -f "$level" ] && [ -f "$1" ] || continue
  (cd "$folder" && lvlsnd-replace "../$level" [Ee][Ff][Ff][Ee][Cc][Tt]*.[Ww][Aa][Vv]) || status=1
done
exit $status
