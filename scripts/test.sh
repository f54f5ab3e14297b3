#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then builds
# the tests again with the sanitizers (scripts/build.sh --sanitize, into
# build-asan/) and runs every test again there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd "${BUILD_DIR:-build}" && ctest --output-on-failure --parallel "$(nproc)" --timeout 600)
BUILD_DIR=${SANITIZE_BUILD_DIR:-build-asan} bash scripts/build.sh --sanitize
cd "${SANITIZE_BUILD_DIR:-build-asan}"
# Not the outside-database tests on the SQLite ODBC driver: the driver leaks a
# few blocks per connection from code unloaded before LeakSanitizer looks, so
# no suppression can name it. The same tests run on PostgreSQL here, and on
# both drivers in the normal build.
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 -E 'Odbc.*/SQLite'
