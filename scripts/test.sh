#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test twice: a -Werror build with g++,
# and a clang build under AddressSanitizer + UndefinedBehaviorSanitizer. Both include the Python
# module and its pytest suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
jobs="$(nproc 2>/dev/null || echo 2)"

echo "== g++, -Werror"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCUEKIT_WERROR=ON -DCUEKIT_BENCH=ON -DCUEKIT_PYTHON=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
ninja -C build-test
(cd build-test && ctest --output-on-failure -j"$jobs")

echo "== Python: the wheel pip builds, installed into a fresh virtual environment, under the pytest suite"
# Debian's interpreter: its scikit-build-core and pybind11 are what the build needs, and
# --system-site-packages lets the environment see them. Nothing is downloaded.
wheel="$root/build-wheel"
rm -rf "$wheel"
/usr/bin/python3 -m venv --system-site-packages "$wheel/venv"
"$wheel/venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps --no-index -w "$wheel" .
"$wheel/venv/bin/python" -m pip install -q --no-deps --no-index "$wheel"/cuekit-*.whl
(cd tests/python && env -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 CUEKIT_TOOL="$root/build-test/cuekit" \
  CUEKIT_GEN="$root/build-test/bench/cuekit_gen" CUEKIT_INSTALLED="$wheel/venv" \
  "$wheel/venv/bin/python" -m pytest -q -p no:cacheprovider test_api.py test_leaks.py test_dask.py)

echo "== clang, AddressSanitizer + UndefinedBehaviorSanitizer, -Werror"
san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCUEKIT_WERROR=ON -DCUEKIT_PYTHON=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
ninja -C build-asan
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

echo "== shared library: SONAME, tool and consumers against the installed package"
cmake -S . -B build-shared -G Ninja -DCMAKE_BUILD_TYPE=Release -DCUEKIT_WERROR=ON -DBUILD_SHARED_LIBS=ON >/dev/null
ninja -C build-shared
readelf -d build-shared/libcuekit.so | grep -q 'SONAME.*libcuekit.so.0' || { echo "libcuekit.so has no SONAME"; exit 1; }
(cd build-shared && ctest --output-on-failure -j"$jobs" -R 'e2e|example|package|schema')

echo "== clang, ThreadSanitizer: parses on several threads at once, in the library and the tool"
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCUEKIT_WERROR=ON -DCUEKIT_EXAMPLES=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$tsan" -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" >/dev/null
ninja -C build-tsan cuekit_tests cuekit_tool
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" build-tsan/tests/cuekit_tests --gtest_filter='CppApi.*:ParsePool.*'
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" /usr/bin/python3 tests/e2e/batch.py build-tsan/cuekit . --threads-only

echo "== static analysis"
bash scripts/lint.sh

echo "== fuzz harnesses on the seed corpus"
if [ "${CI:-}" = "true" ]; then bash scripts/fuzz.sh 20; else bash scripts/fuzz.sh 5; fi
