# Sourced by the scripts here: builds quillet-batch (and any targets named) in Release in
# build-bench, as the figures are measured, and sets build and qb.
build_bench() {
  build="$root/build-bench"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLET_GUI=OFF -DQUILLET_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target quillet-batch "$@" >/dev/null
  qb="$build/cli/quillet-batch"
}
