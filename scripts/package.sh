#!/usr/bin/env bash
# Builds the Debian package kestrelle_<version>_<arch>.deb in release mode
# from a clean tree: the committed sources (git archive of HEAD) in a fresh
# build folder, so that nothing left lying in the work tree gets in. The
# package lands in the repository's top folder and lintian reads it.
# Extra arguments go to CMake's configure step (-DKESTRELLE_MAKER_URL=...).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# dpkg-shlibdeps (dpkg-dev) computes the package's dependencies.
KESTRELLE_EXTRA_PACKAGES="dpkg-dev lintian ${KESTRELLE_EXTRA_PACKAGES:-}" bash scripts/setup.sh

work="$top/build/package"
rm -rf "$work"
mkdir -p "$work/src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
        echo "Note: uncommitted changes are not packaged; the package is made from HEAD." >&2
    fi
    git archive HEAD | tar -x -C "$work/src"
else
    # An unpacked release archive is clean already.
    tar -c --exclude=./build --exclude=./.git . | tar -x -C "$work/src"
fi

# Debian's hardening flags, as its own packages are built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DKESTRELLE_BUILD_TESTS=OFF -DKESTRELLE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    "$@"
cmake --build "$work/build"
(cd "$work/build" && cpack -G DEB)

deb=$(cd "$work/build" && ls kestrelle_*.deb)
cp "$work/build/$deb" "$top/$deb"
echo "Built $top/$deb"
lintian --info "$top/$deb" || true
