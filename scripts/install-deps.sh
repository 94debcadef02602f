#!/usr/bin/env bash
# Installs what building, running and testing volumes needs on Debian 12.
# Idempotent: packages already present are skipped; apt is not touched when nothing is missing.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "volumes: installing packages needs root; run this as root (or with sudo)." >&2
    exit 1
  fi
}

packages=(
  cmake make g++ git
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  wine wine64 wine32:i386
  xvfb xdotool imagemagick x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

need_root
echo "volumes: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if ! apt-get update -qq; then
  echo "volumes: apt-get update failed; check the network and /etc/apt/sources.list." >&2
  exit 1
fi
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/volumes-apt.log 2>&1; then
  echo "volumes: could not install: ${missing[*]}" >&2
  echo "volumes: the last lines of apt's output (full log in /tmp/volumes-apt.log):" >&2
  tail -n 15 /tmp/volumes-apt.log >&2
  exit 1
fi
