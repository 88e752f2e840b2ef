#!/usr/bin/env bash
# Installs what is missing, builds Quillmar Reader (release) and starts it.
# Arguments after "--" go to the program:  ./run.sh -- /add reader:https://example.org/feed
set -euo pipefail
cd "$(dirname "$0")"

program_args=()
while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then
        shift
        program_args=("$@")
        break
    fi
    shift
done

./scripts/install-packages.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMAR_BUILD_TESTS=OFF \
    -DQUILLMAR_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target quillmar quillmar-cli

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display to show the window on; try it with: xvfb-run ./run.sh" >&2
    exit 1
fi
exec build/release/src/quillmar "${program_args[@]}"
