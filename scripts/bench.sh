#!/usr/bin/env bash
# What the service costs its machine: builds what it needs, runs the benchmarks on the simulated
# machine and the measurements under wine64, and prints one table in which every figure stands
# next to its reference, measured in the same run. Takes two to four minutes.
#
# Usage: scripts/bench.sh [--sim-only]
# Environment: BENCH_IDLE_SECONDS (30) the idle window, BENCH_MEMORY_SECONDS (60) when memory
# is read, counted from the services' start.
set -euo pipefail
cd "$(dirname "$0")/.."

sim_only=0
[[ ${1:-} == --sim-only ]] && sim_only=1
idle_seconds=${BENCH_IDLE_SECONDS:-30}
memory_seconds=${BENCH_MEMORY_SECONDS:-60}
settle_seconds=5

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
clk_tck=$(getconf CLK_TCK)

work=$(mktemp -d /tmp/tarvel-bench.XXXXXX)
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

log() { echo "== $*" >&2; }

if ! command -v jq >/dev/null; then
  log "installing jq"
  apt-get install -y -q jq >/dev/null
fi

# ---------------------------------------------------------------------------------------------
# Builds: the optimised Linux bench program; the service and the references for both Windows
# targets (only the x86_64 ones run here).
log "build bench (Linux, optimised)"
cmake --preset bench >/dev/null
cmake --build --preset bench --target tarvel-bench >/dev/null
if ((!sim_only)); then
  for preset in windows-x64 windows-x86; do
    log "build $preset"
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset --target tarvel-service WaitOnlyService PollLoopService \
      PollTickBench >/dev/null
  done
fi

# ---------------------------------------------------------------------------------------------
# The simulated machine. Medians of three repetitions; times are CPU time per operation.
log "benchmarks on the simulated machine"
build/bench/tarvel-bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$work/sim.json" 2>/dev/null

# sim NAME FIELD: a field of the median run, times in microseconds.
sim() {
  jq -r --arg n "$1" --arg f "$2" '
    .benchmarks[] | select(.run_name == $n and .aggregate_name == "median") |
    (if ($f == "cpu_time" or $f == "real_time") then
       .[$f] * ({"ns": 0.001, "us": 1, "ms": 1000, "s": 1000000}[.time_unit])
     else .[$f] end)' "$work/sim.json"
}

# ---------------------------------------------------------------------------------------------
# Wine: private prefixes copied from one booted template, each with a persistent server of its
# own, so that each server's CPU time is its prefix's alone.
template=${TARVEL_WINE_TEMPLATE:-/tmp/tarvel-wine-template}
ensure_template() {
  (
    flock 9
    if [[ ! -f $template/ready ]]; then
      rm -rf "$template"
      mkdir -p "$template"
      WINEPREFIX=$template/pfx timeout 120 "$WINE64" wineboot -i >/dev/null 2>&1
      WINEPREFIX=$template/pfx timeout 60 "$WINESERVER" -w
      touch "$template/ready"
    fi
  ) 9>/tmp/tarvel-wine-template.lock
}

# new_prefix NAME: prints the prefix; its server's pid is in NAME.server.
new_prefix() {
  local pfx=$work/$1
  cp -a "$template/pfx" "$pfx"
  prefixes+=("$pfx")
  WINEPREFIX=$pfx "$WINESERVER" -f -p >/dev/null 2>&1 &
  echo $! >"$work/$1.server"
  # The tag asks for WriteProtect 0 and the value is 0: the steady state of an installed machine.
  printf '[State]\r\nkey=0\r\n' >"$pfx/drive_c/windows/system32/ReadTag.ini"
  WINEPREFIX=$pfx timeout 60 "$WINE64" reg add \
    'HKLM\SYSTEM\CurrentControlSet\Control\StorageDevicePolicies' /v WriteProtect \
    /t REG_DWORD /d 0 /f >/dev/null 2>&1
  mkdir -p "$pfx/drive_c/bench"
}

