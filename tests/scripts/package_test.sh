#!/usr/bin/env bash
# The release as a user receives it: scripts/package.sh builds it, and each archive holds
# what its name promises. Prints one line per case; exits non-zero when a case fails.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$root/build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
check() {  # check NAME COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}

if ! bash "$root/scripts/package.sh"; then
  echo "FAILED: scripts/package.sh"
  exit 1
fi
version=$(sed -n 's/^set(VOLUMES_VERSION \([0-9.]*\))$/\1/p' "$root/cmake/identity.cmake")
check "SHA256SUMS names both archives and verifies" \
  bash -c "cd '$out' && [ \$(wc -l <SHA256SUMS) = 2 ] && sha256sum --quiet -c SHA256SUMS"
# label, PE magic (PE32 or PE32+), edition in the version resource's description
for entry in "32bit-full 010b full" "64bit-reduced 020b reduced"; do
  read -r label magic edition <<<"$entry"
  zip=$out/volumes-$version-$label.zip
  check "$label: the archive exists" test -f "$zip" || continue
  mkdir -p "$work/$label"
  (cd "$work/$label" && cmake -E tar xf "$zip")
  folder=$work/$label/volumes-$version-$label
  check "$label: it holds volumes.exe and README.md, and nothing else" \
    test "$(ls "$folder" | xargs)" = "README.md volumes.exe"
  exe=$folder/volumes.exe
  check "$label: volumes.exe is a $magic image" \
    grep -q "^Magic[[:space:]]*$magic" <(objdump -p "$exe" 2>/dev/null)
  # The version resource's strings are UTF-16: each value follows its key.
  strings=$(strings -e l "$exe")
  check "$label: the $edition edition" grep -q "^volumes ($edition edition)" <<<"$strings"
  resource=$(grep -A 1 '^FileVersion$' <<<"$strings" | tail -n 1)
  check "$label: the name's version $version is the resource's ($resource)" \
    test "$(sed -E 's/(\.0)+$//' <<<"$resource")" = "$(sed -E 's/(\.0)+$//' <<<"$version")"
done
exit $failed
