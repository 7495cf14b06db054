#!/bin/sh
# Installs the build into a prefix of its own, builds the integrator's editor
# and the README's quick start (taken from the README as written) against it
# with find_package, and runs both once under Wine. The README's C quick start
# must be the C updater editor's update code, which the fixtures build.
# build_and_run.sh <build folder> <source folder>
set -eu
prefix="$1/integrator/prefix" readme="$2/README.md"
rm -rf "$1/integrator"
mkdir -p "$1/integrator"
block() { # the README's first block of that language after the quick start's heading
    sed -n '/^### Quick start$/,$p' "$readme" | sed -n "/^\`\`\`$1\$/,/^\`\`\`\$/p" |
        sed '1d' | sed '/^```$/,$d'
}
block cpp >"$1/integrator/quick_start.cpp"
# The samples of the parts: the first whole, the fragments each as a function.
awk '/^```cpp$/ { n++; inside = 1; if (n > 2) print "int Sample" n "() {"; next }
     /^```$/ && inside { if (n > 2) print "return 0; }"; inside = 0; next }
     inside && n >= 2' "$readme" >"$1/integrator/readme_samples.cpp"
block c >"$1/integrator/quick_start.c"
sed -n '/--- The editor.s update code/,/--- End of the update code/p' \
    "$2/tests/fixtures/c_updater_editor.c" | sed '1d;$d' |
    diff - "$1/integrator/quick_start.c"
cmake --install "$1" --prefix "$prefix" >/dev/null
cmake -S "$2/tests/consumer" -B "$1/integrator/build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQUICK_START="$1/integrator/quick_start.cpp" \
    -DREADME_SAMPLES="$1/integrator/readme_samples.cpp" \
    -DCMAKE_TOOLCHAIN_FILE="$2/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$1/integrator/build" >/dev/null
wine "$1/integrator/build/integrators_editor.exe"
wine "$1/integrator/build/quick_start.exe" --open report.pdf
