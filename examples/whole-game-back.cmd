@echo off
rem Puts the WAV files you edited back into every level of an Orrelin game, one run a level,
rem from the folders whole-game.cmd made (level3\ for level3.dat, holding effect3_N.wav). Run it
rem in the folder that holds the level files, with lvlsnd-replace on the PATH:
rem whole-game-back.cmd. A level without WAV files is skipped; a WAV file that holds what its
rem effect holds changes nothing, so a second run writes nothing. A level file is kept as
rem LEVEL.bak before it is first changed.
setlocal
set status=0
for %%f in (level*.dat) do (
  if exist "%%~nf\effect*.wav" (
    pushd "%%~nf"
    lvlsnd-replace "..\%%f" effect*.wav
    if errorlevel 1 set status=1
    popd
  )
)
exit /b %status%
