@echo off
rem Extracts every level of an Orrelin game into a folder of its own, with its effect files,
rem their WAV files and a page of them (effects.html). Run it in the folder that holds the level
rem files, with lvlsnd and lvlsnd-wav on the PATH: whole-game.cmd. Level files are found
rem whatever the case of their names; a level without effects gets an empty folder; a second run
rem makes everything again and keeps the WAV files you edited.
for %%f in (level*.dat) do (
  if not exist "%%~nf" mkdir "%%~nf"
  pushd "%%~nf"
  lvlsnd "..\%%f"
  if exist effect*.raw lvlsnd-wav --page effects.html effect*.raw
  popd
)
