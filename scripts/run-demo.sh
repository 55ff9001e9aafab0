#!/usr/bin/env bash
# The main job: builds the installer with the bundled demo update package, lays out a
# demo game install, runs the installer in the terminal (confirming with OK) and
# shows what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh core
cmake --preset debug >/dev/null
cmake --build --preset debug -j "${PAKUPDATE_JOBS:-2}"
exec bash demo/run-demo.sh build/debug
