#!/usr/bin/env bash
# Builds the release archives of both programs, with a SHA-256 checksum file:
#   build/release/volumes-<version>-32bit-full.zip     (the full edition)
#   build/release/volumes-<version>-64bit-reduced.zip  (the reduced edition)
#   build/release/SHA256SUMS
# Each archive holds volumes.exe and the README.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

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
