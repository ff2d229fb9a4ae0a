#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time: first each kept
# regression input and each seed once, then fuzzing from the seeds. Prints per target the
# executions done and its reports; on a report, fails and names the input that caused it.
#
#   tests/fuzz/run.sh [SECONDS_PER_TARGET]
#   tests/fuzz/run.sh --long [--parallel] [SECONDS_PER_TARGET]
#
# The default gives every target an equal share of 60 seconds (at least 10 s each); pass a
# larger number for a longer run. New inputs found while fuzzing go to a scratch directory, never
# into the committed corpus. tests/fuzz/<Target>.flags, where present, holds extra libFuzzer flags
# for that target on one line.
#
# --long runs every target for an hour (or the seconds given) and keeps the corpus it grows in
# $TARVEL_FUZZ_CORPUS/<Target> (default ~/.cache/tarvel-fuzz/corpus), outside the repository, so
# that the next long run starts where this one ended; the committed seeds are read, never
# written. The summary gives each target's executions, coverage (libFuzzer's cov and ft) and
# corpus size. --parallel runs the targets all at once instead of one after another, each then
# sharing the machine's cores with the others: an hour each in an hour of wall-clock time.
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "== build fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mapfile -t targets < <(find tests/fuzz -maxdepth 1 -name '*Fuzz.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort)
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets" >&2
  exit 1
fi
long=0
parallel=0
if [[ ${1:-} == --long ]]; then
  long=1
  shift
fi
if [[ ${1:-} == --parallel ]]; then
  parallel=1
  shift
fi
default=$(((60 + ${#targets[@]} - 1) / ${#targets[@]}))
((default < 10)) && default=10
((long)) && default=3600
seconds=${1:-$default}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "usage: $0 [--long] [--parallel] [SECONDS_PER_TARGET]" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=build/fuzz/findings
# A freed block stays unusable until 64 MB more have been freed (the default is 256 MB): one
# input frees far less, so a use after free within an input, or dozens of inputs later, is still
# caught, and the targets stop touching fresh pages for every allocation.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# Keeps the input behind a report where it survives this run, and says where it is.
report() {
  local target=$1 log=$2
  shift 2
  mkdir -p "$findings/$target"
  # The report's head (what broke and where) and its summary line.
  sed -n '/ERROR: \|==fuzz==\|runtime error/,$p' "$log" | head -n 40 >&2
  grep '^SUMMARY' "$log" >&2 || true
  for f in "$@"; do
    cp "$f" "$findings/$target/"
    echo "$target: report; input kept as $findings/$target/$(basename "$f")" >&2
  done
  exit 1
}

# Replays and fuzzes one target; its summary line goes to stdout and to $work/<Target>.line.
run_target() {
  local target=$1 bin corpus regressions log grown runs cov line
  local -a replay bad flags artifacts
  bin=build/fuzz/$target
  corpus=tests/fuzz/corpus/$target
  regressions=tests/fuzz/regressions/$target
  log=$work/$target.log

  # Replay: every kept regression input and every seed runs once.
  replay=()
  for dir in "$regressions" "$corpus"; do
    [[ -d $dir ]] && while IFS= read -r f; do replay+=("$f"); done < <(find "$dir" -type f | sort)
  done
  if ((${#replay[@]})); then
    if ! "$bin" "${replay[@]}" >"$log" 2>&1; then
      echo "$target: replay failed" >&2
      mapfile -t bad < <(grep -o 'Running: .*' "$log" | tail -n 1 | sed 's/^Running: //')
      report "$target" "$log" "${bad[@]}"
    fi
  fi

  # Fuzzing from the seeds for the given time; a long run grows its kept corpus instead.
  grown=$work/$target
  if ((long)); then
    grown=${TARVEL_FUZZ_CORPUS:-$HOME/.cache/tarvel-fuzz/corpus}/$target
  fi
  mkdir -p "$grown"
  [[ -d $corpus ]] || corpus=""
  flags=()
  [[ -f tests/fuzz/$target.flags ]] && read -r -a flags <tests/fuzz/$target.flags
  echo "== fuzz $target for ${seconds}s ${flags[*]}"
  if ! "$bin" "${flags[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$target-" "$grown" ${corpus:+"$corpus"} \
      >"$log" 2>&1; then
    mapfile -t artifacts < <(find "$work" -maxdepth 1 -name "$target-*" -type f)
    report "$target" "$log" "${artifacts[@]}"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  # The last status line's coverage: "#N DONE cov: C ft: F corp: ..."
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  line=$(printf '%-18s %10s executions in %3ss, %s replayed, 0 reports, %s' "$target" \
    "${runs:-?}" "$seconds" "${#replay[@]}" "${cov:-cov: ? ft: ?}")
  ((long)) && line+=", corpus $(find "$grown" -type f | wc -l) in $grown"
  echo "$line" | tee "$work/$target.line"
}

status=0
if ((parallel)); then
  pids=()
  for target in "${targets[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
else
  # A report ends the whole run at once (report exits).
  for target in "${targets[@]}"; do run_target "$target"; done
fi

echo "== fuzz summary"
for target in "${targets[@]}"; do
  [[ -f $work/$target.line ]] && cat "$work/$target.line"
done
exit $status
