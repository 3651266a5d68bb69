#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; installs only what is
# missing and runs apt-get update only when it has something to install. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git ccache
    juce-modules-source libsndfile1-dev libfftw3-dev
    libgtest-dev libgmock-dev
    libpng-dev libjpeg-dev libfreetype-dev libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
    xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
