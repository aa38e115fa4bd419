#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Kestrelle twice (the normal build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build) and runs every test in
# both. Run it again at will: it installs nothing that is there and rebuilds
# only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in dev asan-ubsan; do
    echo "== ${preset}: configure and build"
    cmake --preset "${preset}" >/dev/null
    cmake --build --preset "${preset}"
    echo "== ${preset}: tests"
    ctest --preset "${preset}"
done
