#!/usr/bin/env bash
# Puts a few real photos where the peer benchmark finds them, as binary PNM files (and two of them
# scaled up to 10 and 13 megapixels):
#   scripts/bench-photos.sh [DIR]      (default: $VELLACUT_BENCH_PHOTOS, else build/bench-photos;
#                                       prints the directory)
# The photos are the sample images of Debian's python3-skimage package. Only the package file is
# downloaded and unpacked into a scratch directory (its Python dependencies are not installed);
# netpbm converts the images and is installed when missing. Nothing is committed: run this
# before the benchmark, then pass the directory with --peer_photos=DIR or VELLACUT_BENCH_PHOTOS.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-${VELLACUT_BENCH_PHOTOS:-"$root/build/bench-photos"}}
# Grey and colour photos from small to about two megapixels.
photos=(camera.png coins.png astronaut.png coffee.png hubble_deep_field.jpg retina.jpg)

as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: need root to run: $*" >&2
        exit 1
    fi
}

if ! command -v pngtopnm >/dev/null 2>&1 || ! command -v jpegtopnm >/dev/null 2>&1; then
    echo "Installing netpbm to convert the photos" >&2
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get install -y -qq --no-install-recommends netpbm >/dev/null \
        || { as_root apt-get update -qq && as_root apt-get install -y -qq --no-install-recommends netpbm >/dev/null; }
fi

mkdir -p "$out"
missing=()
for photo in "${photos[@]}"; do
    [[ -s "$out/${photo%.*}.pnm" ]] || missing+=("$photo")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    # apt-get download writes into the current directory; _apt may not reach a private scratch
    # directory, which only costs a warning.
    (cd "$scratch" && { apt-get download python3-skimage >/dev/null 2>&1 \
        || { as_root apt-get update -qq && apt-get download python3-skimage >/dev/null 2>&1; }; })
    deb=$(ls "$scratch"/python3-skimage_*.deb 2>/dev/null | head -n1)
    if [[ -z "$deb" ]]; then
        echo "error: could not download python3-skimage" >&2
        exit 1
    fi
    dpkg-deb -x "$deb" "$scratch/unpacked"
    data=$(dirname "$(find "$scratch/unpacked" -path '*/skimage/data/camera.png' | head -n1)")
    for photo in "${missing[@]}"; do
        source="$data/$photo"
        if [[ ! -f "$source" ]]; then
            echo "warning: $photo is not in this python3-skimage" >&2
            continue
        fi
        case "$photo" in
            *.png) convert=(pngtopnm -quiet) ;;
            *.jpg) convert=(jpegtopnm -quiet) ;;
        esac
        # Alpha is dropped; 16-bit images are scaled to 8 bits.
        "${convert[@]}" "$source" | pnmdepth 255 >"$out/${photo%.*}.tmp"
        mv "$out/${photo%.*}.tmp" "$out/${photo%.*}.pnm"
    done
fi
# Hard photos of 8 to 16 megapixels, scaled up from two of the above: with the benchmark's generic
# strokes their object and background overlap in grey level, so the solve dominates.
for large in astronaut:10000000 coffee:13500000; do
    name=${large%%:*}
    pixels=${large#*:}
    target="$out/$name-$((pixels / 1000000))mp.pnm"
    if [[ ! -s "$target" && -s "$out/$name.pnm" ]]; then
        read -r width height < <(pamfile "$out/$name.pnm" | sed -E 's/.* ([0-9]+) by ([0-9]+) .*/\1 \2/')
        factor=$(awk -v p="$pixels" -v w="$width" -v h="$height" 'BEGIN { printf "%.4f", sqrt(p / (w * h)) }')
        pamscale "$factor" "$out/$name.pnm" >"$target.tmp"
        mv "$target.tmp" "$target"
    fi
done
echo "$out"
