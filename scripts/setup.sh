#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and fuzzing Velquint need.
# Idempotent: when every package is already installed it does not call apt at all.
# Runs as root, or through sudo for any other user.
set -euo pipefail

# One list per purpose; later work adds its packages to the list it belongs to.
BUILD_PACKAGES=(
  build-essential   # g++, make
  cmake
  ninja-build
  pkg-config
  git
  qt6-base-dev
  libxml2-dev       # the XML parser behind feeds and OPML
)
TEST_PACKAGES=(
  libgtest-dev
  libgmock-dev
  python3           # shared/tools/cfb-verify
  python3-olefile   # independent compound-file reader for the interop checks
  libgsf-bin        # gsf: second independent reader and writer
)
BENCH_PACKAGES=(
  libbenchmark-dev
  libsqlite3-dev    # the benchmarks' comparison, never the store
)
FUZZ_PACKAGES=(
  clang-14
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang
  llvm-14             # llvm-symbolizer: readable sanitizer stack traces
)
TOOL_PACKAGES=(
  clang-format
)

VELQUINT_PACKAGES=(
  "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
  "${FUZZ_PACKAGES[@]}" "${TOOL_PACKAGES[@]}"
)

missing=()
for pkg in "${VELQUINT_PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#VELQUINT_PACKAGES[@]} packages are installed"
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run this script as root (sudo is not installed)" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
