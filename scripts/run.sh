#!/usr/bin/env bash
# Installs what is missing, builds the register and starts it on its default data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh --target varnex
exec "${BUILD_DIR:-build}/app/varnex" "$@"
