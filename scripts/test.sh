#!/usr/bin/env bash
# Builds everything for Linux (plain, and under AddressSanitizer with UndefinedBehaviorSanitizer) and for
# 32-bit Windows, and runs every test: natively, under the sanitizers, and under Wine.
# Exits non-zero if anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all || exit 1

status=0
passed=0
failed=0
skipped=0
for preset in linux asan tsan windows; do
    echo "=== $preset ==="
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
        echo "$preset: build failed"
        status=1
        continue
    fi
    if [[ $preset == windows ]]; then
        # Boot the build's own Wine prefix once, before test discovery runs the programs in it.
        (build/windows/wine-run.sh wineboot --init && WINEPREFIX=$PWD/build/windows/wineprefix wineserver -w) >/dev/null 2>&1
    fi
    log=build/$preset/ctest.log
    ctest --preset "$preset" 2>&1 | tee "$log"
    [[ ${PIPESTATUS[0]} == 0 ]] || status=1
    # "100% tests passed, 0 tests failed out of 42"
    if summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1); then
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
        bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
        skips=$(grep -c -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$log")
        passed=$((passed + total - bad - skips))
        failed=$((failed + bad))
        skipped=$((skipped + skips))
    else
        status=1
    fi
done
# The library built shared, installed and built against as install.Consumer does it for the static one
# in the linux and windows presets: builds of their own, without tests or launcher.
for platform in linux windows; do
    echo "=== shared ($platform) ==="
    dir=build/shared-$platform
    configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=ON -DGLEANER_BUILD_TESTS=OFF -DGLEANER_BUILD_GUI=OFF)
    cross=()
    if [[ $platform == windows ]]; then
        configure+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake")
        cross=(cmake/mingw-i686.cmake build/windows/wine-run.sh)
    fi
    if { cmake -S . -B "$dir" -G Ninja "${configure[@]}" >/dev/null && cmake --build "$dir"; } >"$dir.log" 2>&1 &&
        timeout 600 bash tests/install/install_test.sh "$dir" tests/consumer cmake "${cross[@]}" >>"$dir.log" 2>&1; then
        tail -n 1 "$dir.log"
        passed=$((passed + 1))
    else
        cat "$dir.log"
        failed=$((failed + 1))
        status=1
    fi
done
# A smoke run of every fuzzer: about a minute each.
echo "=== fuzz ==="
if scripts/fuzz.sh 60 > build/fuzz-smoke.log 2>&1; then
    grep '^fuzz ' build/fuzz-smoke.log
    passed=$((passed + 5))
else
    cat build/fuzz-smoke.log
    failed=$((failed + 1))
    status=1
fi
echo "total: $passed passed, $failed failed, $skipped skipped"
exit $status
