# Sourced by the scripts: where things are, and how each build is configured.
# Every build lives in build/<name>; the deliverables go to dist/<platform>.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
buildRoot=$repo/build
distRoot=$repo/dist
jobs=2
wine=/usr/lib/wine/wine64

sanitizerFlags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# The full option set of each build, spelt out every time, so that one
# script's configuration never lingers in the cache for another.
build_options() {
  case $1 in
    native)
      echo -DCMAKE_BUILD_TYPE=Release -DTESSEL_TESTS=ON -DTESSEL_TOOLS=ON -DTESSEL_BENCH=ON \
        -DTESSEL_FUZZ=OFF "-DTESSEL_DIST_DIR=$distRoot/linux-x86_64" ;;
    win32)
      echo "-DCMAKE_TOOLCHAIN_FILE=$repo/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DTESSEL_TESTS=ON -DTESSEL_TOOLS=ON -DTESSEL_BENCH=OFF -DTESSEL_FUZZ=OFF \
        "-DTESSEL_DIST_DIR=$distRoot/win32" ;;
    win64)
      echo "-DCMAKE_TOOLCHAIN_FILE=$repo/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DTESSEL_TESTS=ON -DTESSEL_TOOLS=ON -DTESSEL_BENCH=OFF -DTESSEL_FUZZ=OFF -DTESSEL_DIST_DIR= ;;
    asan)
      echo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTESSEL_TESTS=ON -DTESSEL_TOOLS=ON -DTESSEL_BENCH=OFF -DTESSEL_FUZZ=OFF -DTESSEL_DIST_DIR= ;;
    fuzz)
      echo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTESSEL_TESTS=OFF -DTESSEL_TOOLS=OFF -DTESSEL_BENCH=OFF -DTESSEL_FUZZ=ON -DTESSEL_DIST_DIR= ;;
    *)
      echo "unknown build: $1" >&2
      return 1 ;;
  esac
}

# configure NAME: configures build/NAME (flags with spaces are passed here,
# not through build_options).
configure() {
  local name=$1 options
  options=$(build_options "$name") || return 1
  local flags=()
  case $name in
    asan) flags=("-DCMAKE_C_FLAGS=$sanitizerFlags" "-DCMAKE_CXX_FLAGS=$sanitizerFlags") ;;
    fuzz) flags=("-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer") ;;
  esac
  # shellcheck disable=SC2086  # options are single words
  cmake -S "$repo" -B "$buildRoot/$name" $options "${flags[@]}"
}

# build NAME [TARGET...]: configures and builds build/NAME.
build() {
  local name=$1
  shift
  local targets=()
  [[ $# -gt 0 ]] && targets=(--target "$@")
  configure "$name" && cmake --build "$buildRoot/$name" -j "$jobs" "${targets[@]}"
}

# Seconds since the epoch, for stage timings.
now() { date +%s; }
