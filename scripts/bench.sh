#!/usr/bin/env bash
# Runs the benchmarks built in <build-dir> (configured Release with
# -DKYR_BUILD_BENCH=ON) and writes bench/results.md. The program prints the
# table as it goes; the markdown copy is printed at the end.
#   KYR_BENCH_MEM_CALLS  calls for the memory figure (default 1000000)
#   KYR_BENCH_IDLE_S     idle window in seconds (default 10)
#   KYR_BENCH_QUICK=1    fewer samples (smoke run)
#   KYR_BENCH_ONLY=...   some sections: call,threads,notify,jvm,decode,tls,idle,mem,pages,faults
#                        (faults: bench/fault_bench, its own section of results.md)
#   KYR_BENCH_OUT=path   write the results there instead of bench/results.md
set -euo pipefail
build=${1:?build dir}
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: the programs run from inside the build folder.
build=$(cd "$build" && pwd)
out=${KYR_BENCH_OUT:-$root/bench/results.md}
bin="$build/bench/kyr_bench"
if [ ! -x "$bin" ]; then
  echo "bench: $bin not built (configure with -DKYR_BUILD_BENCH=ON)" >&2
  exit 1
fi
# The library turns TLS off when this marker exists; the TLS figure needs it on.
if [ -e "$root/csapidisablessl.dat" ]; then
  echo "bench: note: csapidisablessl.dat present in $root; running from $build instead" >&2
fi

# The JVM event figure first (its own process, the real JVM); kyr_bench
# puts its rows in the table. Skipped when the JVM part was not built or
# KYR_BENCH_ONLY leaves it out.
jvm_rows="$build/bench/jvm-rows.tsv"
rm -f "$jvm_rows"
jar="$build/bench/kyr_event_bench.jar"
kyr_jar="$build/java/kyrconnect.jar"
java=${JAVA_HOME:+$JAVA_HOME/bin/}java
if [ -f "$jar" ] && [ -f "$kyr_jar" ] && { [ -z "${KYR_BENCH_ONLY:-}" ] || [[ $KYR_BENCH_ONLY == *jvm* ]]; }; then
  echo "bench: events to a Java listener (JVM harness)"
  # The library's per-event log lines go to a file, as they would go to the
  # system log on the device.
  if ! "$java" -Dkyrconnect.library="$build/bench/libkyr_bench_jni.so" -cp "$jar:$kyr_jar" \
      quorvex.kyrconnectservice.bench.KyrEventBench "$jvm_rows" 2>"$build/bench/jvm-harness.log"; then
    echo "bench: the JVM harness failed (see $build/bench/jvm-harness.log)" >&2
    grep -v '^$' "$build/bench/jvm-harness.log" | tail -n 5 >&2 || true
    exit 1
  fi
  export KYR_BENCH_JVM_ROWS="$jvm_rows"
elif [ -z "${KYR_BENCH_ONLY:-}" ] || [[ $KYR_BENCH_ONLY == *jvm* ]]; then
  echo "not run: bench JVM figure (the Java part was not built: no JDK 17)"
fi

cd "$build"
# On a shared machine a raised priority keeps background builds from
# dominating the figures; without the right to raise it, run as is.
run=("$bin")
if nice -n -10 true 2>/dev/null; then run=(nice -n -10 "$bin"); fi
# kyr_bench writes the file afresh; the fault figures add their section after it.
only=${KYR_BENCH_ONLY:-}
others=${only//faults/}
others=${others//,/}
if [ -z "$only" ] || [ -n "$others" ]; then
  "${run[@]}" "$out" || {
    rc=$?
    echo "bench: kyr_bench exited with status $rc" >&2
    exit "$rc"
  }
fi
if [ -z "$only" ] || [[ $only == *faults* ]]; then
  if [ -x "$build/bench/fault_bench" ]; then
    echo "bench: network faults (fault_bench)"
    "$build/bench/fault_bench" "$out" || {
      rc=$?
      echo "bench: fault_bench exited with status $rc" >&2
      exit "$rc"
    }
  else
    echo "bench: fault_bench not built (the codec simulator is off)" >&2
  fi
fi
echo
cat "$out"
