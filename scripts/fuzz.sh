#!/usr/bin/env bash
# Builds the libFuzzer targets of the configuration readers and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 20]
# The build goes to $KESTAVO_FUZZ_BUILD (default: build/fuzz in the repository). Each target
# starts from its seed corpus in fuzz/corpus/<target>/ (left unchanged; new inputs go to a
# scratch corpus in the build folder). Fails when any target crashes, leaks, hangs or fails its
# checks; the input that did it is kept in the build folder's artifacts/.
set -euo pipefail

seconds="${1:-20}"
case "$seconds" in ''|*[!0-9]*) echo "fuzz.sh: seconds must be a whole number" >&2; exit 2;; esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTAVO_FUZZ_BUILD:-$root/build/fuzz}"
targets=(fuzz_ini_file fuzz_schedule fuzz_id_control_list fuzz_language_table fuzz_password_file)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DKESTAVO_FUZZ=ON \
      -DKESTAVO_TESTS=OFF -DKESTAVO_BENCH=OFF -DKESTAVO_UI=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -- -j2

failed=()
mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  scratch="$build/corpus/$t"
  mkdir -p "$scratch"
  echo "== $t: ${seconds}s"
  # A fixed seed keeps CI runs repeatable; KESTAVO_FUZZ_SEED=0 lets libFuzzer choose.
  if ! "$build/fuzz/$t" -seed="${KESTAVO_FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$build/artifacts/$t-" -print_final_stats=1 \
        "$scratch" "$root/fuzz/corpus/$t" >"$build/artifacts/$t.log" 2>&1; then
    failed+=("$t")
    tail -n 40 "$build/artifacts/$t.log" >&2
  else
    grep -E "stat::number_of_executed_units|Done" "$build/artifacts/$t.log" | tail -n 2
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz.sh: FAILED: ${failed[*]} (logs and inputs in $build/artifacts)" >&2
  exit 1
fi
echo "fuzz.sh: all ${#targets[@]} targets ran ${seconds}s without a failure"
