#!/usr/bin/env bash
# Entry point for a fresh Debian 12 machine: installs make and the project's packages,
# then hands over to the Makefile.
#   ./velquint.sh run | test | bench | sanitize | fuzz | format | clean
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

usage() {
  echo "usage: $0 run|test|bench|sanitize|fuzz|format|clean" >&2
  exit 64
}

(($# == 1)) || usage
case "$1" in
  run | test | bench | sanitize | fuzz | format | clean) ;;
  *) usage ;;
esac

if ! command -v make >/dev/null 2>&1; then
  if [[ $(id -u) -eq 0 ]]; then
    as_root=()
  elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "velquint: make is missing and sudo is not installed; run this as root" >&2
    exit 1
  fi
  echo "velquint: installing make"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends make
fi

scripts/setup.sh
exec make "$1" SETUP_DONE=1
