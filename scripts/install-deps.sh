#!/usr/bin/env bash
# Installs what building, running and testing volumes needs on Debian 12, and makes
# 32-bit programs run (scripts/emulation.sh).
# Idempotent: packages already present are skipped; apt is not touched when nothing is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/emulation.sh"

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "volumes: $1 needs root; run this as root (or with sudo)." >&2
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
  qemu-user-static
)
# The check of the Windows workflow runs a validator from the npm registry through npx;
# a Node.js installed some other way is kept.
command -v npx >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root "installing packages"
  echo "volumes: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  log=/tmp/volumes-apt.log
  # A mirror in the middle of a sync serves a stale index now and then: try again, and
  # go on with what arrived, since the install below may not need the rest.
  for attempt in 1 2 3; do
    apt-get update -qq >"$log" 2>&1 && break
    [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
  done
  apt_install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >>"$log" 2>&1; }
  # Without one architecture's index of the security suite, apt may want an amd64
  # library from there whose i386 twin it cannot see; the release's own suite has both.
  if ! apt_install && ! apt_install -t "$(. /etc/os-release && echo "$VERSION_CODENAME")"; then
    echo "volumes: could not install: ${missing[*]}" >&2
    echo "volumes: the last lines of apt's output (full log in $log):" >&2
    tail -n 15 "$log" >&2
    exit 1
  fi
fi

if [ "$(i386_kind)" != native ] || [ -f "$I386_ENTRY" ]; then
  need_root "setting up 32-bit programs"
fi
setup_i386
