#!/usr/bin/env bash
# Installs what is missing, builds the register and starts it on its default
# data: on the first start the demo shop is made in the data folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh --target varnex mkdemo
build_dir=${BUILD_DIR:-build}
data=${XDG_DATA_HOME:-$HOME/.local/share}/ZEMTA/Varnex
if [[ ! -f "$data/Res/Varnex.dbf" ]]; then
  mkdir -p "$data"
  "$build_dir/tools/mkdemo" "$data" res/varnex/Varnex.project
fi
exec "$build_dir/app/varnex" "$@"
