#!/usr/bin/env bash
# Installs the library from a build tree into a scratch prefix, then builds and runs consumers
# against it the ways users do: a C program with the plain `pkg-config --cflags --libs` (no
# --static), a shared object that links the library in (a plugin or language binding), a
# C++17 program, and a C++ program through find_package(cuekit); and a configuration
# without the tests needs no GoogleTest.
set -euo pipefail
build="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
sample="$root/examples/sample.srt"
fail() { echo "consumer: $*"; exit 1; }
# A shared build is found at run time through the scratch prefix.
export LD_LIBRARY_PATH="$prefix/lib:$work${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"

cflags="$(pkg-config --cflags cuekit)"
case " $cflags " in
  *" -I$prefix/include "*) ;;
  *) fail "pkg-config --cflags prints '$cflags', without -I$prefix/include" ;;
esac
case "$cflags" in *"/../"* | *"/./"*) fail "pkg-config --cflags prints an unnormalised path: $cflags" ;; esac
[ -f "$prefix/share/man/man1/cuekit.1" ] || fail "man page not installed"
# What a consumer must link is the library and uchardet, nothing else.
leftover="$(grep -rl yyjson "$prefix" --include='*.pc' --include='*.cmake' || true)"
[ -z "$leftover" ] || fail "the installed package still asks for yyjson: $leftover"

# pkg-config, from C, exactly as the README says.
cc -std=c11 -Wall -Werror -o "$work/c_consumer" "$root/examples/c/print_cues.c" $(pkg-config --cflags --libs cuekit)
"$work/c_consumer" "$sample" | head -1 | grep -q '^srt, ' || fail "pkg-config C consumer failed"

# A shared object with the library linked in, loaded by a program that knows only the plugin.
cat > "$work/plugin.c" <<'C'
#include <cuekit.h>
#include <string.h>
int plugin_cue_count(const char *text) {
    int n = -1;
    if (sub_parse(text, strlen(text), SUB_FORMAT_AUTO, NULL) == SUB_OK) n = sub_cue_count();
    sub_clear();
    return n;
}
C
cat > "$work/host.c" <<'C'
int plugin_cue_count(const char *text);
int main(void) { return plugin_cue_count("1\n00:00:01,000 --> 00:00:02,000\nHi\n") == 1 ? 0 : 1; }
C
cc -std=c11 -Wall -Werror -shared -fPIC -o "$work/libplugin.so" "$work/plugin.c" $(pkg-config --cflags --libs cuekit) \
  || fail "a shared object cannot link the library"
cc -std=c11 -o "$work/host" "$work/host.c" -L"$work" -lplugin
"$work/host" || fail "the plugin does not parse"

# C++17, with the warnings a strict project would turn on.
c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -o "$work/cpp17_consumer" "$root/tests/package/cpp17_consumer.cpp" \
  $(pkg-config --cflags --libs cuekit)
"$work/cpp17_consumer" "$sample" | grep -q '^srt, ' || fail "C++17 consumer failed"

# find_package, from C++17.
mkdir -p "$work/cpp"
cp "$root/examples/cpp/print_cues.cpp" "$work/cpp/"
cat > "$work/cpp/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
find_package(cuekit 0.1 REQUIRED)
add_executable(consumer print_cues.cpp)
target_link_libraries(consumer PRIVATE cuekit::cuekit)
CMAKE
cmake -S "$work/cpp" -B "$work/cpp/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/cpp/build" >/dev/null
"$work/cpp/build/consumer" "$sample" | head -1 | grep -q '^srt, ' || fail "find_package consumer failed"
grep -q -- '-std=c++17' "$work/cpp/build/build.ninja" || fail "find_package raised the consumer above C++17"
# Users who only want the library configure without GoogleTest.
cmake -S "$root" -B "$work/no-tests" -G Ninja -DCUEKIT_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null \
  || fail "-DCUEKIT_TESTS=OFF does not configure without GoogleTest"

echo "consumer: plain pkg-config, a plugin, C++17 and find_package all link and run"