# start_service NAME SERVICE EXE
start_service() {
  local pfx=$work/$1
  cp "$3" "$pfx/drive_c/bench/"
  WINEPREFIX=$pfx timeout 60 "$WINE64" sc create "$2" binPath= "C:\\bench\\$(basename "$3")" \
    >/dev/null 2>&1
  WINEPREFIX=$pfx timeout 60 "$WINE64" net start "$2" >/dev/null 2>&1
}

# host_pid NAME EXE: the Linux process that hosts the Windows process of that exe in that prefix.
host_pid() {
  local pfx=$work/$1 exe
  exe=$(basename "$2")
  for p in /proc/[0-9]*; do
    # Processes come and go while the folder is read.
    { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | head -1 | grep -qF "C:\\bench\\$exe" || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$pfx" || continue
    echo "${p#/proc/}"
    return 0
  done
  return 1
}

# cpu_us PID: utime + stime of the process, all its threads, dead ones included, in microseconds
# (the kernel counts them in clock ticks, 10 ms here).
cpu_us() {
  sed 's/^.*) //' "/proc/$1/stat" | awk -v hz="$clk_tck" '{ printf "%.0f", ($12 + $13) * 1e6 / hz }'
}
# run_us PID: the run time of its live threads from schedstat, in microseconds: exact to the
# nanosecond, but a thread that ends within the window takes its time with it.
run_us() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f", s / 1000 }'
}
status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
private_kb() { awk '/^Private_(Clean|Dirty):/ { s += $2 } END { print s }' "/proc/$1/smaps_rollup"; }

if ((!sim_only)); then
  ensure_template
  x64=build/windows-x64

  log "wine64: poll tick"
  new_prefix tick
  WINEPREFIX=$work/tick timeout 300 "$WINE64" "$x64/PollTickBench.exe" \
    "$(cat "$work/tick.server")" "$clk_tck" >"$work/tick.txt"
  tick() { awk -v k="$1" '$1 == k { print $2 }' "$work/tick.txt"; }

  log "wine64: idle services (${idle_seconds} s window, memory at ${memory_seconds} s)"
  names=(service poll wait)
  declare -A exe=([service]=$x64/tarvel-service.exe [poll]=$x64/PollLoopService.exe
                  [wait]=$x64/WaitOnlyService.exe)
  declare -A svc=([service]="Tarvel Service" [poll]=PollLoopService [wait]=WaitOnlyService)
  for n in "${names[@]}"; do new_prefix "$n"; done
  # All three run at once, so that the machine's load is the same for each of them.
  for n in "${names[@]}"; do start_service "$n" "${svc[$n]}" "${exe[$n]}"; done
  started=$SECONDS
  declare -A pid server cpu0 srv0 cpu1 srv1 run0 rsv0 run1 rsv1
  for n in "${names[@]}"; do
    pid[$n]=$(host_pid "$n" "${exe[$n]}") || { echo "$n: no process found" >&2; exit 1; }
    server[$n]=$(cat "$work/$n.server")
  done
  sleep "$settle_seconds"
  for n in "${names[@]}"; do
    cpu0[$n]=$(cpu_us "${pid[$n]}") srv0[$n]=$(cpu_us "${server[$n]}")
    run0[$n]=$(run_us "${pid[$n]}") rsv0[$n]=$(run_us "${server[$n]}")
  done
  t0=$(date +%s.%N)
  sleep "$idle_seconds"
  for n in "${names[@]}"; do
    cpu1[$n]=$(cpu_us "${pid[$n]}") srv1[$n]=$(cpu_us "${server[$n]}")
    run1[$n]=$(run_us "${pid[$n]}") rsv1[$n]=$(run_us "${server[$n]}")
  done
  t1=$(date +%s.%N)
  window=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  # CPU milliseconds per second: of the process, of its prefix's server, and the two together
  # from schedstat.
  per_second() { awk -v a="$1" -v b="$2" -v w="$window" 'BEGIN { printf "%.2f", (b - a) / 1000 / w }'; }
  declare -A own srv exact hwm rss priv
  for n in "${names[@]}"; do
    own[$n]=$(per_second "${cpu0[$n]}" "${cpu1[$n]}")
    srv[$n]=$(per_second "${srv0[$n]}" "${srv1[$n]}")
    exact[$n]=$(per_second $((run0[$n] + rsv0[$n])) $((run1[$n] + rsv1[$n])))
  done
  rest=$((memory_seconds - (SECONDS - started)))
  ((rest > 0)) && sleep "$rest"
  for n in "${names[@]}"; do
    hwm[$n]=$(status_kb "${pid[$n]}" VmHWM)
    rss[$n]=$(status_kb "${pid[$n]}" VmRSS)
    priv[$n]=$(private_kb "${pid[$n]}")
  done
