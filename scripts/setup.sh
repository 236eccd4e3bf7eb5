#!/usr/bin/env bash
# Installs every Debian package Kalder Pro needs to build, test and run.
# Idempotent: quiet and fast when everything is already present.
set -euo pipefail

packages=(
    # build tools
    cmake ninja-build ccache g++ pkg-config clang-format git
    # application framework and its Linux dependencies
    juce-modules-source
    libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxcomposite-dev libxcursor-dev libxext-dev libxinerama-dev
    libxrandr-dev libxrender-dev libgl-dev libglu1-mesa-dev mesa-common-dev
    libgl1-mesa-dri libcurl4-openssl-dev
    libflac-dev libvorbis-dev libogg-dev zlib1g-dev libpng-dev libjpeg-dev
    # signal processing and maths
    libfftw3-dev libeigen3-dev cimg-dev libkissfft-dev
    # compressed formats beyond JUCE's own
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
    # the separation service
    libcpp-httplib-dev libssl-dev
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xdotool imagemagick xauth curl
    # the file readers under libFuzzer with the sanitizers (./kalder test --fuzz)
    clang libclang-rt-14-dev time
    # the separation quality benchmark: songs rendered from three General MIDI
    # soundfonts, scored with the field's BSS Eval metric
    fluidsynth fluid-soundfont-gm timgm6mb-soundfont musescore-general-soundfont-small
    python3-numpy python3-scipy python3-mir-eval
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
