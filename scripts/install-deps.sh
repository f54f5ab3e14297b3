#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, only what is
# missing, so a second run takes a moment. Needs root for apt-get.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev fonts-ipafont-gothic poppler-utils
  unixodbc unixodbc-dev odbcinst libsqliteodbc odbc-postgresql postgresql socat
  libcurl4-openssl-dev libarchive-dev libcups2-dev libsqlite3-dev cups-daemon cups-client
  libgtest-dev libgmock-dev googletest)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "run as root (apt-get needs it), or install: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
