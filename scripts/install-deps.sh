#!/usr/bin/env bash
# Installs every Debian package the build and the tests need; with --bench also what only the
# benchmarks need (Google Benchmark and the peer tools they time against).
# The one place the package lists live; the Makefile calls it before configuring (make bench with --bench).
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config git
  # core libraries
  libjpeg62-turbo-dev libjpeg-turbo-progs libcurl4-openssl-dev libpugixml-dev libicu-dev libcups2-dev
  # user interface
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-multimedia-dev qt6-tools-dev
  libgl-dev libxkbcommon-dev fonts-noto-cjk xvfb xauth
  # tests and the stand-in service
  libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev openssl curl
  # moved clocks and far zones for make test-clocks
  faketime tzdata
  # a slow disk served by the UI tests themselves (FUSE)
  libfuse3-dev fuse3
  # the Debian packages and their checks (make package, the last stage of .ci/run)
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream xdg-utils librsvg2-bin man-db
  # fuzzing and sanitizers
  clang-14 libclang-rt-14-dev
)

BENCH_PACKAGES=(
  libbenchmark-dev
  # peers the benchmarks time against
  exiv2 libimage-exiftool-perl libvips-tools
)

for arg in "$@"; do
  case "$arg" in
    --bench) PACKAGES+=("${BENCH_PACKAGES[@]}") ;;
    *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=300 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}"
