#!/usr/bin/env bash
# Checks what is shipped, on the built tree.
#   check-shipped.sh files BUILD_DIR  validate the launchers and the metainfo, install into a
#                                     staging prefix, check every file, build the .deb and
#                                     check it with lintian
#   check-shipped.sh deb BUILD_DIR    install that .deb on this machine, run the installed
#                                     kestra3 --version, remove it and check nothing is left
# Exit code 77: skipped (said why).
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
work=$build/install-check
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# What an install puts under its prefix; the README's Install section lists the same.
expected=(
  bin/kestra3 bin/kestra2 bin/kestra-panel
  share/applications/net.kestra.kestra3.desktop
  share/applications/net.kestra.kestra2.desktop
  share/applications/net.kestra.panel.desktop
  share/icons/hicolor/scalable/apps/net.kestra.kestra.svg
  share/metainfo/net.kestra.kestra3.metainfo.xml
  share/man/man1/kestra3.1.gz share/man/man1/kestra2.1.gz share/man/man1/kestra-panel.1.gz
  share/kestra/help.html
  share/doc/kestra/README.md share/doc/kestra/copyright share/doc/kestra/changelog.gz
  lib/systemd/user/kestra@.service
  libexec/kestra/kestra3-service libexec/kestra/kestra2-service libexec/kestra/kestra-audio.so
)

fail() { echo "FAIL: $*" >&2; exit 1; }

files() {
  rm -rf "$work"
  mkdir -p "$work"
  local stage=$work/stage
  # cmake --install and cpack write build/install_manifest.txt; the one of the user's own
  # install (README, removing it) is put back.
  manifest=$build/install_manifest.txt
  if [ -f "$manifest" ]; then cp -p "$manifest" "$work/manifest.saved"; fi
  trap 'if [ -f "$work/manifest.saved" ]; then mv "$work/manifest.saved" "$manifest"; else rm -f "$manifest"; fi' EXIT
  cmake --install "$build" --prefix "$stage" >/dev/null
  (cd "$stage" && find . -type f -printf '%P\n' | sort) >"$work/staged.txt"
  printf '%s\n' "${expected[@]}" | sort >"$work/expected.txt"
  diff -u "$work/expected.txt" "$work/staged.txt" || fail "the staged install is not the list above"
  for p in kestra3 kestra2 kestra-panel; do
    [ -x "$stage/bin/$p" ] || fail "$p is not executable"
  done

  echo "desktop-file-validate:"
  desktop-file-validate "$stage"/share/applications/*.desktop || fail "desktop-file-validate"
  grep -qx "Exec=$stage/bin/kestra3" "$stage/share/applications/net.kestra.kestra3.desktop" ||
    fail "the kestra3 launcher does not start the installed kestra3"
  grep -qx "ExecStart=$stage/bin/%i --headless" "$stage/lib/systemd/user/kestra@.service" ||
    fail "the systemd unit does not start the installed program"
  if command -v systemd-analyze >/dev/null; then
    # An instance of the template as systemd would load it; it also checks that ExecStart runs.
    local units=$work/units
    mkdir -p "$units" "$work/run"
    chmod 700 "$work/run"
    cp "$stage/lib/systemd/user/kestra@.service" "$units/"
    ln -s kestra@.service "$units/kestra@kestra3.service"
    said=$(XDG_RUNTIME_DIR=$work/run SYSTEMD_UNIT_PATH=$units: \
      systemd-analyze --user --man=no verify kestra@kestra3.service 2>&1) || fail "systemd-analyze: $said"
    [ -z "$said" ] || fail "systemd-analyze: $said"
    echo "systemd-analyze verify: no complaint"
  else
    echo "systemd-analyze is not installed: the user unit is not verified"
  fi
  echo "appstreamcli validate:"
  appstreamcli validate --no-net --pedantic "$stage/share/metainfo/net.kestra.kestra3.metainfo.xml" ||
    fail "appstreamcli validate"
  for m in "$stage"/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$m" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $m: $warnings"
  done
  [ "$("$stage/bin/kestra3" --version)" = "kestra3 $version" ] || fail "staged kestra3 --version"
  # A release names itself in the changelog, on the day the metainfo gives.
  local changelog=$work/changelog release
  gunzip -c "$stage/share/doc/kestra/changelog.gz" >"$changelog"
  release=$(sed -n 's/.*<release version="[^"]*" date="\([^"]*\)".*/\1/p' \
    "$stage/share/metainfo/net.kestra.kestra3.metainfo.xml")
  [ "$(dpkg-parsechangelog -l "$changelog" -S Version)" = "$version" ] ||
    fail "packaging/changelog has no entry for $version on top"
  [ "$(date -u -d "$(dpkg-parsechangelog -l "$changelog" -S Date)" +%F)" = "$release" ] ||
    fail "the changelog's entry for $version is not dated $release, the release date"

  (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
  local deb=$work/deb/kestra_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || fail "no $deb"
  echo "$(basename "$deb"):"
  dpkg-deb --field "$deb"
  dpkg-deb --field "$deb" Depends | grep -q 'libqt6core6' || fail "Depends does not come from dpkg-shlibdeps"
  # The package holds what the install puts under /usr, nothing more and nothing less.
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort >"$work/packaged.txt"
  diff -u "$work/expected.txt" "$work/packaged.txt" || fail "the package is not the list above"
  # Debian's checker, with its default profile: no error and no warning.
  echo "lintian:"
  command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh installs it)"
  lintian --fail-on error,warning "$deb" 2>&1 || fail "lintian finds errors or warnings"
  echo "install files: all checks passed"
}

