#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test the program.
# Only what is missing is installed; works as root or through sudo.
#   scripts/install-deps.sh             what the build and the program need
#   scripts/install-deps.sh tests       and what the tests need besides (a browser and its driver, axe-core)
#   scripts/install-deps.sh sanitize    and clang with its sanitizer and libFuzzer runtimes
#   scripts/install-deps.sh PKG...      and the packages named (scripts/screenshot.sh names its own)
set -euo pipefail

packages=(cmake g++ make qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6sql6-sqlite qt6-qpa-plugins tzdata
          libqt6multimedia6 gstreamer1.0-plugins-base sqlite3 faketime util-linux
          # the link to an MQTT broker, and the broker its tests run
          pkg-config libmosquitto-dev mosquitto mosquitto-clients
          # passwords of the web page (yescrypt)
          libcrypt-dev
          # the API of the running switch (HTTP on 127.0.0.1)
          libmicrohttpd-dev
          # the notify protocol of systemd, and a display that tests can take away
          libsystemd-dev xvfb
          # xwininfo: when a window is on the virtual display (bench/attach-window-bench.sh)
          x11-utils
          # sunrise and sunset, holiday calendars
          libnova-dev libical-dev
          # to check and build what is shipped: launchers, metainfo, man pages, the .deb
          desktop-file-utils appstream man-db dpkg-dev file lintian)
for extra in "$@"; do
  case "$extra" in
    # the web page's browser tests: headless Chromium driven through its driver, and
    # openssl for the certificate of their TLS case
    tests) packages+=(chromium chromium-driver python3-selenium openssl); with_tests=1 ;;
    sanitize) packages+=(clang libclang-rt-14-dev) ;;
    *) packages+=("$extra") ;;
  esac
done

# axe-core, the accessibility checker the browser tests load into the page: a test
# tool from npm, kept out of the tree in the user's cache, at a fixed version.
axe_version=4.10.3
axe_dir=$HOME/.cache/kestra-test-tools
axe_file=$axe_dir/node_modules/axe-core/axe.min.js
if [ -n "${with_tests:-}" ] && { [ ! -f "$axe_file" ] || ! grep -q "axe v$axe_version" "$axe_file"; }; then
  command -v npm >/dev/null || packages+=(npm)
  need_axe=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
if [ -n "${need_axe:-}" ]; then
  echo "Installing axe-core $axe_version into $axe_dir"
  mkdir -p "$axe_dir"
  npm install --prefix "$axe_dir" --no-save --no-audit --no-fund --silent "axe-core@$axe_version"
fi
