#!/bin/bash
# Builds the benchmarks optimised and runs each of them; arguments go to every benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target quillfern_bench
for program in build/release/bench/quillfern_bench_*; do
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$program" "$@"
done
