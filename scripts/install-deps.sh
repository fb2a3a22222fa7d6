#!/bin/sh
# Installs with apt-get what lvlsnd needs on a Debian or Ubuntu machine, and nothing that is
# there already (then it does nothing at all):
#   sh scripts/install-deps.sh          what building the programs needs
#   sh scripts/install-deps.sh --tests  and what the test suite needs
#   sh scripts/install-deps.sh --ci     and what .ci/run needs besides: clang and libFuzzer, the
#                                       Windows build and Wine, Google Benchmark, the packages
# It runs apt-get as root, or through sudo.
set -eu
build="cmake make g++ pkg-config libsoxr-dev libxxhash-dev"
tests="libgtest-dev libgmock-dev python3 ffmpeg sox strace tidy chromium espeak-ng acl"
ci="clang libclang-rt-14-dev libbenchmark-dev time g++-mingw-w64-x86-64 wine64 unzip mandoc
  dpkg-dev file lintian"
case "${1:-}" in
"") wanted=$build ;;
--tests) wanted="$build $tests" ;;
--ci) wanted="$build $tests $ci" ;;
*)
  echo "Usage: sh scripts/install-deps.sh [--tests | --ci]" >&2
  exit 2
  ;;
esac
missing=""
for package in $wanted; do
  dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
[ -n "$missing" ] || exit 0
if [ "$(id -u)" -eq 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "install-deps.sh: installing$missing needs root or sudo" >&2
  exit 1
fi
echo "== installing$missing"
$as_root apt-get update -qq
# shellcheck disable=SC2086 # the package names are words
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
