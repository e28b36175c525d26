#!/usr/bin/env bash
# MAT-files with GNU Octave, a MAT-file client no one here wrote: files Octave
# saves are read, and the log corvel-sim writes as a MAT-file loads in Octave
# and equals its CSV log bit for bit. Hostile files end in one-line messages.
#   mat_files_test.sh CORVEL-SIM OCTAVE-CLI
set -uo pipefail
sim=$1
octave=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
oct() { "$octave" --no-gui --quiet --eval "$1" 2>&1 | grep -v 'ignoring const execution_exception'; }

oct '
  t = (0:1999)'"'"' * 0.001;
  u = sin(6 * t) + 0.01 * sin(1.7 * (0:1999)'"'"');
  sig = u; rec = [t u];
  save("-v6", "vector6.mat", "sig");
  save("-v7", "matrix7.mat", "rec");
  other = int32(3); save("-v7", "two.mat", "sig", "rec", "other");
  f = fopen("same.csv", "w"); fprintf(f, "%.17g,%.17g\n", rec'"'"'); fclose(f);
  z = complex(u, u); save("-v6", "complex.mat", "z");
  s = sparse(u); save("-v6", "sparse.mat", "s");
  x = zeros(0, 1); save("-v6", "empty.mat", "x");
  i = int16(round(1000 * u)); save("-v6", "integer.mat", "i");
  m = [t u u]; save("-v6", "three.mat", "m");
  a = u; b = -2 * u; save("-v6", "vectors.mat", "a", "b", "t");
  c = "text"; save("-v6", "char.mat", "c");'
[ -s vector6.mat ] && [ -s matrix7.mat ] || { echo "FAIL: Octave wrote no MAT-files"; exit 1; }

# Octave's files read as the same samples as the CSV file of the same numbers.
"$sim" same.csv --order 3 --no-plot --out from-csv.csv > /dev/null || fail "CSV run"
"$sim" matrix7.mat --order 3 --no-plot --out from-v7.csv > /dev/null || fail "v7 N x 2 run"
"$sim" vector6.mat --solver-step 0.001 --order 3 --no-plot --out from-v6.csv > /dev/null || fail "v6 vector run"
"$sim" two.mat --variable rec --order 3 --no-plot --out from-two.csv > /dev/null || fail "--variable run"
for log in from-v7.csv from-v6.csv from-two.csv; do
  cmp -s from-csv.csv "$log" || fail "$log differs from the CSV file's log"
done

# corvel-sim's MAT log loads in Octave and holds the CSV log's numbers, to the bit.
"$sim" matrix7.mat --order 3 --no-plot --out log.mat > /dev/null || fail "MAT log run"
result=$(oct '
  load log.mat;
  L = dlmread("from-csv.csv", ",", 1, 0);
  ok = isequal(size(t), [2000 1]) && isequal(size(d), [2000 3]) && ...
       isequal(typecast([t u e z0 d](:), "uint64"), typecast(L(:), "uint64"));
  printf("%d\n", ok);')
[ "$result" = "1" ] || fail "the MAT log differs from the CSV log ($result)"

# corvel-sim reads its own MAT log back: d's first column, run again, is the
# run of the CSV log's d1 column; the rows waited beside the log in a file
# that is gone with the run.
"$sim" log.mat --variable d --column 1 --solver-step 0.001 --order 2 --no-plot --out from-own-log.csv > /dev/null ||
  fail "corvel-sim cannot read its own MAT log"
cut -d, -f5 from-csv.csv | tail -n +2 > d1.csv
"$sim" d1.csv --solver-step 0.001 --order 2 --no-plot --out from-d1.csv > /dev/null || fail "the d1 column's run"
cmp -s from-own-log.csv from-d1.csv || fail "the MAT log's d(:,1) read back is not the CSV log's d1"
mkdir -p alone && (cd alone && "$sim" ../matrix7.mat --order 3 --no-plot --out log.mat > /dev/null) &&
  [ "$(ls -A alone)" = "log.mat" ] || fail "a MAT log's run left beside it: $(ls -A alone)"

# A run of one sample: its one row in the MAT log, as in the CSV log.
printf 'u\n0.5\n' > one.csv
"$sim" one.csv --solver-step 0.01 --order 3 --no-plot --out one-log.mat > /dev/null || fail "a MAT log of one sample"
"$sim" one.csv --solver-step 0.01 --order 3 --no-plot --out one-log.csv > /dev/null || fail "a CSV log of one sample"
result=$(oct '
  m = load("one-log.mat"); L = dlmread("one-log.csv", ",", 1, 0);
  printf("%d\n", isequal(size(m.d), [1 3]) && isequal([m.t m.u m.e m.z0 m.d], L));')
[ "$result" = "1" ] || fail "the MAT log of one sample: $result"

# The MAT log says what the run was: its parameters, source, column, units,
# and which inputs filled gaps.
printf 'Time [s];Position [mm]\n0;1\n0,001;\n0,002;3\n0,003;4\n' > gap.csv
"$sim" gap.csv --gain 25 --order 2 --missing interpolate --no-plot --out facts.mat > /dev/null || fail "MAT log with facts"
result=$(oct '
  load facts.mat;
  printf("%g %g %g %g %s|%s|%s|%s|%s %s\n", run.gain, run.order, run.sample_time, run.solver_step, run.source, ...
         run.column, run.unit, run.time_unit, run.missing, mat2str(filled'"'"'));')
[ "$result" = "25 2 -1 0.001 gap.csv||mm|s|interpolate [0 1 0 0]" ] || fail "the MAT log's run: $result"

# Several columns: the MAT log holds t and a struct per column (u, e, z0, d)
# (the column 'a x' made safe is a_x_2: a_x is the next column's own name),
# named as a MAT variable can be and made unique, with the numbers of the
# CSV log's columns for that signal, to the bit.
printf 't,a x,a_x,2nd\n' > columns.csv
awk -F, '{ printf "%s,%s,%.17g,%s\n", $1, $2, -2 * $2, $2 }' same.csv >> columns.csv
"$sim" columns.csv --column all --order 2 --no-plot --out columns-log.csv > /dev/null || fail "CSV log of columns"
"$sim" columns.csv --column all --order 2 --no-plot --out columns-log.mat > /dev/null || fail "MAT log of columns"
[ "$(head -1 columns-log.csv)" = "t,a x.u,a x.e,a x.z0,a x.d1,a x.d2,a_x.u,a_x.e,a_x.z0,a_x.d1,a_x.d2,2nd.u,2nd.e,2nd.z0,2nd.d1,2nd.d2" ] ||
  fail "the CSV log of columns has the header $(head -1 columns-log.csv)"
result=$(oct '
  m = load("columns-log.mat");
  L = dlmread("columns-log.csv", ",", 1, 0);
  ok = isequal(sort(fieldnames(m))'"'"', {"a_x", "a_x_2", "run", "t", "x2nd"}) && isequal(size(m.t), [2000 1]);
  names = {"a_x_2", "a_x", "x2nd"};
  for c = 1:3
    s = m.(names{c});
    mine = [s.u s.e s.z0 s.d];
    ok = ok && isequal(size(s.d), [2000 2]) && ...
         isequal(typecast(mine(:), "uint64"), typecast(reshape(L(:, 2 + 5 * (c - 1):1 + 5 * c), [], 1), "uint64"));
  end
  ok = ok && isequal(typecast(m.t, "uint64"), typecast(L(:, 1), "uint64"));
  printf("%d\n", ok);')
[ "$result" = "1" ] || fail "the MAT log of columns differs from the CSV log ($result)"

# Blocks at their own rates (1, 10 and 3 ms on a 1 ms file): the CSV log has a
# row wherever a block has a hit, with empty cells for the others; the MAT log
# gives each struct its own t and only its hits, the CSV's numbers to the bit.
"$sim" columns.csv --column all --step 0.001,0.01,0.003 --order 2 --no-plot --out rates-log.csv > /dev/null ||
  fail "CSV log of blocks at three rates"
"$sim" columns.csv --column all --step 0.001,0.01,0.003 --order 2 --no-plot --out rates-log.mat > /dev/null ||
  fail "MAT log of blocks at three rates"
[ "$(sed -n 3p rates-log.csv | cut -d, -f7-)" = ",,,,,,,,," ] || fail "a row without the slower blocks' hits: $(sed -n 3p rates-log.csv)"
result=$(oct '
  m = load("rates-log.mat");
  L = dlmread("rates-log.csv", ",", 1, 0, "emptyvalue", NaN);
  names = {"a_x_2", "a_x", "x2nd"}; every = [1 10 3];
  ok = isequal(size(m.t), [2000 1]) && isequal(typecast(m.t, "uint64"), typecast(L(:, 1), "uint64"));
  for c = 1:3
    s = m.(names{c});
    hit = mod(0:1999, every(c))'"'"' == 0;
    mine = [s.t s.u s.e s.z0 s.d];
    cells = [L(hit, 1) L(hit, 2 + 5 * (c - 1):1 + 5 * c)];
    ok = ok && isequal(size(s.d), [sum(hit) 2]) && isequal(typecast(mine(:), "uint64"), typecast(cells(:), "uint64"));
  end
  printf("%d\n", ok);')
[ "$result" = "1" ] || fail "the MAT log of blocks at three rates differs from the CSV log ($result)"

# Chosen log columns: the CSV log has just those, and the MAT log just those
# variables, d holding the chosen derivatives (run.d_orders says which), the
# full log's numbers to the bit; a struct whose columns are all left out is
# not written.
"$sim" matrix7.mat --order 3 --no-plot --out chosen.csv --log-columns d3,t,d1 > /dev/null || fail "CSV log of chosen columns"
[ "$(head -1 chosen.csv)" = "t,d1,d3" ] || fail "the chosen columns' header: $(head -1 chosen.csv)"
[ "$(cut -d, -f1,5,7 from-csv.csv | tail -n +2)" = "$(tail -n +2 chosen.csv)" ] || fail "the chosen columns differ from the full log's"
"$sim" matrix7.mat --order 3 --no-plot --out chosen.mat --log-columns t,d3,d1 > /dev/null || fail "MAT log of chosen columns"
"$sim" columns.csv --column all --order 2 --no-plot --out chosen-columns.mat --log-columns a_x.d2,t > /dev/null ||
  fail "MAT log of one column's chosen column"
result=$(oct '
  m = load("chosen.mat");
  L = dlmread("from-csv.csv", ",", 1, 0);
  ok = isequal(sort(fieldnames(m))'"'"', {"d", "run", "t"}) && isequal(m.run.d_orders, [1 3]) && ...
       isequal(typecast([m.t m.d](:), "uint64"), typecast(reshape(L(:, [1 5 7]), [], 1), "uint64"));
  c = load("chosen-columns.mat");
  C = dlmread("columns-log.csv", ",", 1, 0);
  ok = ok && isequal(sort(fieldnames(c))'"'"', {"a_x", "run", "t"}) && isequal(fieldnames(c.a_x)'"'"', {"d", "unit", "d_orders"}) && ...
       isequal(typecast(c.a_x.d, "uint64"), typecast(C(:, 11), "uint64"));
  printf("%d\n", ok);')
[ "$result" = "1" ] || fail "the MAT logs of chosen columns differ from the full logs ($result)"
out=$("$sim" matrix7.mat --order 3 --no-plot --out refused.mat --log-columns t,d4 2>&1)
[ $? -eq 2 ] && [ "$out" = "corvel-sim: --log-columns: 'd4' is not a column of this log; its columns are t, u, error, z0, d1, d2, d3" ] &&
  [ ! -e refused.mat ] || fail "an unknown log column: $out"

# A MAT matrix's columns, or several vectors, run as a CSV file's columns do.
awk -F, '{ printf "%s,%s,%s\n", $1, $2, $2 }' same.csv > same3.csv
"$sim" same3.csv --column all --order 2 --no-plot --out same3-log.csv > /dev/null || fail "CSV run of two columns"
"$sim" three.mat --variable m --column 2-3 --order 2 --no-plot --out m-log.csv > /dev/null || fail "matrix columns run"
[ "$(head -1 m-log.csv | cut -d, -f2,7)" = "m_2.u,m_3.u" ] || fail "the matrix columns' names: $(head -1 m-log.csv)"
cmp -s <(tail -n +2 same3-log.csv) <(tail -n +2 m-log.csv) || fail "a MAT matrix's columns differ from the CSV file's"
"$sim" columns.csv --column 2,3 --order 2 --no-plot --out ab-csv.csv > /dev/null || fail "CSV run of a, b"
"$sim" vectors.mat --variable a,b --time-column t --order 2 --no-plot --out ab-mat.csv > /dev/null || fail "vectors run"
[ "$(head -1 ab-mat.csv | cut -d, -f2,7)" = "a.u,b.u" ] || fail "the vectors' names: $(head -1 ab-mat.csv)"
"$sim" vectors.mat --variable a,b --order 2 --solver-step 0.001 --plot ab.svg --out ab.csv > /dev/null || fail "vectors with plots"
grep -q '</svg>' ab.a.svg && grep -q '</svg>' ab.b.svg || fail "no figure for each vector"
cmp -s <(tail -n +2 ab-csv.csv) <(tail -n +2 ab-mat.csv) || fail "MAT vectors differ from the CSV file's columns"
# A 1 x 2 variable is a row vector of two samples, not one (t, u) row.
oct 'x = [1 2]; save("-v6", "row2.mat", "x");' > /dev/null
out=$("$sim" row2.mat --solver-step 0.1 --no-plot --out row2.csv 2>&1)
[ "$out" = "corvel-sim: 2 samples of row2.mat, order 3, log in row2.csv" ] && [ "$(sed -n 3p row2.csv | cut -d, -f1,2)" = "0.1,2" ] ||
  fail "a 1 x 2 variable: $out $(cat row2.csv)"
# The host language's plain `save rec.mat t u`: a vector and its time vector.
"$sim" vectors.mat --variable a --time-column t --order 3 --no-plot --out a-t.csv > /dev/null ||
  fail "--variable a --time-column t"
cmp -s from-csv.csv a-t.csv || fail "a vector with its time vector differs from the CSV file's run"
out=$("$sim" vectors.mat --variable a,a --no-plot 2>&1)
[ $? -eq 2 ] && [ "$out" = "corvel-sim: --variable a,a: 'a' is named twice" ] || fail "--variable a,a: $out"
out=$("$sim" vectors.mat --variable a,t --time-column t --no-plot 2>&1)
[ $? -eq 2 ] && [ "$out" = "corvel-sim: --variable a,t names the time vector 't' (--time-column) as a signal" ] ||
  fail "a list with the time vector: $out"
out=$("$sim" vectors.mat --variable a,b --column 2 2>&1)
[ $? -eq 2 ] && [ "$out" = "corvel-sim: --column 2 chooses the columns of one MAT variable; --variable a,b names vectors, a signal each" ] ||
  fail "--column with a list of vectors: $out"

# Hostile files: exit 1 with one line that names the file and the problem.
head -c 300 matrix7.mat > truncated.mat
cp vector6.mat huge.mat
# The dimensions of the first variable (after the 128-byte header, its tag,
# the array flags and the dimensions' tag): 2^31 - 1 by 2^31 - 1.
printf '\xff\xff\xff\x7f\xff\xff\xff\x7f' | dd of=huge.mat bs=1 seek=160 conv=notrunc status=none
printf 'MATLAB 5.0 MAT-file, nothing else' > header-only.mat
hostile() {  # FILE PATTERN [ARGS...]
  local file=$1 pattern=$2
  shift 2
  local out status
  out=$("$sim" "$file" --no-plot "$@" 2>&1)
  status=$?
  if [ "$status" -ne 1 ] || [ "$(wc -l <<<"$out")" -ne 1 ] || ! grep -qF -- "$pattern" <<<"$out"; then
    fail "$file -> exit $status: $out"
  fi
}
# Version 4: a file smaller than a version-5 header reads; one whose name or
# data is longer than the file is refused before libmatio reads it, and so
# without the memory its lengths ask for (a 2 GB name; 2^31 - 1 columns).
oct 'u = [1; 2; 3]; save("-v4", "tiny4.mat", "u"); v = (1:30)'"'"'; save("-v4", "v4.mat", "v");' > /dev/null
out=$("$sim" tiny4.mat --solver-step 0.1 --no-plot --out tiny4.csv 2>&1)
[ "$(tail -1 tiny4.csv | cut -d, -f1,2)" = "0.2,3" ] || fail "a version-4 file of 46 bytes: $out"
# The same matrix as a big-endian machine writes it (its type's thousands 1).
python3 -c "
import struct
h = struct.pack('>5i', 1000, 30, 1, 0, 2) + b'v\\x00' + struct.pack('>30d', *range(1, 31))
open('big-endian4.mat', 'wb').write(h)"
"$sim" v4.mat --solver-step 0.1 --no-plot --out little4.csv > /dev/null 2>&1
out=$("$sim" big-endian4.mat --solver-step 0.1 --no-plot --out big4.csv 2>&1)
cmp -s <(tail -n +2 little4.csv) <(tail -n +2 big4.csv) && [ "$(wc -l < big4.csv)" -eq 31 ] ||
  fail "a big-endian version-4 file: $out"
cp v4.mat long-name4.mat
printf '\x7f' | dd of=long-name4.mat bs=1 seek=19 conv=notrunc status=none
cp v4.mat wide4.mat
printf '\xff\xff\xff\x7f' | dd of=wide4.mat bs=1 seek=8 conv=notrunc status=none
# A header word no version-4 matrix has: a type's hundreds (always 0), its
# precision past 5, its kind past 2, an imaginary flag past 1.
cp v4.mat none-wide4.mat  # no rows and 2^31 - 1 columns: no data, and no such matrix either
printf '\x00\x00\x00\x00\xff\xff\xff\x7f' | dd of=none-wide4.mat bs=1 seek=4 conv=notrunc status=none
damaged_v4=(long-name4.mat wide4.mat none-wide4.mat)
for at_byte in '0 \x64' '0 \x3c' '0 \x03' '12 \x02'; do
  read -r at byte <<<"$at_byte"
  damaged="type-at-${at}-$(printf %s "$byte" | tr -d '\\').mat"
  cp v4.mat "$damaged"
  printf "$byte" | dd of="$damaged" bs=1 seek="$at" conv=notrunc status=none
  damaged_v4+=("$damaged")
done
for damaged in "${damaged_v4[@]}"; do
  out=$("$sim" "$damaged" --no-plot --out /dev/null 2>&1)
  [ "$out" = "corvel-sim: error: $damaged: cannot open it as a MAT-file (damaged or truncated)" ] ||
    fail "a damaged version-4 file: $out"
done
hostile truncated.mat "truncated.mat: "
hostile huge.mat "huge.mat: "
hostile header-only.mat "header-only.mat: "
hostile complex.mat "complex.mat: no variable is a real double vector or N x 2 matrix"
hostile complex.mat "variable 'z' is double complex 2000 x 1" --variable z
hostile sparse.mat "variable 's' is sparse" --variable s
hostile empty.mat "variable 'x' is double 0 x 1: it is empty" --variable x
hostile integer.mat "variable 'i' is integer 2000 x 1" --variable i
hostile three.mat "three.mat: m has 3 columns (1, 2, 3): choose the signal with --column" --variable m
hostile char.mat "variable 'c' is char 1 x 4" --variable c
hostile two.mat "two.mat: choose the signal with --variable NAME among sig, rec"
hostile two.mat "two.mat: no variable 'nope' (it holds sig, rec, other)" --variable nope

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "MAT-files with Octave: all cases passed"
