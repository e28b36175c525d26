#!/usr/bin/env bash
# The plots as people see them: the SVG figure renders (rsvg-convert) within
# its size bound, and the HTML page loads in a real browser (headless
# Chromium) without a script error and draws its panels, for the demo and for
# a 1 000 000-sample record whose column name tries to break out of the page.
#   plot_pages_test.sh CORVEL-SIM CHROMIUM [RSVG-CONVERT]
set -uo pipefail
sim=$1
chromium=$2
rsvg=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The DOM after the page's scripts have run.
dom() { timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --virtual-time-budget=20000 --dump-dom "file://$work/$1" 2>/dev/null; }

check_page() {  # PAGE PANELS WORDS
  local page=$1 panels=$2 words=$3 out
  out=$(dom "$page")
  grep -q "data-panels=\"$panels\"" <<<"$out" || fail "$page: not $panels panels drawn"
  ! grep -q 'data-errors=' <<<"$out" || fail "$page: a script error: $(grep -o '<div id="errors">[^<]*' <<<"$out")"
  [ "$(grep -o '<canvas' <<<"$out" | wc -l)" -ge "$panels" ] || fail "$page: fewer canvases than panels"
  grep -qF -- "$words" <<<"$out" || fail "$page: no '$words'"
  printf '%s' "$out" > "$page.dom"
}

# Several columns: one page, a section of panels for each, every panel drawn.
awk 'BEGIN { print "t,left,right"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g,%.17g\n", k * 0.001, sin(k * 0.003), cos(k * 0.005) }' > two.csv
"$sim" two.csv --column all --order 2 --plot two.html --out two.out.csv > /dev/null || fail "two-column run"
check_page two.html 8 "3000 samples of each signal, every one drawn."
grep -qF '<h3>right</h3>' two.html.dom || fail "no section for the column 'right'"

"$sim" --signal sine --snr 40 --order 3 --plot demo.html --out demo.csv > /dev/null || fail "demo run"
check_page demo.html 5 "1001 samples, every one drawn."

# A million samples, the signal in a column whose name is markup.
awk 'BEGIN { print "t,</script><b>x"; for (k = 0; k < 1000000; k++) printf "%.3f,%.17g\n", k * 0.001, sin(k * 0.003) }' > big.csv
"$sim" big.csv --column '</script><b>x' --order 2 --gain 30 --plot big.html --out big.out.csv > /dev/null || fail "big run"
check_page big.html 4 "1000000 samples, drawn as 40000 ranges"
grep -q '<b>x' big.html.dom && fail "the column name became markup in the page"
grep -qF '[&lt;/script&gt;&lt;b&gt;x]' big.html.dom || fail "the column name is not shown as text"
[ "$(stat -c %s big.html)" -lt 20000000 ] || fail "big.html is $(stat -c %s big.html) bytes"

"$sim" big.csv --column 2 --order 2 --gain 30 --plot span.html --plot-window 100:110 --out span.csv > /dev/null ||
  fail "--plot-window run"
check_page span.html 4 "10001 samples, every one drawn."

# The SVG figure of the same million: bounded, and it renders.
"$sim" big.csv --column 2 --order 2 --gain 30 --plot big.svg --out big.out.csv > /dev/null || fail "SVG run"
[ "$(stat -c %s big.svg)" -lt 2000000 ] || fail "big.svg is $(stat -c %s big.svg) bytes"
if [ -n "$rsvg" ]; then
  "$rsvg" big.svg -o big.png || fail "big.svg does not render"
  "$sim" tune --signal sine --snr 30 --orders 1-2 --duration 3 --plot tune.svg > /dev/null || fail "tune run"
  "$rsvg" tune.svg -o tune.png || fail "tune.svg does not render"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "plots in a browser and as figures: all cases passed"
