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

# The simulator runs as a coprocess; the demo may ask for it to be restarted
# on the same port (see the control fifo below), so starting it is a function.
start_sim() {
  local port_args=()
  if [ -n "${PORT:-}" ]; then port_args=(--port "$PORT"); fi
  coproc SIM { exec "${EMU[@]}" "$LAUNCHER" "${port_args[@]}" --serial "$SERIAL" --pairing-required --admin-user "$ADMIN" \
                    --admin-pwd "$ADMIN_PWD" --echo; }
  # Coprocess descriptors are not inherited by other jobs; keep copies.
  exec {SIM_OUT}<&"${SIM[0]}" {SIM_IN}>&"${SIM[1]}"
  SIM_PID=$SIM_PID
  local first
  if ! read -r -t 10 first <&"$SIM_OUT"; then
    echo "demo: the simulator did not start" >&2
    exit 1
  fi
  PORT=$(sed -n 's/.*port=\([0-9]*\).*/\1/p' <<<"$first")
  echo "codec | $first"
  # Everything else the simulator prints, as it happens.
  sed -u 's/^/codec | /' <&"$SIM_OUT" &
}
stop_sim() {
  if [ -n "${SIM_PID:-}" ]; then
    echo quit >&"$SIM_IN" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
    exec {SIM_IN}>&- {SIM_OUT}<&-
  fi
}
SIM_PID=
PORT=
trap stop_sim EXIT
start_sim
echo "codec | serial $SERIAL, pairing required, administrator $ADMIN"

filter_lib() {
  if [ "${DEMO_VERBOSE:-0}" = 1 ]; then
    grep --line-buffered -v '^$' | sed -u 's/^/lib   | /'
  else
    grep --line-buffered -v -e '^[^ ]* D ' -e '^$' | sed -u 's/^/lib   | /'
  fi
}

# The SDK demo steers the codec through a fifo: "restart" starts a fresh
# simulator on the same port (it forgets every pairing), "sim COMMAND" hands
# a command to the running one. DEMO_CLASS=KyrDemo runs the low-level demo.
DEMO_CLASS=${DEMO_CLASS:-SessionDemo}
CTL_DIR=$(mktemp -d)
CTL=$CTL_DIR/control
mkfifo "$CTL"
exec {CTL_FD}<>"$CTL"
trap 'stop_sim; rm -rf "$CTL_DIR"' EXIT

status=0
run_app() {
  "${EMU[@]}" "$JAVA" -Dkyrconnect.library="$LIB" -cp "$JAR" "quorvex.kyrconnectservice.demo.$DEMO_CLASS" \
    "127.0.0.2:$PORT" "$SERIAL" "$ADMIN" "$ADMIN_PWD" "$SECONDS_TO_LISTEN" "$CTL" \
    2> >(filter_lib >&2) | sed -u 's/^/app   | /'
}
# In the background, so this shell can serve the control fifo meanwhile.
run_app &
APP_PID=$!
# A read that times out mid-line (a busy machine) keeps what it got: the rest follows.
pending=
while kill -0 "$APP_PID" 2>/dev/null; do
  part=
  if ! read -r -t 0.2 part <&"$CTL_FD"; then
    pending+=$part
  else
    cmd=$pending$part
    pending=
    case "$cmd" in
      restart)
        echo "demo: restarting the simulator on port $PORT"
        stop_sim
        start_sim ;;
      sim\ *)
        echo "${cmd#sim }" >&"$SIM_IN" ;;
      *)
        echo "demo: unknown control line: $cmd" >&2 ;;
    esac
  fi
done
wait "$APP_PID" || status=$?
stop_sim
sleep 0.2
if [ "$status" = 0 ]; then
  echo "demo: session completed"
else
  echo "demo: session failed (exit $status)" >&2
fi
exit "$status"
