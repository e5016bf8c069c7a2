#!/bin/bash
# Builds Quillfern and starts it; arguments are passed on (project files to open).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev
cmake --build --preset dev
exec build/dev/src/quillfern "$@"
