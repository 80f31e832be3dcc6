#!/usr/bin/env bash
# The Windows suite: builds the win32 preset (32-bit PE, static) and runs the
# end-to-end cases under Wine, with Wine's own cmd.exe as the interpreter.
#
# Installs Wine and the mingw i686 compiler when they are missing and this is
# root with apt-get; otherwise prints "wine suite: SKIPPED (<reason>)" and
# exits 0. Ends with "wine: N passed, M failed" and a non-zero status when any
# case failed.
#
# VORCNT_WINEPREFIX  the Wine prefix to use (default build-win32/wineprefix;
#                    made once, reused after)
set -uo pipefail
cd "$(dirname "$0")/.."

skip() {
  echo "wine suite: SKIPPED ($*)"
  exit 0
}

# 32-bit Wine on Debian lives in the i386 architecture.
wine32_package() {
  if [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ]; then echo wine32:i386; else echo wine32; fi
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing_packages() {
  local missing=()
  command -v wine >/dev/null || missing+=(wine)
  if command -v dpkg-query >/dev/null && ! installed "$(wine32_package)"; then missing+=("$(wine32_package)"); fi
  command -v i686-w64-mingw32-g++ >/dev/null || missing+=(g++-mingw-w64-i686)
  command -v cmake >/dev/null || missing+=(cmake)
  command -v make >/dev/null || missing+=(make)
  command -v unzip >/dev/null || missing+=(unzip)
  # The Japanese cases build a ja_JP.UTF-8 locale from its source.
  [ -f /usr/share/i18n/locales/ja_JP ] && command -v localedef >/dev/null || missing+=(locales)
  echo "${missing[*]}"
}

missing=$(missing_packages)
if [ -n "$missing" ]; then
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    skip "missing $missing; installing needs root and apt-get"
  fi
  echo "wine suite: installing $missing"
  started=$SECONDS
  export DEBIAN_FRONTEND=noninteractive
  if [[ " $missing " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || skip "cannot add the i386 architecture"
  fi
  log=$(mktemp)
  # shellcheck disable=SC2086  # one word per package
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing; } >"$log" 2>&1; then
    tail -n 5 "$log"
    rm -f "$log"
    skip "apt-get could not install $missing"
  fi
  rm -f "$log"
  echo "wine suite: installed in $((SECONDS - started)) s"
  missing=$(missing_packages)
  [ -z "$missing" ] || skip "still missing after installing: $missing"
fi

echo "== win32: configure and build"
started=$SECONDS
if ! { cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$(nproc 2>/dev/null || echo 2)"; }; then
  echo "FAIL build: the win32 preset does not build"
  echo "wine: 0 passed, 1 failed"
  exit 1
fi
# The zip, for the case that runs what it ships.
(cd build-win32 && cpack >/dev/null) || echo "wine suite: cpack could not make the zip"
echo "== win32: built in $((SECONDS - started)) s"

export WINEPREFIX=${VORCNT_WINEPREFIX:-$PWD/build-win32/wineprefix}
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, and no windows at all.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== wine: making the prefix $WINEPREFIX"
  started=$SECONDS
  mkdir -p "$WINEPREFIX"
  # The registry is written out when the server ends, so wait for that.
  if ! { WINEARCH=win32 timeout 300 wineboot -i && timeout 300 wineserver -w; } >/dev/null 2>&1 ||
    [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "FAIL prefix: wineboot could not make $WINEPREFIX"
    echo "wine: 0 passed, 1 failed"
    exit 1
  fi
  echo "== wine: prefix made in $((SECONDS - started)) s"
fi

# One server for the whole run instead of one per program start; it is ours
# (this prefix's), so it is ended with the run.
wineserver -p
trap 'wineserver -k 2>/dev/null' EXIT

echo "== wine: end-to-end cases"
bash tests/wine/run.sh build-win32/bin build-win32/wine-e2e
