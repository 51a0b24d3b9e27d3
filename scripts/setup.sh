#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (as root, or
# with sudo). Installs only what is missing, so it is quick the second time.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgtest-dev libgmock-dev
          libbenchmark-dev libsqlite3-dev mdbtools xvfb xauth imagemagick
          fonts-ipafont-gothic qt6-translations-l10n openbox xdotool desktop-file-utils
          clang-14 libclang-rt-14-dev ccache)
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The independent database reader used by the tests (pinned by the lock file).
if [ ! -d tests/js/node_modules/mdb-reader ]; then
  (cd tests/js && npm ci --no-audit --no-fund --loglevel=error)
fi
