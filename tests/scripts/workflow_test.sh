#!/usr/bin/env bash
# The Windows workflow (.github/workflows/windows.yml) cannot run here; its file is
# checked against GitHub's workflow schema instead, and so is a copy with one key
# misspelt, which must fail, so that a validator that accepts anything is noticed.
# Prints one line per case; exits 1 when a case fails, 77 when npx is missing.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
workflow=$root/.github/workflows/windows.yml
if ! command -v npx >/dev/null; then
  echo "skipped: npx is missing, the workflow is not validated"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
validate() { npx --yes @action-validator/cli "$1" 2>&1; }

failed=0
if output=$(validate "$workflow"); then
  echo "ok: .github/workflows/windows.yml is a valid workflow"
else
  echo "FAILED: .github/workflows/windows.yml is a valid workflow"$'\n'"$output"
  failed=1
fi
sed 's/^\( *\)runs-on:/\1runs_on:/' "$workflow" >"$work/misspelt.yml"
if validate "$work/misspelt.yml" >/dev/null; then
  echo "FAILED: a workflow whose jobs say runs_on passed the validator"
  failed=1
else
  echo "ok: a workflow whose jobs say runs_on fails"
fi
exit $failed
