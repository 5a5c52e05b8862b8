#!/usr/bin/env bash
# Installs the build into a fresh prefix and builds the C consumer against it twice: through
# pkg-config and through find_package(PXLib). Both must build without the source tree and run.
set -euo pipefail
build=$1 source=$(cd "$2" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name pxlib.pc)
[ -n "$pc" ] || { echo "pxlib.pc not installed" >&2; exit 1; }

# A library built with the sanitizers needs their runtimes in whatever links it.
flags=()
grep -q '^QUILLET_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && flags=(-fsanitize=address,undefined)

export PKG_CONFIG_PATH=$(dirname "$pc")
cc "${flags[@]}" -o "$work/by-pkgconfig" "$source/tests/c_consumer/c_consumer.c" \
   $(pkg-config --cflags pxlib) $(pkg-config --libs pxlib)
"$work/by-pkgconfig" >/dev/null

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCONSUMER_SOURCE="$source/tests/c_consumer/c_consumer.c" -DCMAKE_C_FLAGS="${flags[*]}" \
      -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/c_consumer" >/dev/null
echo "the installed library builds and runs through pkg-config and find_package"
