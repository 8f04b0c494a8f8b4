#!/usr/bin/env bash
# Installs what is missing, builds, and starts kestra3 (or the build named as the
# first argument, kestra2). On a machine without a printer port the program uses
# a simulated port, and the virtual port panel is started beside it.
set -euo pipefail
cd "$(dirname "$0")"
build=${1:-kestra3}
case "$build" in kestra3) port=3BC ;; kestra2) port=278 ;; *) echo "usage: $0 [kestra3|kestra2]" >&2; exit 2 ;; esac
scripts/install-deps.sh
scripts/build.sh
# The program simulates the port when no printer port sits at its base address;
# then the panel shows the outputs and sets the inputs.
has_port() {
  local f first
  for f in /proc/sys/dev/parport/*/base-addr; do
    [ -r "$f" ] || continue
    read -r first _ < "$f" || true
    [[ $first =~ ^(0[xX][0-9a-fA-F]+|[0-9]+)$ ]] && [ $((first)) -eq $((16#$port)) ] && return 0
  done
  return 1
}
panel=""
if ! has_port && [ -x build/panel/kestra-panel ]; then
  build/panel/kestra-panel "$port" &
  panel=$!
fi
status=0
build/builds/"$build" || status=$?
[ -n "$panel" ] && kill "$panel" 2>/dev/null || true
exit "$status"
