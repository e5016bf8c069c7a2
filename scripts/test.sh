#!/bin/bash
# Builds Quillfern and runs every test. Pass --preset asan for the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=dev
if [ "${1:-}" = "--preset" ]; then preset=$2; fi
scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
