#!/usr/bin/env bash
# Builds everything and runs every test: the default build (all tests), the
# fuzz targets (built), the AddressSanitizer build (all but the pcscd
# integration tests) and the ThreadSanitizer build (the Windows CE driver
# tests, which run threads).
# Installs what is missing first when run as root on Debian.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
run_preset() {
  local preset=$1; shift
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ $# -gt 0 ]; then
    ctest --preset "$preset" "$@"
  fi
}

run_preset default --output-on-failure
run_preset fuzz
run_preset asan -LE integration
run_preset tsan -L ce
