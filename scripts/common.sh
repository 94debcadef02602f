# Shared by scripts/test.sh and scripts/run.sh (sourced, not run).

VOLUMES_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${VOLUMES_JOBS:-2}
source "$VOLUMES_ROOT/scripts/emulation.sh"

say() { printf 'volumes: %s\n' "$*"; }
die() {
  printf 'volumes: %s\n' "$*" >&2
  exit 1
}

# Installs what is missing and makes 32-bit programs run; a failure ends the script
# with install-deps.sh's own message.
install_deps() {
  if ! bash "$VOLUMES_ROOT/scripts/install-deps.sh"; then
    die "the set-up above failed; nothing was built."
  fi
}

# The Windows builds: NAME|cmake arguments. The test command runs their suites under
# Wine; `package.sh --with-tests` hands them to the Windows runners.
WINDOWS_BUILDS=(
  "win32|-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release"
  "win64|-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release"
  "win64-full|-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DVOLUMES_EDITION=full -DVOLUMES_PROGRAM32=$VOLUMES_ROOT/build/win32/volumes.exe"
)

# configure_build FOLDER [cmake arguments...]: configures once, then only rebuilds.
# Output goes to FOLDER.log; on failure its tail is shown.
configure_build() {
  local dir=$VOLUMES_ROOT/build/$1
  shift
  mkdir -p "$dir"
  if ! cmake -S "$VOLUMES_ROOT" -B "$dir" "$@" >"$dir.log" 2>&1; then
    tail -n 30 "$dir.log" >&2
    say "configuring build/${dir##*/} failed (full output: $dir.log)" >&2
    return 1
  fi
}

build() {
  local dir=$VOLUMES_ROOT/build/$1
  shift
  if ! cmake --build "$dir" -j "$JOBS" "$@" >>"$dir.log" 2>&1; then
    grep -E 'error|Error' "$dir.log" | head -n 40 >&2
    say "building build/${dir##*/} failed (full output: $dir.log)" >&2
    return 1
  fi
}

# Wine's two loaders, started directly. The `wine` launcher takes the 32-bit loader
# for every program, which then starts the 64-bit one for a 64-bit program: where
# 32-bit code is emulated, that detour alone costs the emulated start.
WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64
wine32() { "$WINE32_LOADER" "$@"; }
wine64() { "$WINE64_LOADER" "$@"; }

# The Wine environment of one build folder: its own prefix and home, quiet, no
# Mono or Gecko installers; new 64-bit processes on the 64-bit loader. A win64 prefix
# runs 32-bit programs too.
wine_env() {
  local dir=$VOLUMES_ROOT/build/$1
  mkdir -p "$dir/winehome"
  export WINEPREFIX=$dir/wineprefix HOME=$dir/winehome WINEDEBUG=-all WINEARCH=win64
  export WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=$WINE64_LOADER
  use_i386_emulation "$VOLUMES_ROOT/build/emulation"
}

wineprefix_ready() { [ -f "$1/system.reg" ] && [ -d "$1/drive_c/windows/system32" ]; }

# The test programs' windows are left to no window manager. Without one (Xvfb), Wine
# waits two seconds for every hidden or destroyed window it would hand to a manager: for
# the UI suite that made 35 tests take 115 s instead of 2 s. The program itself keeps
# the default, so that run.sh shows it as a user sees it. In the wine_env of a prefix.
unmanage_test_windows() {
  local exe
  grep -q 'AppDefaults\\\\ui_tests.exe\\\\X11 Driver' "$WINEPREFIX/user.reg" 2>/dev/null && return 0
  for exe in unit_tests.exe win32_tests.exe ui_tests.exe; do
    wine64 reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\X11 Driver" /v Managed /d N /f \
      >/dev/null 2>&1 || return 1
  done
  wineserver -w
}

# Gives a build folder its Wine prefix, once: a copy of build/prefix-template, which
# is created first (about half a minute, where 32-bit code is emulated too). Tests
# running in parallel must not race to create a prefix.
prepare_prefix() {
  local prefix=$VOLUMES_ROOT/build/$1/wineprefix
  if wineprefix_ready "$prefix"; then
    (wine_env "$1" && unmanage_test_windows)
    return
  fi
  mkdir -p "$VOLUMES_ROOT/build"
  (
    exec 9>"$VOLUMES_ROOT/build/prefix-template.lock"
    flock 9
    wine_env prefix-template
    if ! wineprefix_ready "$WINEPREFIX"; then
      rm -rf "$WINEPREFIX"
      wine64 wineboot -i >"$VOLUMES_ROOT/build/prefix-template.wineboot.log" 2>&1 &&
        wineserver -w && unmanage_test_windows || exit 1
    fi
    rm -rf "$prefix"
    mkdir -p "${prefix%/*}"
    cp -a "$WINEPREFIX" "$prefix"
  )
}

stop_wineserver() {
  (
    wine_env "$1"
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
    true
  )
}

XVFB_PID=
# start_xvfb [WIDTHxHEIGHT]: starts Xvfb on a free display and exports DISPLAY;
# stop_xvfb ends it.
start_xvfb() {
  local n size=${1:-1280x1024}
  for n in $(seq 90 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >"$VOLUMES_ROOT/build/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local tries
    for tries in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  done
  say "could not start Xvfb (see build/xvfb.log)" >&2
  return 1
}

stop_xvfb() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
}

# The DLLs a Windows executable imports, one a line, lower case.
imported_dlls() {
  objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'
}

# The only DLLs a program may import: Windows' KnownDLLs, which it always takes from its
# system folder, and comctl32, which the manifest's side-by-side assembly names. Any
# other DLL would be searched for beside the executable first (DLL planting).
ALLOWED_IMPORTS=(comctl32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll)

# check_imports EXE: fails, naming each DLL that EXE imports outside ALLOWED_IMPORTS.
check_imports() {
  local dll bad=0
  for dll in $(imported_dlls "$1"); do
    if [[ " ${ALLOWED_IMPORTS[*]} " != *" $dll "* ]]; then
      say "$1 imports $dll, which is not one of: ${ALLOWED_IMPORTS[*]}" >&2
      bad=1
    fi
  done
  return $bad
}

# check_header_flags EXE: fails, naming each protection missing from EXE's PE header:
# DYNAMIC_BASE with its relocations kept, NX_COMPAT, TERMINAL_SERVER_AWARE, and
# HIGH_ENTROPY_VA in a 64-bit image. objdump spells the last but one its own way.
check_header_flags() {
  local header flag missing=()
  header=$(objdump -p "$1") || return 1
  local flags=(DYNAMIC_BASE:DYNAMIC_BASE NX_COMPAT:NX_COMPAT
    TERMINAL_SERVER_AWARE:TERMINAL_SERVICE_AWARE)
  grep -q '^Magic[[:space:]]*020b' <<<"$header" && flags+=(HIGH_ENTROPY_VA:HIGH_ENTROPY_VA)
  for flag in "${flags[@]}"; do
    grep -qw "${flag#*:}" <<<"$header" || missing+=("${flag%%:*}")
  done
  if grep -q 'relocations stripped' <<<"$header" ||
    [ "$(awk '/Base Relocation Directory/ { print $3 }' <<<"$header")" = 00000000 ]; then
    missing+=("relocations (for DYNAMIC_BASE)")
  fi
  [ ${#missing[@]} -eq 0 ] && return 0
  say "$1 lacks in its PE header: ${missing[*]}" >&2
  return 1
}
