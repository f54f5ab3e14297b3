#!/usr/bin/env bash
# Configures and builds the whole tree into build/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
generator=()
command -v ninja >/dev/null && [[ ! -f "$build_dir/CMakeCache.txt" ]] && generator=(-G Ninja)
cmake -S . -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" "$@"
