#!/usr/bin/env bash
# Fails unless the Linux MEX file names the host's libmx.so and libmex.so as
# needed libraries, and nothing beyond them but the C and C++ runtime (and,
# in a sanitizer build, the sanitizers' runtime).
# Usage: check_needed.sh READELF MEXFILE
set -euo pipefail
needed=$("$1" -d "$2" | awk '/\(NEEDED\)/{gsub(/[\[\]]/, "", $NF); print $NF}' | sort)
for lib in libmx.so libmex.so; do
  grep -qx "$lib" <<<"$needed" || { echo "$2 does not name $lib as needed; it names: $(echo $needed)" >&2; exit 1; }
done
# The C and C++ runtime, and in a sanitizer build the sanitizers' own.
runtime='libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libasan\.so\.[0-9]+|libubsan\.so\.[0-9]+'
extra=$(grep -vxE "libmx\.so|libmex\.so|$runtime" <<<"$needed" || true)
[ -z "$extra" ] || { echo "$2 needs more than the host libraries and the runtime: $(echo $extra)" >&2; exit 1; }
echo "$2 needs $(echo $needed)"
