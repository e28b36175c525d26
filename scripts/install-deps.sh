#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; a no-op when they are there.
set -euo pipefail
packages=(cmake ninja-build g++ g++-multilib qemu-user googletest libgtest-dev libbenchmark-dev octave liboctave-dev
  mingw-w64 wine64 clang-14 libclang-rt-14-dev valgrind pkg-config libmatio-dev librsvg2-bin
  libjs-dygraphs chromium)
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
