#!/usr/bin/env bash
# Builds the release archives of both programs, with a SHA-256 checksum file:
#   build/release/volumes-<version>-32bit-full.zip     (the full edition)
#   build/release/volumes-<version>-64bit-reduced.zip  (the reduced edition)
#   build/release/SHA256SUMS
# Each archive holds volumes.exe and the README.
# With --with-tests, also build/windows-tests, what the Windows runners test
# (.github/workflows/windows.yml): a folder for each Windows build of the test command
# (WINDOWS_BUILDS in common.sh) with its test programs and the helpers they start beside
# volumes.exe, which is the shipped one out of the archives (in win64-full, the 64-bit
# full edition's own, which does not ship), and tests/scripts/windows_run.sh to run them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

case "${1:-}" in
  "" | --with-tests) ;;
  *) die "usage: package.sh [--with-tests]" ;;
esac

install_deps
version=$(sed -n 's/^set(VOLUMES_VERSION \([0-9.]*\))$/\1/p' cmake/identity.cmake)
[ -n "$version" ] || die "no version in cmake/identity.cmake"

out=build/release
rm -rf "$out"
mkdir -p "$out"
for b in win32 win64; do
  case $b in
    win32) toolchain=cmake/mingw-i686.cmake label=32bit-full ;;
    win64) toolchain=cmake/mingw-x86_64.cmake label=64bit-reduced ;;
  esac
  say "building the release of build/release-$b"
  configure_build "release-$b" -DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release ||
    die "configuration failed"
  build "release-$b" --target volumes || die "the build failed"
  stage=$out/volumes-$version-$label
  mkdir -p "$stage"
  cp "build/release-$b/volumes.exe" "$stage/volumes.exe"
  cp README.md "$stage/README.md"
  (cd "$out" && cmake -E tar cf "volumes-$version-$label.zip" --format=zip "volumes-$version-$label")
  rm -rf "$stage"
done
(cd "$out" && sha256sum ./*.zip | sed 's| \./| |' >SHA256SUMS)
say "release archives in $VOLUMES_ROOT/$out:"
(cd "$out" && cat SHA256SUMS)

[ "${1:-}" = --with-tests ] || exit 0
tests=build/windows-tests
rm -rf "$tests"
for entry in "${WINDOWS_BUILDS[@]}"; do
  b=${entry%%|*}
  read -r -a args <<<"${entry#*|}"
  say "building build/$b"
  configure_build "$b" "${args[@]}" || die "configuration failed"
  build "$b" || die "the build failed"
  mkdir -p "$tests/$b"
  cp "build/$b"/{unit_tests,win32_tests,ui_tests,volumes_startup_error,load_by_name}.exe \
    "build/$b/planted_marker.dll" "$tests/$b/"
done
for entry in "win32 32bit-full" "win64 64bit-reduced"; do
  read -r b label <<<"$entry"
  (cd "$tests/$b" && cmake -E tar xf "$VOLUMES_ROOT/$out/volumes-$version-$label.zip" &&
    mv "volumes-$version-$label/volumes.exe" . && rm -r "volumes-$version-$label")
done
cp build/win64-full/volumes.exe "$tests/win64-full/"
cp tests/scripts/windows_run.sh "$tests/"
say "the Windows runners' tests in $VOLUMES_ROOT/$tests"
