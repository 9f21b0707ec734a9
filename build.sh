#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./build.sh demo   set up, build, compile a sample level, write its plan as an SVG and fly a camera
#                     through it: PNG frames and a contact sheet in build/demo/
#   ./build.sh test   set up, build and run every test: normal build, sanitizer build, API reference, Windows build under Wine, fuzz smoke run
#   ./build.sh test-windows  cross-build for Windows x64 with mingw-w64 and run every test under Wine
#   ./build.sh install [PREFIX]  build and install the library, headers, tools and packages (/usr/local)
#   ./build.sh fuzz [SECONDS]  build the libFuzzer harnesses with clang and run each for SECONDS (60)
#   ./build.sh docs   the API reference from the public headers (Doxygen) in build/docs/html
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

setup() {
  # Install what is missing from Debian's packages; nothing when all is present.
  local need=()
  command -v cmake >/dev/null || need+=(cmake)
  command -v g++ >/dev/null || need+=(g++)
  command -v pkg-config >/dev/null || need+=(pkg-config)
  for pkg in clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev libffi-dev libstb-dev \
             libegl-dev libgl-dev libgl1-mesa-dri libsdl2-dev libpng-dev libenet-dev; do
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

setup_windows() {
  # The cross compiler, Wine, and libffi built from Debian's source package
  # for the mingw target (there is no Debian mingw package of it), cached.
  local need=()
  for pkg in g++-mingw-w64-x86-64-posix wine64 dpkg-dev googletest; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q ' installed$' || need+=("$pkg")
  done
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${need[@]}"
  fi
  local deps=$(pwd)/build-win-deps
  if [ ! -f "$deps/lib/libffi.a" ]; then
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
      printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        | $sudo tee /etc/apt/sources.list.d/vantrel-src.sources >/dev/null
      $sudo apt-get update -q
    fi
    rm -rf "$deps/src" && mkdir -p "$deps/src"
    (cd "$deps/src" && apt-get source -q libffi >/dev/null 2>&1 && cd libffi-*/ &&
      ./configure -q --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --prefix="$deps" \
        --disable-shared --enable-static --disable-docs >/dev/null && make -s -j "$jobs" >/dev/null && make -s install >/dev/null)
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
    # The arena (three halls, stairs, pillars) compiled into a container, read through the media
    # loader with spiders and molecules in it, drawn headless by the OpenGL render library, 48 frames.
    ./build/tools/vantrel-bspc data/levels/arena.txt --cds build/demo/arena.cds --log build/demo/vantrel-bspc.log >/dev/null
    cp data/levels/arena.path build/demo/
    # The creatures: the shipped trueSpace models converted into containers,
    # which the demo dresses with materials and animations (data/models/README.md).
    ./build/tools/vantrel-ts2cds data/models/spider_6_6.cob build/demo/spider.model >/dev/null
    ./build/tools/vantrel-ts2cds data/models/molecule.cob build/demo/molecule.model >/dev/null
    ./build/tools/vantrel-demo build/demo/arena.cds -frames 48 -out build/demo
    ;;
  test)
    setup
    build build
    ctest --test-dir build --output-on-failure -j "$jobs"
    # A game builds against the installed package, not the build tree.
    rm -rf build/install build/installed-example
    cmake --install build --prefix build/install >/dev/null
    cmake -S examples/configure -B build/installed-example -DCMAKE_PREFIX_PATH="$(pwd)/build/install" >/dev/null
    cmake --build build/installed-example >/dev/null
    build/installed-example/configure >/dev/null
    echo "installed package: example built and ran"
    build build-asan -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:alloc_dealloc_mismatch=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure -j "$jobs"
    # The API reference must build without a warning.
    "$0" docs >/dev/null
    # The same suite cross-built for Windows and run under Wine.
    "$0" test-windows
    # A short smoke run of every fuzz harness; ./build.sh fuzz 3600 is the long campaign.
    "$0" fuzz 30
    ;;
  test-windows)
    setup_windows
    deps=$(pwd)/build-win-deps
    PKG_CONFIG_LIBDIR=$deps/lib/pkgconfig build build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DVANTREL_WIN_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release
    export WINEPREFIX=$(pwd)/build-win/wineprefix WINEDEBUG=-all
    # A new prefix, once; then wait for the server wineboot started to go away.
    [ -d "$WINEPREFIX" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
    # A running server before ctest and stopped after: else ctest waits for Wine's services.
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 || true
    status=0
    ctest --test-dir build-win --output-on-failure -j "$jobs" || status=$?
    wineserver -k || true
    exit $status
    ;;
  install)
    setup
    build build
    cmake --install build --prefix "${2:-/usr/local}"
    ;;
  fuzz)
    setup
    CC=clang CXX=clang++ build build-fuzz -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF
    seconds=${2:-60}
    testdata=../shared/testdata
    for harness in build-fuzz/tests/fuzz/fuzz_*; do
      name=${harness##*/fuzz_}
      corpus=build-fuzz/corpus/$name
      mkdir -p "$corpus"
      # Seeds: the project's own samples and, where present, the third-party files.
      case $name in
        poly_list) cp data/levels/*.txt "$corpus"/; [ -d $testdata ] && cp $testdata/levels/lq_e2m1.polys.txt "$corpus"/ ;;
        bmp) [ -d $testdata ] && find $testdata/images/bmp -name '*.bmp' -size -64k -exec cp {} "$corpus"/ \; ;;
        tga) [ -d $testdata ] && find $testdata/images/tga -name '*.tga' -size -64k -exec cp {} "$corpus"/ \; ;;
        truespace) cp tests/fuzz/seeds/truespace/* "$corpus"/; [ -d $testdata ] && cp $testdata/trueSpace/*.cob "$corpus"/ ;;
        *) [ -d tests/fuzz/seeds/$name ] && cp tests/fuzz/seeds/$name/* "$corpus"/ ;;
      esac
      echo "fuzz_$name: ${seconds} s"
      "$harness" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=0 -artifact_prefix=build-fuzz/ 2>build-fuzz/$name.log \
        || { tail -40 build-fuzz/$name.log; exit 1; }
    done
    ;;
  docs)
    # Doxygen is needed for the reference only: installed here, not by setup.
    if ! command -v doxygen >/dev/null; then
      sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
      $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q doxygen
    fi
    headers=$(git ls-files '*.h' | grep -vE '^(tests|bench|examples)/' | grep -v '_local\.h$' | tr '\n' ' ')
    rm -rf build/docs && mkdir -p build/docs
    # Every public header, failing on any undocumented name or documentation error.
    { cat docs/Doxyfile; echo "INPUT += $headers"; } | doxygen - \
      || { sort -u build/docs/warnings.txt >&2; exit 1; }
    echo "open $(pwd)/build/docs/html/index.html in a browser"
    ;;
  *)
    echo "usage: $0 demo|test|test-windows|install [PREFIX]|fuzz [SECONDS]|docs" >&2
    exit 2
    ;;
esac
