#!/usr/bin/env bash
# deps.sh - installs, from Debian's packages, whatever the build, the demo, the
# tools and the tests need and this machine lacks. Installs nothing when
# everything is present. Checked against a bare Debian 12 image: every package
# below that such an image lacks is named here, nothing is installed by hand.
set -euo pipefail

packages=(
    cmake g++ make pkg-config                  # the build
    libsdl2-dev libstb-dev python3-glad        # window, GL loader, images, Vorbis
    libsndfile1-dev                            # WAV, FLAC and MP3 decoding
    libgtest-dev libbenchmark-dev              # tests and benchmarks
    libopenal-dev                              # the mixer benchmark's peer (never linked by the demo)
    clang libclang-rt-14-dev                   # the fuzzers (libFuzzer)
    libgl1-mesa-dri xvfb xauth xdotool x11-utils imagemagick python3 # GL and end-to-end tests
    xfonts-base                                # X core fonts: SDL's message boxes need them
    dpkg-dev file desktop-file-utils           # the .deb (dpkg-shlibdeps) and its checks
    libdeflate-dev                             # vromcap's PNG compression
    ffmpeg                                     # vromcap --video, and its test
    fonts-dejavu-core vorbis-tools             # the asset generators: the font sheet's font, oggenc
    emscripten chromium                        # the web build, and its tests in a headless browser
    firefox-esr                                # and in Firefox, under Xvfb, through WebDriver BiDi
    pulseaudio pulseaudio-utils                # the sound tests' own PulseAudio server, parecord
    pipewire pipewire-pulse wireplumber dbus   # and their own PipeWire session
    appstream                                  # the software-centre entry's check (appstreamcli)
    python3-numpy                              # the sound tests' analysis (pitch, level, gaps, offsets)
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
