#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh tests
scripts/build.sh
cd build
ctest --output-on-failure --timeout 600
# The counts of the reliability suite, which a passing test does not show.
# A row's name may hold spaces and one level of brackets: "ends(display dying (windows))".
sed -n 's/^QINFO  : [A-Za-z_0-9]*::[A-Za-z_0-9]*(\(([^()]*)\|[^()]\)*) \(.*: [0-9]* tried, .*\)/\2/p' \
  Testing/Temporary/LastTest.log
