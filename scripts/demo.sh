#!/usr/bin/env bash
# The main job: installs what is missing, builds the release configuration, writes a demo matrix
# and signal, renders the signal through the matrix with pelmark-render, and installs the VST3
# plug-in into ~/.vst3, where Linux VST3 hosts look for it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$(nproc)" --target pelmark-demo pelmark-render pelmark-bench pelmarkmt_VST3

mkdir -p demo
build/release/Tools/pelmark-demo demo
build/release/Tools/pelmark-render --matrix demo/demo-matrix.wav --input demo/demo-input.wav \
    --output demo/demo-output.wav

bundle=build/release/Source/Plugin/pelmarkmt_artefacts/Release/VST3/pelmarkmt.vst3
if [ -d "$bundle" ]; then
    mkdir -p "$HOME/.vst3"
    rm -rf "$HOME/.vst3/pelmarkmt.vst3"
    cp -r "$bundle" "$HOME/.vst3/"
    echo "Installed the plug-in: $HOME/.vst3/pelmarkmt.vst3"
fi
echo "Demo output (4 channels, the demo signal heard at four positions of a synthetic room):"
echo "  $(pwd)/demo/demo-output.wav"
