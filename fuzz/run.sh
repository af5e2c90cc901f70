#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) through CMake and runs each in turn.
#   bash fuzz/run.sh [seconds-per-target] [target...]
# The targets are those of fuzz/CMakeLists.txt. Seeds: tests/data (and fuzz/seeds/<target> when present);
# the growing corpus stays in build-fuzz/corpus_<target>. Crashes land in build-fuzz/ as crash-* files.
# FUZZ_SEED=n fixes libFuzzer's random seed, so a short run from a clean tree repeats itself.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
out=${FUZZ_BUILD:-build-fuzz}
CC=${FUZZ_CC:-clang-14}
CXX=${FUZZ_CXX:-clang++-14}
command -v "$CXX" >/dev/null || { CC=clang; CXX=clang++; }
if [ ! -f "$out/build.ninja" ]; then
  cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$CC" \
    -DCMAKE_CXX_COMPILER="$CXX" -DFV_FUZZ=ON -DFV_BUILD_UI=OFF ${FUZZ_CMAKE_ARGS:-}
fi
cmake --build "$out" --target fuzz_all -j "$(nproc)"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < <(grep -v '^$' "$out/fuzz_targets.txt")
status=0
for t in "${targets[@]}"; do
  corpus="$out/corpus_$t"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$t" ] && seeds+=("fuzz/seeds/$t")
  [ -d "$out/seeds_$t" ] && seeds+=("$out/seeds_$t")
  [ ${#seeds[@]} -eq 0 ] && mapfile -t seeds < <(find tests/data -type d)
  echo "=== running fuzz_$t for ${seconds}s"
  if ! nice -n 19 "$out/fuzz_$t" "$corpus" "${seeds[@]}" \
    -max_total_time="$seconds" -max_len=70000 -rss_limit_mb=2048 -timeout=60 \
    -artifact_prefix="$out/" -print_final_stats=1 ${FUZZ_SEED:+-seed=$FUZZ_SEED} > "$out/fuzz_$t.log" 2>&1; then
    status=1
    echo "fuzz_$t FAILED:"
  fi
  tail -n 25 "$out/fuzz_$t.log"
done
exit $status
