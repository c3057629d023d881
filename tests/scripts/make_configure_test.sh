#!/usr/bin/env bash
# The Makefile configures build folders in any state, again and again: a fresh
# one, and one an earlier run configured with another generator (what a first
# run on a machine without ninja leaves behind). CMake refuses a folder when
# asked for a generator other than the one it was configured with.
set -euo pipefail
src=${1:?usage: make_configure_test.sh SOURCE_DIR}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Run as a fresh make, not as part of the make that may be running ctest.
unset MAKEFLAGS MFLAGS MAKELEVEL

configure() {  # BUILD: configure its release folder through the Makefile, bootstrap left out
  if ! make -s -C "$src" -o bootstrap BUILD="$1" configure-release >"$tmp/log" 2>&1; then
    cat "$tmp/log"
    echo "FAILED: make configure-release in $1 (see above)"
    exit 1
  fi
}

cmake -S "$src" -B "$tmp/other/release" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release >/dev/null
for build in "$tmp/fresh" "$tmp/other"; do
  configure "$build"
  configure "$build"
done
echo "configured a fresh folder and one with another generator, twice each"
