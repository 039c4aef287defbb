#!/usr/bin/env bash
# Builds everything and runs every test: the default build (all tests), the
# fuzz targets (each run for 20 s on a copy of its seed corpus, 8 at a time;
# a crash, leak, hang or sanitizer report fails the run, at its end), the
# AddressSanitizer build (all but the pcscd integration tests) and the
# ThreadSanitizer build (the Windows CE driver tests, which run threads).
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
echo "== fuzz targets"
fuzz_status=0
fuzz/run.sh build/fuzz 20 || fuzz_status=$?
run_preset asan -LE integration
run_preset tsan -L ce
if [ "$fuzz_status" != 0 ]; then
  echo "== fuzz targets FAILED (see their lines above)"
  exit 1
fi
