#!/usr/bin/env bash
# Installs the Debian packages that Kestrelle's build and tests need, and only
# those that are missing. Safe to run again: with everything present it asks
# apt nothing at all.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-multimedia-dev
    libqt6network6 # its NetworkManager plugin tells the desktop program when it is offline
    gstreamer1.0-plugins-base fonts-liberation2 xvfb xauth
    libcurl4-openssl-dev libssl-dev libsqlite3-dev ca-certificates netbase tzdata
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    python3 python3-aiosmtpd openssl
    librsvg2-bin desktop-file-utils appstream
    qtkeychain-qt6-dev libsecret-1-0 # remembered log-ins, in the desktop's keyring
    dbus gnome-keyring # a real Secret Service for the keyring's test
    prometheus # its promtool checks the metrics file the checker writes
)
if [[ -n "${KESTRELLE_EXTRA_PACKAGES:-}" ]]; then
    read -r -a extra <<<"${KESTRELLE_EXTRA_PACKAGES}"
    PACKAGES+=("${extra[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    SUDO=(sudo)
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine knows no packages until the lists have been fetched once.
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
