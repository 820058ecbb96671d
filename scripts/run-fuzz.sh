#!/usr/bin/env bash
# A bounded run of every libFuzzer target: crashes and out-of-bounds reads fail the test.
set -euo pipefail
build=${1:-build/fuzz}
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
# No target at all is a broken build, not a clean run.
if [ "${#targets[@]}" -eq 0 ]; then
  echo "fuzz: no fuzz targets under $build/bin"
  exit 1
fi
for target in "${targets[@]}"; do
  corpus="build/fuzz-corpus/$(basename "$target")"
  mkdir -p "$corpus"
  if ! "$target" -runs=200000 -max_len=4096 "$corpus" >"$build/$(basename "$target").log" 2>&1; then
    tail -n 30 "$build/$(basename "$target").log"
    echo "fuzz: $(basename "$target") FAILED"
    exit 1
  fi
  echo "fuzz: $(basename "$target") ok"
done
