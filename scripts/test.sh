#!/usr/bin/env bash
# Builds and runs every test: the release build (engine, tools, plug-in and host tests), then
# the engine and plug-in tests again under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)

echo "== release build and tests"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure

# The engine, processor and hosted plug-in tests again under each sanitizer (JUCE is compiled
# with the same flags, so the hosted plug-in is instrumented too).
for san in address thread; do
    echo "== engine and plug-in tests under the $san sanitizer"
    cmake -S . -B "build/$san" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPM_SANITIZE="$san" \
        -DPM_BUILD_PLUGIN=ON -DPM_BUILD_TOOLS=OFF
    cmake --build "build/$san" -j"$jobs" --target pm_engine_tests pm_plugin_tests pm_host_tests
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$(pwd)/scripts/ubsan.supp" \
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
        ctest --test-dir "build/$san" --output-on-failure -L "engine|plugin"
done
echo "== all tests passed"
