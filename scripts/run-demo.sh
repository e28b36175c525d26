#!/usr/bin/env bash
# The main job on its built-in default: builds the default preset, then runs
# the corvel block through its MEX file over a noisy 1 Hz sine with corvel-sim,
# writing corvel-out.csv, corvel-plot.svg and the error table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" --demo
(cd "$root" && cmake --preset default >/dev/null && cmake --build --preset default --target corvel-sim >/dev/null)
"$root/build/default/corvel-sim" --signal sine --snr 80 --gain 20 --order 3 "$@"
