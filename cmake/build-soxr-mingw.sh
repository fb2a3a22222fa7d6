#!/bin/sh
# Builds libsoxr for the static Windows programs from Debian's own source package, with
# mingw-w64, into PREFIX (lib/libsoxr.a, include/soxr.h); nothing to do when it is there.
#   sh cmake/build-soxr-mingw.sh PREFIX
# then: cmake -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DLVLSND_SOXR_ROOT=PREFIX
# It needs Debian's deb-src lines (added when missing, as root) and dpkg-dev for apt-get source.
set -eu
prefix=$(realpath -m "${1:?usage: build-soxr-mingw.sh PREFIX}")
toolchain=$(realpath "$(dirname "$0")/mingw-w64.cmake")
if [ -f "$prefix/lib/libsoxr.a" ] && [ -f "$prefix/include/soxr.h" ]; then
  exit 0
fi
work="$prefix.src"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
if ! apt-get source --download-only libsoxr >/dev/null 2>&1; then
  # Debian's sources of the release the machine runs, beside its binary packages.
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" >/etc/apt/sources.list.d/lvlsnd-deb-src.sources
  apt-get update -qq
fi
apt-get source libsoxr >/dev/null 2>&1
source=$(find . -maxdepth 1 -type d -name 'libsoxr-*' | head -n 1)
# Static, no OpenMP (its runtime would be a DLL), only the library itself.
cmake -S "$source" -B build -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=OFF -DWITH_OPENMP=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
  -DWITH_LSR_BINDINGS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
cmake --install build >/dev/null
rm -rf "$work"
