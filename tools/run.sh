#!/usr/bin/env bash
# Installs what is missing, builds Velloa and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

velloa_install_packages "${VELLOA_BUILD_PACKAGES[@]}"
velloa_log "Configuring build/release"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOA_BUILD_TESTS=OFF -DVELLOA_BUILD_BENCH=OFF
velloa_log "Building build/release"
cmake --build build/release -j "$(nproc)"
velloa_log "Showing the sample feed's 'mine' list as the tray menu will"
build/release/tools/velloa-feed check resources/sample/feed.json
build/release/tools/velloa-feed view resources/sample/feed.json --list mine --today "$(date +%F)" --menu
