#!/usr/bin/env bash
# The dependency check finds a package that the build used but the install script would not bring: here the
# script without the web host library of the tests, whose header the test support compiled against.
# Usage: dep_check_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed 's/ libcpp-httplib-dev\b//; s/^  libcpp-httplib-dev$//' "$src/scripts/install-deps" >"$work/install-deps"
if grep -qw libcpp-httplib-dev "$work/install-deps"; then
  echo "dep_check_test: could not take libcpp-httplib-dev out of the list"; exit 1
fi
out=$(python3 "$src/scripts/check-deps" "$build" "$work/install-deps" 2>&1)
status=$?
echo "$out"
[ $status -eq 1 ] || { echo "dep_check_test: expected status 1, got $status"; exit 1; }
grep -q '^  package libcpp-httplib-dev: /usr/include/httplib.h (needed by ' <<<"$out" ||
  { echo "dep_check_test: the missing package and its file were not named"; exit 1; }
echo "dep_check_test: the missing package was found"
