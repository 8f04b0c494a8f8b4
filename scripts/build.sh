#!/usr/bin/env bash
# Configures and builds into ./build. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRA_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)"
