#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; a no-op when they are there.
set -euo pipefail
# With --demo: only what the default build of corvel-sim needs (and its MAT-file
# and HTML-plot support); otherwise everything every build and test needs.
packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev pkg-config libmatio-dev libjs-dygraphs
  librsvg2-dev libcairo2-dev libfmt-dev)
if [ "${1:-}" = "--demo" ]; then
  shift
else
  packages+=(g++-multilib qemu-user octave liboctave-dev mingw-w64 wine64 clang-14 libclang-rt-14-dev valgrind
    librsvg2-bin chromium
    python3-dev python3-pybind11 pybind11-dev python3-numpy python3-pytest python3-hypothesis python3-distributed
    python3-matplotlib python3-venv python3-setuptools python3-wheel python3-pip python3-pandas mypy
    munge slurmctld slurmd slurm-client)
fi
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
