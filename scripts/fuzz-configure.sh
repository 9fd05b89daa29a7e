# Configures build-fuzz, the build of the fuzz targets: clang with QUARRO_FUZZ (libFuzzer, ASan
# and UBSan), no window, benchmarks or Python module. Sourced by scripts/fuzz and
# scripts/fuzz-decoder, which share the folder, from the top of the source tree.
QUARRO_FUZZ_OUT=build-fuzz
quarro_configure_fuzz() {
  echo "=== fuzz: configuring $QUARRO_FUZZ_OUT"
  cmake -S . -B "$QUARRO_FUZZ_OUT" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARRO_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRO_BUILD_GUI=OFF -DQUARRO_BUILD_BENCH=OFF -DQUARRO_BUILD_PYTHON=OFF \
    >/dev/null
}
