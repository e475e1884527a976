#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but
# only when something is missing (so a warm machine pays nothing).
#
#   scripts/bootstrap.sh [PACKAGE | @GROUP]...
#
# Extra arguments name more packages (clang for fuzzing, libbenchmark-dev) or
# a group: @i386 (the 32-bit x86 build with its JVM, part of the default
# tests, and qemu-user for machines that cannot run it directly) or @cross
# (the armhf and arm64 cross-builds run under qemu-user).
# A package written NAME:ARCH is a multiarch package of another
# architecture; that architecture is added to dpkg first.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config
  libssl-dev openssl
  libcjson-dev
  android-liblog-dev
  openjdk-17-jdk-headless junit4
  libgtest-dev libgmock-dev
  libedit-dev tmux
)

# The libraries the library and its tests link, for one foreign architecture.
target_libs() {
  local a=$1
  echo "libssl-dev:$a libcjson-dev:$a android-liblog-dev:$a libgtest-dev:$a libgmock-dev:$a"
}

EXTRA=()
for arg in "$@"; do
  case "$arg" in
    @i386)
      # The i386 JDK installs beside the amd64 one (/usr/lib/jvm/java-17-openjdk-i386).
      # qemu-user always: some kernels refuse 32-bit programs, and run.sh then
      # runs the suites under qemu-i386 (KYR_I386_EMULATOR=1 forces that path).
      read -r -a more <<<"g++-i686-linux-gnu $(target_libs i386) openjdk-17-jdk-headless:i386 qemu-user"
      EXTRA+=("${more[@]}") ;;
    @cross)
      read -r -a more <<<"qemu-user g++-arm-linux-gnueabihf $(target_libs armhf) g++-aarch64-linux-gnu $(target_libs arm64)"
      EXTRA+=("${more[@]}") ;;
    *) EXTRA+=("$arg") ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

missing=()
foreign=()
for p in "${PKGS[@]}" "${EXTRA[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
    case "$p" in *:*) foreign+=("${p##*:}") ;; esac
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  for a in $(printf '%s\n' "${foreign[@]}" | sort -u); do
    if [ "$a" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$a"; then
      $SUDO dpkg --add-architecture "$a"
    fi
  done
  $SUDO apt-get update -qq
  # Multiarch packages must match the host's version of the same package, so
  # apt may upgrade a few host packages along with them.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
