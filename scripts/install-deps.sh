#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  protobuf-compiler libprotobuf-dev
  libboost-dev libboost-system-dev libboost-filesystem-dev libboost-thread-dev
  libboost-program-options-dev libboost-date-time-dev
  libsqlite3-dev sqlite3 libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
