#!/usr/bin/env bash
# Runs the test suites of the Windows test folder that `scripts/package.sh --with-tests`
# makes (build/windows-tests), from the folder this script lies in. On Windows, under Git
# Bash, every .exe starts directly. Elsewhere VOLUMES_LAUNCHER names the program that
# starts one, called as `LAUNCHER 32|64 PROGRAM ARGUMENTS...` (under Wine:
# cmake/wine-run.sh, on the loader of the program's bitness).
#
#   win32/unit, win32/win32, win32/ui           the 32-bit full edition; its win32 suite
#                                               starts the shipped 32-bit volumes.exe
#   win64/unit, win64/win32, win64/ui           the 64-bit reduced edition, the same with
#                                               the shipped 64-bit volumes.exe
#   win64-full/unit, win64-full/win32, win64-full/ui   the full edition as 64-bit code
#   program32                                   the shipped 32-bit volumes.exe read from
#                                               the 64-bit full edition's tests
#
# Arguments name the suites to run; without any, all of them run. Fails when a file that
# a suite needs is missing (before anything runs), and when a suite fails, ends without
# its report or runs no test. One line per suite; reports and output in results/.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$root" || exit 1

# suite, folder, bitness, test program, arguments
SUITES=(
  "win32/unit win32 32 unit_tests.exe"
  "win32/win32 win32 32 win32_tests.exe"
  "win32/ui win32 32 ui_tests.exe"
  "win64/unit win64 64 unit_tests.exe"
  "win64/win32 win64 64 win32_tests.exe"
  "win64/ui win64 64 ui_tests.exe"
  "win64-full/unit win64-full 64 unit_tests.exe"
  "win64-full/win32 win64-full 64 win32_tests.exe"
  "win64-full/ui win64-full 64 ui_tests.exe"
  "program32 win64-full 64 win32_tests.exe --gtest_filter=WineProgram.*:WineResources.*"
)
# What each folder holds: the suites, the program, and what the program tests start
# beside it.
FILES=(unit_tests.exe win32_tests.exe ui_tests.exe volumes.exe volumes_startup_error.exe
  load_by_name.exe planted_marker.dll)

selected=("$@")
if [ ${#selected[@]} -eq 0 ]; then
  for entry in "${SUITES[@]}"; do selected+=("${entry%% *}"); done
fi

# The rows of the selected suites, and the folders they need.
rows=()
folders=()
for suite in "${selected[@]}"; do
  row=
  for entry in "${SUITES[@]}"; do [ "${entry%% *}" = "$suite" ] && row=$entry; done
  if [ -z "$row" ]; then
    echo "FAILED: no suite is called $suite"
    exit 1
  fi
  rows+=("$row")
  read -r _ folder _ <<<"$row"
  folders+=("$folder")
  [ "$suite" = program32 ] && folders+=(win32)
done
missing=()
for folder in $(printf '%s\n' "${folders[@]}" | sort -u); do
  for file in "${FILES[@]}"; do
    [ -f "$folder/$file" ] || missing+=("$folder/$file")
  done
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "FAILED: missing in $root: ${missing[*]}"
  exit 1
fi

# An attribute of a GoogleTest report's <testsuites> element.
xml_count() { sed -n "s/.*<testsuites [^>]*\<$2=\"\([0-9]*\)\".*/\1/p" "$1" | head -n 1; }

mkdir -p results
failed=()
for row in "${rows[@]}"; do
  read -r suite folder bits program arguments <<<"$row"
  read -r -a arguments <<<"$arguments"
  name=${suite//\//-}
  report=results/$name.xml
  log=results/$name.log
  rm -f "$report" "$folder/$name.xml"
  echo "running $suite"
  started=$SECONDS
  start=("./$program")
  [ -n "${VOLUMES_LAUNCHER:-}" ] && start=("$VOLUMES_LAUNCHER" "$bits" "./$program")
  (
    cd "$folder" || exit 1
    # The 32-bit program, named from the 64-bit tests' folder.
    [ "$suite" = program32 ] && export VOLUMES_PROGRAM='..\win32\volumes.exe'
    "${start[@]}" "${arguments[@]}" --gtest_output="xml:$name.xml"
  ) >"$log" 2>&1
  status=$?
  took="$((SECONDS - started)) s"
  [ -f "$folder/$name.xml" ] && mv "$folder/$name.xml" "$report"
  if [ ! -f "$report" ]; then
    verdict="ended without a report (exit code $status, $took)"
  else
    tests=$(xml_count "$report" tests)
    failures=$(xml_count "$report" failures)
    errors=$(xml_count "$report" errors)
    skipped=$(grep -c 'result="skipped"' "$report")
    disabled=$(xml_count "$report" disabled)
    cases=$((${tests:-0} - ${disabled:-0}))
    ran=$((cases - skipped))
    verdict="$ran of $cases ran, ${failures:-0} failed, $skipped skipped"
    if [ "$status" -ne 0 ] || [ "${failures:-0}" -gt 0 ] || [ "${errors:-0}" -gt 0 ]; then
      verdict+=" (exit code $status, $took)"
    elif [ "$ran" -le 0 ]; then
      verdict+=": it ran no test"
    else
      echo "passed: $suite: $verdict ($took)"
      continue
    fi
  fi
  cat "$log"
  echo "FAILED: $suite: $verdict"
  failed+=("$suite")
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${#failed[@]} of ${#rows[@]} suites: ${failed[*]}"
  exit 1
fi
echo "all ${#rows[@]} suites passed"
