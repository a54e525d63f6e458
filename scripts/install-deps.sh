#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Vellacut need and that
# this machine lacks. Safe to run again: it installs nothing when everything is present.
#   scripts/install-deps.sh          build, run and test
#   scripts/install-deps.sh --bench  also the peer libraries the benchmarks compare against
#   scripts/install-deps.sh --fuzz   also clang and its libFuzzer runtime for the fuzz targets
#   scripts/install-deps.sh --recipes  also GNU parallel, for checking the README's batch recipes
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev libdeflate-dev libisal-dev zlib1g-dev
    clang-format
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-image-formats-plugins
    xvfb xauth
)
if [[ "${1:-}" == "--bench" ]]; then
    packages+=(libopencv-imgproc-dev libboost-graph-dev hyperfine)
fi
if [[ "${1:-}" == "--fuzz" ]]; then
    packages+=(clang libclang-rt-14-dev)
fi
if [[ "${1:-}" == "--recipes" ]]; then
    packages+=(parallel)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo_cmd=(sudo)
    else
        echo "error: these packages are missing and we are not root: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
