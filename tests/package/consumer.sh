#!/usr/bin/env bash
# Installs the library from a build tree into a scratch prefix, then builds and runs a tiny
# consumer against it twice: once through pkg-config, once through find_package(cuekit).
set -euo pipefail
build="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
sample="$root/examples/sample.srt"
# A shared build is found at run time through the scratch prefix.
export LD_LIBRARY_PATH="$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

# pkg-config, from C (static archive: --static brings the private libraries along).
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
cc -std=c11 -Wall -Werror -o "$work/c_consumer" "$root/examples/c/print_cues.c" \
  $(pkg-config --cflags cuekit) $(pkg-config --static --libs cuekit)
"$work/c_consumer" "$sample" | head -1 | grep -q '^srt, ' || { echo "pkg-config consumer failed"; exit 1; }

# find_package, from C++.
mkdir -p "$work/cpp"
cp "$root/examples/cpp/print_cues.cpp" "$work/cpp/"
cat > "$work/cpp/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(cuekit 0.1 REQUIRED)
add_executable(consumer print_cues.cpp)
target_link_libraries(consumer PRIVATE cuekit::cuekit)
CMAKE
cmake -S "$work/cpp" -B "$work/cpp/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/cpp/build" >/dev/null
"$work/cpp/build/consumer" "$sample" | head -1 | grep -q '^srt, ' || { echo "find_package consumer failed"; exit 1; }
echo "consumer: pkg-config and find_package both link and run"
