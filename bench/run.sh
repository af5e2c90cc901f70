#!/usr/bin/env bash
# Runs every benchmark program of a Release tree whose name matches the optional pattern,
# then gathers their "bench:" lines into a summary at the end.
set -uo pipefail
tree=${1:-build-release}
pattern=${2:-}
out=$(mktemp)
status=0
shopt -s nullglob
progs=("$tree"/bench/bench_*)
if [ ${#progs[@]} -eq 0 ]; then
  echo "no benchmark programs in $tree/bench"
fi
for prog in "${progs[@]}"; do
  name=$(basename "$prog")
  if [ -n "$pattern" ] && ! [[ "$name" =~ $pattern ]]; then continue; fi
  echo "=== $name"
  if ! "$prog" 2>&1 | tee -a "$out"; then status=1; fi
done
echo
echo "=== summary"
grep '^bench: ' "$out" || echo "(no figures)"
rm -f "$out"
exit $status
