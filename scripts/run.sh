#!/usr/bin/env bash
# Builds both programs and runs one under Wine: the 32-bit build (full edition), or
# with --64 the 64-bit build (reduced edition).
# With $DISPLAY set the window opens there and the script ends with the program.
# Without, the program runs on a private Xvfb in a Wine desktop (so the window has a
# title bar); the script saves a screenshot to build/screenshots/volumes-32.png (or
# -64), prints its path and stops the program again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

bits=32
case "${1:-}" in
  "" | --32) ;;
  --64) bits=64 ;;
  *) die "usage: bash scripts/run.sh [--64]" ;;
esac
name=win$bits
exe=build/$name/volumes.exe

compgen -G 'app/*.cpp' >/dev/null || die "there is no program to build yet: app/ has no sources"
install_deps
for b in win32 win64; do
  toolchain=cmake/mingw-i686.cmake
  [ "$b" = win64 ] && toolchain=cmake/mingw-x86_64.cmake
  say "building build/$b/volumes.exe"
  configure_build "$b" -DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release ||
    die "configuration failed"
  build "$b" --target volumes || die "the build failed"
done

i386=$(i386_kind)
say "preparing the Wine prefix of build/$name (the first time takes about half a minute)"
prepare_prefix "$name" ||
  die "could not create the Wine prefix (see build/prefix-template.wineboot.log)"
wine_env "$name"
if [ "$bits" = 32 ] && [ "$i386" = emulated ]; then
  say "this kernel refuses 32-bit programs: the 32-bit volumes.exe runs under the emulator" \
    "qemu-i386, and its window takes a few seconds to appear"
fi

if [ -n "${DISPLAY:-}" ]; then
  say "running $exe on $DISPLAY"
  "wine$bits" "$exe"
  exit
fi

program_pid=
# Stops what this script started, on every path: the program (through its Wine server)
# and the private display. Nothing here may end the cleanup early.
cleanup() {
  set +e
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  stop_xvfb
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log=build/$name.run.log
# Ends the script with the program's own last words.
fail_with_log() {
  say "the last lines of $log:" >&2
  tail -n 15 "$log" | sed 's/^/  /' >&2
  die "$*"
}

start_xvfb 1600x900 || die "could not start Xvfb"
say "running $exe on the private display $DISPLAY"
wine64 explorer /desktop=volumes,1600x900 "$exe" >"$log" 2>&1 &
program_pid=$!

# The main window's title: the full title, or the layout caption the reduced build keeps.
# Where the program is emulated, a line every five seconds shows that it is still coming.
window=
for tick in $(seq 240); do
  window=$(xdotool search --name 'Karrowin|^Volumes$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$program_pid" 2>/dev/null || fail_with_log "volumes.exe ended before it showed its window"
  [ $((tick % 10)) -eq 0 ] && printf 'volumes: waiting for the window (%ds)\n' $((tick / 2))
  sleep 0.5
done
[ -n "$window" ] || fail_with_log "volumes.exe showed no window within two minutes"
sleep 2 # let the first refresh fill the list and paint
kill -0 "$program_pid" 2>/dev/null || fail_with_log "volumes.exe ended after it showed its window"

mkdir -p build/screenshots
shot=build/screenshots/volumes-$bits.png
import -display "$DISPLAY" -window root "$shot"
say "window \"$(xdotool getwindowname "$window")\" shown; screenshot: $VOLUMES_ROOT/$shot"
