#!/usr/bin/env bash
# Builds and runs every test: native unit tests under ASan/UBSan, short fuzzing runs, the Windows
# cross build, and the end-to-end tests of Vosselmar.exe under Wine in a virtual X display.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup-machine.sh
ensure_packages

say "Native build and unit tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native --parallel 2

say "Benchmark build (smoke run; figures in docs/performance.md)"
cmake --preset bench >/dev/null
cmake --build --preset bench
./build/bench/bench/bench_chord --benchmark_min_time=0.01 >/dev/null
./build/bench/bench/bench_dialog --benchmark_min_time=0.01 >/dev/null
tests/compare_table_test.sh

say "Fuzzing (10 s per target)"
fuzz/run.sh 10

say "The manual in headless Chromium (picture in build/manual-artifacts)"
tests/manual/render.sh

say "Windows build with mingw-w64"
cmake --preset mingw >/dev/null
cmake --build --preset mingw

say "./run.sh on a virtual display without MIDI ports (tests/run_sh_test.sh)"
tests/run_sh_test.sh

say "End-to-end tests under Wine and Xvfb"
tests/e2e/run.sh build/mingw
say "All tests passed"
