#!/usr/bin/env bash
# The main-job demo: one real session of the Java service against the codec
# simulator. Called by `./run.sh demo` (which installs and builds first) as
#   scripts/demo.sh <build-dir> [seconds to listen, default 3]
#
# It starts the simulator on loopback (127.0.0.2: the library never uses TLS
# to 127.0.0.1) with TLS 1.0 and pairing required, then runs the Java demo
# (quorvex.kyrconnectservice.demo.KyrDemo), which sets the service up,
# connects with a serial number, pairs with the administrator credentials,
# prints every event by name as it arrives, disconnects and releases. Lines
# are prefixed: "app" (the Java program), "lib" (the library's log), "codec"
# (each request the simulator received). DEMO_VERBOSE=1 also shows the
# library's debug lines.
set -euo pipefail
BUILD=${1:?usage: scripts/demo.sh <build-dir> [seconds]}
SECONDS_TO_LISTEN=${2:-3}
BUILD=$(cd "$BUILD" && pwd)

LAUNCHER=$BUILD/tests/jvm/kyr-sim-launcher
JAR=$BUILD/java/kyrconnect.jar
LIB=$BUILD/libkyrconnect.so
for f in "$LAUNCHER" "$JAR" "$LIB"; do
  if [ ! -e "$f" ]; then
    echo "demo: $f is missing; build first (./run.sh demo does)" >&2
    exit 1
  fi
done
JAVA=java
if [ -n "${JAVA_HOME:-}" ] && [ -x "$JAVA_HOME/bin/java" ]; then JAVA=$JAVA_HOME/bin/java; fi
# Another ABI's build whose programs this host cannot run itself: KYR_EMULATOR
# (e.g. qemu-i386) runs the simulator and java.
read -r -a EMU <<<"${KYR_EMULATOR:-}"

SERIAL=KYR-DEMO-0001
ADMIN=admin
ADMIN_PWD=demo-secret

coproc SIM { exec "${EMU[@]}" "$LAUNCHER" --serial "$SERIAL" --pairing-required --admin-user "$ADMIN" --admin-pwd "$ADMIN_PWD" --echo; }
# Coprocess descriptors are not inherited by other jobs; keep copies.
exec {SIM_OUT}<&"${SIM[0]}" {SIM_IN}>&"${SIM[1]}"
stop_sim() {
  if [ -n "${SIM_PID:-}" ]; then
    echo quit >&"$SIM_IN" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
  fi
}
SIM_PID=$SIM_PID
trap stop_sim EXIT

if ! read -r -t 10 first <&"$SIM_OUT"; then
  echo "demo: the simulator did not start" >&2
  exit 1
fi
PORT=$(sed -n 's/.*port=\([0-9]*\).*/\1/p' <<<"$first")
echo "codec | $first"
echo "codec | serial $SERIAL, pairing required, administrator $ADMIN"
# Everything else the simulator prints, as it happens.
sed -u 's/^/codec | /' <&"$SIM_OUT" &

filter_lib() {
  if [ "${DEMO_VERBOSE:-0}" = 1 ]; then
    grep --line-buffered -v '^$' | sed -u 's/^/lib   | /'
  else
    grep --line-buffered -v -e '^[^ ]* D ' -e '^$' | sed -u 's/^/lib   | /'
  fi
}

status=0
"${EMU[@]}" "$JAVA" -Dkyrconnect.library="$LIB" -cp "$JAR" quorvex.kyrconnectservice.demo.KyrDemo \
  "127.0.0.2:$PORT" "$SERIAL" "$ADMIN" "$ADMIN_PWD" "$SECONDS_TO_LISTEN" \
  2> >(filter_lib >&2) | sed -u 's/^/app   | /' || status=$?
stop_sim
sleep 0.2
if [ "$status" = 0 ]; then
  echo "demo: session completed"
else
  echo "demo: session failed (exit $status)" >&2
fi
exit "$status"
