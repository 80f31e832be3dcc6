#!/usr/bin/env bash
# Installs, with apt-get, whichever of the given Debian packages are missing.
# Sourced by the demo and test scripts; does nothing when all are present.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "deps: missing packages ${missing[*]} and cannot install them (need root and apt-get)" >&2
    return 1
  fi
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null || return 1
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# What every build needs.
need_build_packages() {
  need_packages cmake make g++ libgtest-dev pkg-config libxxhash-dev gettext
}

# What the packaging check uses (cpack's .deb, lintian, the roff linters,
# man, systemd-analyze, logrotate, an outside parser of the metrics format,
# promtool for the alert rules). Missing ones make their checks say SKIPPED,
# so a failure here does not stop the tests.
need_check_packages() {
  need_packages dpkg-dev file lintian mandoc man-db systemd logrotate python3-prometheus-client prometheus
}
