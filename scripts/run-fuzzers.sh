#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for FUZZ_SECONDS each (default 60).
#   scripts/run-fuzzers.sh BUILD_DIR [TARGET...]
# Target fuzz_<area> is seeded from tests/data/<area>/ (every file below it, fuzz-found cases in
# fuzzed/ included), copied into BUILD_DIR/fuzz-corpus/ so the fuzzer never writes into the
# repository. An optional tests/fuzz/fuzz_<area>.dict is passed as its dictionary.
# A crash, leak, timeout or out-of-memory fails the run; the reproducer's path is printed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: $0 BUILD_DIR [TARGET...]}
shift
build=$(cd "$build" && pwd)
seconds=${FUZZ_SECONDS:-60}
manifest=$build/fuzz-targets.txt

if [[ ! -f $manifest ]]; then
  echo "fuzz: $manifest is missing: configure $build with -DVELQUINT_FUZZ=ON first" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen
if [[ -z ${ASAN_SYMBOLIZER_PATH:-} && -x /usr/lib/llvm-14/bin/llvm-symbolizer ]]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi

passed=0
failed=0
found=0
while IFS=$'\t' read -r name exe; do
  [[ -n $name ]] || continue
  if (($# > 0)) && [[ " $* " != *" $name "* ]]; then
    continue
  fi
  found=$((found + 1))
  area=${name#fuzz_}
  corpus=$build/fuzz-corpus/$name
  artifacts=$build/fuzz-artifacts/$name-$(date +%Y%m%d-%H%M%S)
  log=$build/fuzz-logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

  rm -rf "$corpus/seeds"
  seed_note="no seeds (tests/data/$area/ does not exist)"
  if [[ -d $repo/tests/data/$area ]]; then
    cp -R "$repo/tests/data/$area" "$corpus/seeds"
    seed_note="$(find "$corpus/seeds" -type f | wc -l) seed files from tests/data/$area/"
  fi
  options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10
           -artifact_prefix="$artifacts/" -print_final_stats=1)
  if [[ -f $repo/tests/fuzz/$name.dict ]]; then
    options+=(-dict="$repo/tests/fuzz/$name.dict")
  fi

  echo "fuzz: $name for ${seconds}s, $seed_note"
  status=0
  # The outer limit only catches a hang that libFuzzer's own -timeout cannot see.
  (cd "$build" && timeout --kill-after=30 $((seconds + 300)) "$exe" "${options[@]}" "$corpus") \
    >"$log" 2>&1 || status=$?

  if ((status == 0)); then
    passed=$((passed + 1))
    rmdir "$artifacts" 2>/dev/null || true
    echo "fuzz: $name clean: $(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1)," \
      "$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)"
  else
    failed=$((failed + 1))
    echo "fuzz: $name FAILED (exit status $status); last lines of $log:"
    tail -n 80 "$log" | sed 's/^/    /'
    reproducers=$(find "$artifacts" -type f 2>/dev/null | sort)
    if [[ -n $reproducers ]]; then
      while read -r file; do
        echo "fuzz: reproducer: $file"
        echo "fuzz:   replay with: $exe $file"
      done <<<"$reproducers"
    else
      echo "fuzz: no reproducer was written (killed by the outer time limit?)"
    fi
  fi
done <"$manifest"

if ((found == 0)); then
  echo "fuzz: no fuzz targets to run (tests/fuzz/fuzz_*.cpp, or the names given)" >&2
  exit 1
fi
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
