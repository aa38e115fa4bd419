#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Kestrelle's command-line checker and
# runs it on the site list beside the executable (build/dev/src/app/
# kestrelle.dat; with no list there it checks nothing and says so). Extra
# arguments go to the checker: bash scripts/run.sh --save, or a list's path.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset dev >/dev/null
cmake --build --preset dev --target kestrelle-check
exec build/dev/src/app/kestrelle-check "$@"
