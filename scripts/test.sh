#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Kestrelle three times (the normal build,
# the AddressSanitizer + UndefinedBehaviorSanitizer build and the
# ThreadSanitizer build) and runs every test in each. Run it again at will: it installs nothing that is there and rebuilds
# only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in dev asan-ubsan tsan; do
    echo "== ${preset}: configure and build"
    cmake --preset "${preset}" >/dev/null
    cmake --build --preset "${preset}"
    echo "== ${preset}: tests"
    ctest --preset "${preset}"
done
