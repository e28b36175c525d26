#!/usr/bin/env bash
# The Python package as the README installs it: `pip install
# --no-build-isolation .` from the source folder into a fresh venv made with
# Debian's Python and its site packages (numpy, setuptools, pybind11), then,
# from an empty folder, import corvel, its help and a run: the installed copy
# finds what it loads beside itself. Prints the installed package's folder.
# Usage: install_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
touch "$work/before"
(cd "$src" && "$work/venv/bin/pip" install --no-build-isolation --no-index --quiet .) > "$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; echo "FAIL: pip install --no-build-isolation . did not install corvel"; exit 1; }
# Nothing written into the source tree but build/.
written=$(find "$src" -path "$src/build" -prune -o -path "$src/.git" -prune -o -newer "$work/before" -print | head -5)
[ -z "$written" ] || { echo "FAIL: pip install wrote into the source tree: $written"; exit 1; }
mkdir "$work/empty"
cd "$work/empty"
"$work/venv/bin/python" - "$work/venv" <<'PY'
import os, sys, numpy as np, pydoc
import corvel
assert corvel.__file__.startswith(sys.argv[1]), "corvel imported from %s, not the venv" % corvel.__file__
text = pydoc.render_doc(corvel, renderer=pydoc.plaintext)
for words in ("estimate(u, dt", "Differentiator", "tune(u, dt", "causal"):
    assert words in text, "help(corvel) does not say " + words
for typed in ("py.typed", "_corvel.pyi"):
    assert os.path.exists(os.path.join(os.path.dirname(corvel.__file__), typed)), typed + " is not installed"
est = corvel.estimate(np.sin(np.arange(1000) * 0.01), 0.01, 20, 3)
assert est.derivatives.shape == (1000, 3) and np.all(np.isfinite(est.derivatives))
PY
echo "the Python package: pip install --no-build-isolation . into a fresh venv, imported and run from an empty folder"
