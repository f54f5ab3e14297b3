#!/usr/bin/env bash
# Configures and builds the whole tree into build/ (or $BUILD_DIR), with
# $JOBS compile jobs (all cores unless set).
#
# With --sanitize first: the checking build instead, Debug with asserts and
# AddressSanitizer and UndefinedBehaviorSanitizer (-DVARNEX_SANITIZE=ON), into
# build-asan/ (or $BUILD_DIR); it builds only what the tests run unless targets
# are given.
set -euo pipefail
cd "$(dirname "$0")/.."
config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
build_dir=${BUILD_DIR:-build}
targets=()
if [[ "${1:-}" == --sanitize ]]; then
  shift
  config=(-DCMAKE_BUILD_TYPE=Debug -DVARNEX_SANITIZE=ON)
  build_dir=${BUILD_DIR:-build-asan}
  (($#)) || targets=(--target test_programs)
fi
# A compiler cache, when the machine has one, lets several checkouts of the
# tree share object files (set CCACHE_BASEDIR to their common parent).
command -v ccache >/dev/null && config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
generator=()
command -v ninja >/dev/null && [[ ! -f "$build_dir/CMakeCache.txt" ]] && generator=(-G Ninja)
cmake -S . -B "$build_dir" "${generator[@]}" "${config[@]}" >/dev/null
cmake --build "$build_dir" --parallel "${JOBS:-$(nproc)}" "${targets[@]}" "$@"
