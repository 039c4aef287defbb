#!/usr/bin/env bash
# The main job on the embedded default: installs what is missing, builds, and
# runs the engine against a simulated reader with a card.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
exec build/default/apps/vqengine-demo/vqengine-demo "$@"