fi

# ---------------------------------------------------------------------------------------------
# The table.
row() { printf '%-46s %-24s %-38s %s\n' "$@"; }
us() { awk -v v="$1" 'BEGIN { printf "%.1f us", v }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.2f ms/s", v }'; }
kib() { echo "$1 KiB"; }
size() { awk -v v="$(stat -c %s "$1")" 'BEGIN { printf "%.0f KiB", v / 1024 }'; }

echo
row "FIGURE" "MEASURED" "REFERENCE" "REFERENCE FIGURE"
row "--- simulated machine (CPU per operation)" "" "" ""
row "Poll tick, journal on" "$(us "$(sim PollTick/records:1 cpu_time)")" \
  "same tick, journal off" "$(us "$(sim PollTick/records:0 cpu_time)")"
# The service's own share: the tick's time outside platform calls, as a share of its wall time,
# applied to its CPU time (so that time the thread spent preempted counts for neither side).
own_real=$(sim PollTickOwnWork real_time)
own_cpu=$(sim PollTickOwnWork cpu_time)
own_platform=$(sim PollTickOwnWork platform_ns)
own_service=$(awk -v r="$own_real" -v c="$own_cpu" -v p="$own_platform" \
  'BEGIN { s = (r - p / 1000) / r * c; if (s < 0) s = 0; print s }')
# The rest of the plain tick (journal off) is the machine's: the marked run's own clock reads
# would inflate it.
own_machine=$(awk -v o="$own_service" -v c="$(sim PollTick/records:0 cpu_time)" \
  'BEGIN { m = c - o; if (m < 0) m = 0; print m }')
row "Poll tick, service code alone" "$(us "$own_service")" \
  "the machine's calls in it" "$(us "$own_machine")"
row "Poll tick, heap allocations of its own" "$(sim PollTickOwnWork allocs_per_tick) per tick" \
  "by design" "1 per tick: the registry accessor"
row "Arrival to lock (E: stick), journal off" "$(us "$(sim ArrivalToLock/records:0 cpu_time)")" \
  "journal on" "$(us "$(sim ArrivalToLock/records:1 cpu_time)")"
row "LockSweep(0x11), 26 letters in use" "$(us "$(sim LockSweep/drives:1/records:0 cpu_time)")" \
  "no drives (26 type queries)" "$(us "$(sim LockSweep/drives:0/records:0 cpu_time)")"
row "LockSweep(0x11), 26 letters, journal on" "$(us "$(sim LockSweep/drives:1/records:1 cpu_time)")" \
  "no drives, journal on" "$(us "$(sim LockSweep/drives:0/records:1 cpu_time)")"
row "Policy load, 1 MiB file (parse + decrypt)" \
  "$(us "$(sim PolicyLoad/bytes:1048576/records:0 cpu_time)")" \
  "controller tool's 9-line file" "$(us "$(sim PolicyLoad/bytes:0/records:0 cpu_time)")"

