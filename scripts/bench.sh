#!/bin/bash
# Builds the benchmarks optimised and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target quillfern_bench
build/release/bench/quillfern_bench "$@"
