#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./build.sh demo   set up, build, compile a sample level and write its plan as an SVG
#   ./build.sh test   set up, build and run every test: normal build, then the sanitizer build
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

setup() {
  # Install what is missing from Debian's packages; nothing when all is present.
  local need=()
  command -v cmake >/dev/null || need+=(cmake)
  command -v g++ >/dev/null || need+=(g++)
  command -v pkg-config >/dev/null || need+=(pkg-config)
  for pkg in googletest libgtest-dev libgmock-dev libbenchmark-dev libffi-dev libstb-dev libenet-dev; do
    # A removed package whose configuration files remain is not installed.
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q ' installed$' || need+=("$pkg")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${need[@]}"
  fi
}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case "${1:-}" in
  demo)
    setup
    build build
    # Run inside the build tree, where its log file goes.
    (cd build && ./example_host -name demo -size 640,480)
    mkdir -p build/demo
    # The dog-leg level: the plan shows what the first room sees (not the last).
    ./build/tools/vantrel-bspc data/levels/dog_leg.txt --leaf 4 1 4 \
      --svg build/demo/dog_leg.svg --log build/demo/vantrel-bspc.log
    echo "open $(pwd)/build/demo/dog_leg.svg in a browser to see the plan"
    ;;
  test)
    setup
    build build
    ctest --test-dir build --output-on-failure -j "$jobs"
    build build-asan -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:alloc_dealloc_mismatch=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure -j "$jobs"
    ;;
  *)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