if ((!sim_only)); then
  row "--- wine64, x86_64 build" "" "" ""
  row "Poll tick without its sleeps, thread CPU" "$(us "$(tick tick_own_cpu_us)")" \
    "the 50 Sleep(1), thread CPU" "$(us "$(tick sleeps50_cpu_us)")"
  row "  the same tick, wineserver CPU" "$(us "$(tick tick_own_server_us)")" \
    "the 50 Sleep(1), wineserver CPU" "$(us "$(tick sleeps50_server_us)")"
  row "  the same tick, wall" "$(us "$(tick tick_own_wall_us)")" \
    "whole tick with its sleeps, CPU" "$(us "$(tick tick_whole_cpu_us)")"
  part() { echo "$(us "$(tick part_"$1"_cpu_us)") + $(us "$(tick part_"$1"_server_us)")"; }
  row "  its tag file read, CPU + wineserver" "$(part tag)" \
    "its registry read, CPU + wineserver" "$(part registry)"
  row "  its device pass (no WPD class), CPU + server" "$(part devices)" "" ""
  row "Idle CPU, service process" "$(ms "${own[service]}")" \
    "1 ms poll loop alone / wait only" "$(ms "${own[poll]}") / $(ms "${own[wait]}")"
  row "Idle CPU, its prefix's wineserver" "$(ms "${srv[service]}")" \
    "1 ms poll loop alone / wait only" "$(ms "${srv[poll]}") / $(ms "${srv[wait]}")"
  total() { awk -v a="${own[$1]}" -v b="${srv[$1]}" 'BEGIN { print a + b }'; }
  row "Idle CPU, service and its wineserver" "$(ms "$(total service)")" \
    "1 ms poll loop alone / wait only" "$(ms "$(total poll)") / $(ms "$(total wait)")"
  over() {
    awk -v s="$1" -v p="$2" 'BEGIN { printf "%+.2f ms/s (%+.1f%%)", s - p, (s - p) / p * 100 }'
  }
  row "Idle CPU, service over the poll's floor" "$(over "$(total service)" "$(total poll)")" \
    "target" "within +10%"
  row "  the same from schedstat (ns)" "$(over "${exact[service]}" "${exact[poll]}")" \
    "poll loop alone, schedstat" "$(ms "${exact[poll]}")"
  # What the excess should be: the tick's 50 sleeps and its own work, once a second.
  expected() { awk -v a="$(tick "$1"_cpu_us)" -v b="$(tick "$1"_server_us)" 'BEGIN { printf "%.2f", (a + b) / 1000 }'; }
  row "  of which one tick's own work, per second" "$(ms "$(expected tick_own)")" \
    "one tick's 50 Sleep(1), per second" "$(ms "$(expected sleeps50)")"
  row "Peak resident (VmHWM) at ${memory_seconds} s" "$(kib "${hwm[service]}")" \
    "poll loop alone / wait only" "$(kib "${hwm[poll]}") / $(kib "${hwm[wait]}")"
  row "Resident (VmRSS) at ${memory_seconds} s" "$(kib "${rss[service]}")" \
    "poll loop alone / wait only" "$(kib "${rss[poll]}") / $(kib "${rss[wait]}")"
  row "Private (smaps) at ${memory_seconds} s" "$(kib "${priv[service]}")" \
    "poll loop alone / wait only" "$(kib "${priv[poll]}") / $(kib "${priv[wait]}")"
  for arch in x86 x64; do
    dir=build/windows-$arch
    strip_arch=$([[ $arch == x86 ]] && echo i686 || echo x86_64)
    strip=$strip_arch-w64-mingw32-strip
    "$strip" -o "$work/stripped.exe" "$dir/tarvel-service.exe"
    "$strip" -o "$work/stripped-ref.exe" "$dir/WaitOnlyService.exe"
    row "tarvel-service.exe $strip_arch, built / stripped" \
      "$(size "$dir/tarvel-service.exe") / $(size "$work/stripped.exe")" \
      "WaitOnlyService.exe, same build" \
      "$(size "$dir/WaitOnlyService.exe") / $(size "$work/stripped-ref.exe")"
  done
  echo
  echo "Idle window ${window%.*} s; CPU from /proc/PID/stat (utime+stime) of the process hosting"
  echo "each service and of its prefix's own wineserver; memory from /proc/PID/status and"
  echo "smaps_rollup of the hosting process. Wine tick: $(tick ticks) ticks with sleeps counted"
  echo "instead of slept ($(tick sleeps_per_tick) per tick), GetThreadTimes and the server's /proc."
fi
