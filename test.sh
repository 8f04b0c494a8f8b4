#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh tests
scripts/build.sh
cd build
ctest --output-on-failure --timeout 600
# The counts of the reliability suite, which a passing test does not show.
sed -n 's/^QINFO  : [^ ]* \(.*: [0-9]* tried, .*\)/\1/p' Testing/Temporary/LastTest.log
