#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang (library code instrumented too) in
# build-fuzz and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60] [target names...]
# Seeds come from tests/fuzz/corpus/<target>/ when present; inputs the fuzzer
# finds go to build-fuzz/corpus/<target>/ and crash inputs to
# build-fuzz/artifacts/<target>/. tests/fuzz/<target>.flags may add libFuzzer
# flags (lines starting with '#' are skipped). Targets run one after the other.
# Exits non-zero when a target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
BUILD=${BUILD:-build-fuzz}
JOBS=${JOBS:-2}

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVIX_FUZZ=ON -DCORVIX_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$BUILD" -j"$JOBS"

# Targets: one per file in tests/fuzz/, plus any other fuzz_* program the build made.
declare -A seen=()
targets=()
for src in tests/fuzz/*.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  seen[$name]=1
  targets+=("$name")
done
while IFS= read -r exe; do
  name=$(basename "$exe")
  [ -n "${seen[$name]:-}" ] && continue
  seen[$name]=1
  targets+=("$name")
done < <(find "$BUILD" -type f -perm -u+x -name 'fuzz_*' ! -name '*.*' | sort)
if (($#)); then
  targets=("$@")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
summary=()
for name in "${targets[@]}"; do
  exe=$(find "$BUILD" -type f -perm -u+x -name "$name" | head -n 1)
  if [ -z "$exe" ]; then
    summary+=("$name: not built")
    failed=1
    continue
  fi
  corpus="$BUILD/corpus/$name"
  artifacts="$BUILD/artifacts/$name"
  log="$BUILD/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  seeds=()
  [ -d "tests/fuzz/corpus/$name" ] && seeds=("tests/fuzz/corpus/$name")
  flags=()
  if [ -f "tests/fuzz/$name.flags" ]; then
    # shellcheck disable=SC2207 # flags are blank-separated words
    flags=($(grep -v '^#' "tests/fuzz/$name.flags" || true))
  fi
  echo "== $name: ${SECONDS_EACH}s"
  rc=0
  "$exe" -max_total_time="$SECONDS_EACH" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${flags[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')
  if [ "$rc" -eq 0 ]; then
    verdict="no crash"
  else
    verdict="CRASHED (exit $rc, see $log and $artifacts/)"
    failed=1
    tail -n 30 "$log"
  fi
  summary+=("$name: ${runs:-0} executions in ${SECONDS_EACH}s, $verdict")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
