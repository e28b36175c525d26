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

# The DOM after each page's scripts have run: every page in a browser of its
# own at once (a profile each), each given a second, longer try should a busy
# machine make it time out.
dom() {  # PAGE: writes PAGE.dom
  local page=$1 try
  for try in 1 2; do
    timeout $((45 * try)) "$chromium" --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile.$page.$try" \
      --virtual-time-budget=10000 --dump-dom "file://$work/$page" > "$page.dom" 2>/dev/null && return 0
    echo "note: $page: the browser took more than $((45 * try)) s (try $try)"
  done
  return 1
}

check_page() {  # PAGE PANELS WORDS
  local page=$1 panels=$2 words=$3 out
  out=$(cat "$page.dom")
  grep -q "data-panels=\"$panels\"" <<<"$out" || fail "$page: not $panels panels drawn"
  ! grep -q 'data-errors=' <<<"$out" || fail "$page: a script error: $(grep -o '<div id="errors">[^<]*' <<<"$out")"
  [ "$(grep -o '<canvas' <<<"$out" | wc -l)" -ge "$panels" ] || fail "$page: fewer canvases than panels"
  [ "$(grep -o 'class="legend"' <<<"$out" | wc -l)" -eq "$panels" ] || fail "$page: not a legend above each panel"
  grep -qF -- "$words" <<<"$out" || fail "$page: no '$words'"
}

# Several columns: one page, a section of panels for each, every panel drawn.
awk 'BEGIN { print "t,left,right"; for (k = 0; k < 3000; k++) printf "%.3f,%.17g,%.17g\n", k * 0.001, sin(k * 0.003), cos(k * 0.005) }' > two.csv
"$sim" two.csv --column all --order 2 --plot two.html --out two.out.csv > /dev/null || fail "two-column run"

"$sim" --signal sine --snr 40 --order 3 --plot demo.html --out demo.csv > /dev/null || fail "demo run"

# A gap filled, its units from the header, two panels chosen.
awk 'BEGIN { print "Time [s];Position [mm]"; for (k = 0; k < 3000; k++) printf "%.3f;%s\n", k * 0.001, (k >= 1500 && k < 1540) ? "" : sprintf("%.6f", sin(k * 0.003)) }' |
  tr . , > gap.csv
"$sim" gap.csv --missing interpolate --plot-panels u,d1 --order 2 --plot gap.html --out gap.out.csv > /dev/null || fail "gap run"

# A million samples, the signal in a column whose name is markup.
awk 'BEGIN { print "t,</script><b>x"; for (k = 0; k < 1000000; k++) printf "%.3f,%.17g\n", k * 0.001, sin(k * 0.003) }' > big.csv
"$sim" big.csv --column '</script><b>x' --order 2 --gain 30 --plot big.html --out big.out.csv > /dev/null || fail "big run"
[ "$(stat -c %s big.html)" -lt 20000000 ] || fail "big.html is $(stat -c %s big.html) bytes"
"$sim" big.csv --column 2 --order 2 --gain 30 --plot span.html --plot-window 100:110 --out span.csv > /dev/null ||
  fail "--plot-window run"

pids=()
for page in two.html demo.html gap.html big.html span.html; do
  dom "$page" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a page did not load in time"; done

check_page two.html 8 "3000 samples of each signal, every one drawn."
grep -qF '<h3>right</h3>' two.html.dom || fail "no section for the column 'right'"
check_page demo.html 5 "1001 samples, every one drawn."
check_page gap.html 2 "orange: gaps in the record, filled"
grep -qF '"u and z0 (mm)"' gap.html || fail "gap.html: no unit in the panel's name"
grep -qF 'd1 (mm/s)' gap.html.dom || fail "gap.html: no d1 (mm/s) drawn"
check_page big.html 4 "1000000 samples, drawn as 40000 ranges"
grep -q '<b>x' big.html.dom && fail "the column name became markup in the page"
grep -qF '[&lt;/script&gt;&lt;b&gt;x]' big.html.dom || fail "the column name is not shown as text"
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