deb() {
  local deb
  deb=$(ls "$work"/deb/kestra_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || fail "no package in $work/deb: run the files check first"
  local sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
      sudo_cmd=(sudo -n)
    else
      echo "SKIPPED: installing the package needs root or sudo without a password"
      exit 77
    fi
  fi
  if dpkg-query -W -f='${Status}' kestra 2>/dev/null | grep -q 'ok installed'; then
    echo "SKIPPED: package kestra is installed already; this check installs and removes its own"
    echo "(remove it with: sudo apt-get purge kestra)"
    exit 77
  fi
  # apt reads the file as its own unprivileged user.
  chmod a+rx "$work" "$work/deb"
  chmod a+r "$deb"
  local apt=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)
  "${apt[@]}" install "$deb" >"$work/apt-install.log" 2>&1 || { cat "$work/apt-install.log"; fail "apt-get install"; }
  dpkg -L kestra >"$work/installed.txt"
  local ok=1
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kestra3 --version) || ok=0
  echo "/usr/bin/kestra3 --version: $out"
  [ "$out" = "kestra3 $version" ] || ok=0
  grep -qx 'Exec=/usr/bin/kestra3' /usr/share/applications/net.kestra.kestra3.desktop || ok=0
  # What the launcher starts comes up with the installed plugins (SQLite driver, platform)
  # and ends cleanly on SIGTERM, in a home of its own.
  local exec home=$work/home
  exec=$(sed -n 's/^Exec=//p' /usr/share/applications/net.kestra.kestra3.desktop)
  rm -rf "$home" && mkdir -p "$home/data" "$home/config" "$home/run" && chmod 700 "$home/run"
  XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES='qt.*=false' "$exec" >"$work/run.log" 2>&1 &
  local pid=$! control=""
  for _ in $(seq 200); do
    control=$(od -An -tu1 -j2 -N1 "$home/data/Timer/port-3BC" 2>/dev/null | tr -d ' ') || true
    [ "$control" = 2 ] && break
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  local rc=0
  wait "$pid" || rc=$?
  echo "$exec started (control register $control), ended with $rc on SIGTERM"
  [ "$control" = 2 ] && [ "$rc" = 0 ] && [ -s "$home/data/Timer/Kestra3.db" ] || { cat "$work/run.log"; ok=0; }
  # The installed help page is used where it is, not copied into the program directory.
  [ ! -e "$home/data/Timer/help.html" ] || { echo "the installed help page was not found"; ok=0; }
  # As the systemd unit starts it: the service program without windows, with no display.
  rm -rf "$home" && mkdir -p "$home/data" "$home/config" "$home/run" && chmod 700 "$home/run"
  env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
    XDG_RUNTIME_DIR=$home/run /usr/bin/kestra3 --headless >"$work/headless.log" 2>&1 &
  pid=$! control=""
  for _ in $(seq 200); do
    control=$(od -An -tu1 -j2 -N1 "$home/data/Timer/port-3BC" 2>/dev/null | tr -d ' ') || true
    [ "$control" = 2 ] && break
    sleep 0.1
  done
  local comm
  comm=$(cat "/proc/$pid/comm" 2>/dev/null) || true
  kill -TERM "$pid" 2>/dev/null || true
  rc=0
  wait "$pid" || rc=$?
  echo "/usr/bin/kestra3 --headless ran as $comm (control register $control), ended with $rc on SIGTERM"
  [ "$control" = 2 ] && [ "$rc" = 0 ] && [ "$comm" = kestra3-service ] || { cat "$work/headless.log"; ok=0; }
  panel=$(sed -n 's/^Exec=//p' /usr/share/applications/net.kestra.panel.desktop)
  [ "$(env -u DISPLAY "$panel" --version)" = "kestra-panel $version" ] || ok=0
  "${apt[@]}" purge kestra >"$work/apt-purge.log" 2>&1 || { cat "$work/apt-purge.log"; fail "apt-get purge"; }
  [ "$ok" = 1 ] || fail "the installed kestra3 does not run as expected"
  local left=0
  while read -r f; do
    if [ -e "$f" ] && [ ! -d "$f" ]; then echo "left behind: $f"; left=1; fi
  done <"$work/installed.txt"
  for d in /usr/share/kestra /usr/share/doc/kestra; do
    if [ -e "$d" ]; then echo "left behind: $d"; left=1; fi
  done
  [ "$left" = 0 ] || fail "removing the package left files behind"
  echo "install deb: installed, ran and removed"
}

"$mode"
