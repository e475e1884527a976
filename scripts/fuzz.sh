#!/usr/bin/env bash
# Runs every libFuzzer target built in <build-dir> for <seconds> each, seeded
# from fuzz/corpus/<target-without-fuzz_>/ when that folder exists. New inputs
# go to a scratch copy so the committed seed corpus stays small.
set -euo pipefail
build=${1:?build dir}
secs=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
# Only built programs: CMake's object folders (CMakeFiles/fuzz_x.dir) match
# the name too, and a folder passes [ -x ].
mapfile -t targets < <(find "$build/fuzz" -type f -perm -u+x -name 'fuzz_*' -not -path '*/CMakeFiles/*' 2>/dev/null | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build/fuzz" >&2
  exit 1
fi
status=0
for t in "${targets[@]}"; do
  name=$(basename "$t")
  seeds="$root/fuzz/corpus/${name#fuzz_}"
  work="$root/fuzz/corpus-work/${name#fuzz_}"
  mkdir -p "$work"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  echo "== $name for ${secs}s"
  if ! "$t" -max_total_time="$secs" -print_final_stats=1 "$work" 2>&1 | tail -n 12; then
    echo "fuzz: $name FAILED" >&2
    status=1
  fi
done
exit $status
