#!/bin/sh
# Extracts every level of an Orrelin game into a folder of its own, with its effect files, their
# WAV files and a page of them (effects.html). Run it in the folder that holds the level files,
# with lvlsnd and lvlsnd-wav on the PATH: sh whole-game.sh. Level files are found whatever the
# case of their names (level3.dat, LEVEL03.DAT); a level without effects gets an empty folder;
# a second run makes everything again and keeps the WAV files you edited.
status=0
for level in [Ll][Ee][Vv][Ee][Ll]*.[Dd][Aa][Tt]; do
  [ -f "$level" ] || continue
  folder=${level%.*}
  mkdir -p "$folder" && cd "$folder" || exit 1
  lvlsnd "../$level" || status=1
  set -- effect*.raw
  if [ -f "$1" ]; then
    lvlsnd-wav --page effects.html "$@" || status=1
  fi
  cd ..
done
exit $status
