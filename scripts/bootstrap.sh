#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but
# only when something is missing (so a warm machine pays nothing).
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config
  libssl-dev openssl
  libcjson-dev
  android-liblog-dev
  openjdk-17-jdk-headless junit4
  libgtest-dev libgmock-dev
)
EXTRA=("$@")   # callers may ask for more (clang for fuzzing, libbenchmark-dev)

missing=()
for p in "${PKGS[@]}" "${EXTRA[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
