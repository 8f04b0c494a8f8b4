#!/usr/bin/env bash
# Configures and builds into ./build. Warnings are errors.
# KESTRA_DEBUG_INFO=lines keeps only the line tables of the debugging
# information (-g1): backtraces still name files and lines, and the build
# takes a fifth less time. CI builds so.
set -euo pipefail
cd "$(dirname "$0")/.."
debug=-g
[ "${KESTRA_DEBUG_INFO:-}" = lines ] && debug=-g1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRA_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $debug -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 $debug -DNDEBUG" >/dev/null
cmake --build build -j "$(nproc)"
