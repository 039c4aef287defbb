#!/usr/bin/env bash
# The main job on the embedded default: installs what is missing, builds, and
# runs a whole diagnostic of vqdiag (reader model "VQ 480T") on the embedded
# default machine, printing its report. Arguments go to vqdiag (--check picks
# another model, --machine another machine folder).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
if [ $# -eq 0 ]; then set -- --check 1; fi
exec build/default/apps/vqdiag/vqdiag "$@"
