#!/bin/sh
# Installs the build into a prefix of its own, builds the integrator's editor
# against it with find_package, and runs it once under Wine.
# build_and_run.sh <build folder> <source folder>
set -eu
prefix="$1/integrator/prefix"
rm -rf "$1/integrator"
cmake --install "$1" --prefix "$prefix" >/dev/null
cmake -S "$2/tests/consumer" -B "$1/integrator/build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_TOOLCHAIN_FILE="$2/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$1/integrator/build" >/dev/null
wine "$1/integrator/build/integrators_editor.exe"
