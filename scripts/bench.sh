#!/usr/bin/env bash
# What the service costs its machine: builds what it needs, runs the benchmarks on the simulated
# machine and the measurements under Wine for both Windows builds (the shipped i686 one under
# WOW64, the x86_64 one under wine64), and prints one table in which every figure stands next to
# its reference, measured in the same run. Takes four to six minutes.
#
# The i686 build runs as the test command finds 32-bit programs run here (scripts/i386.sh):
# natively, under the emulator (its figures then include the emulator's own cost: compare them
# with their references of the same run, not with native ones), or not at all (its rows say so).
#
# Usage: scripts/bench.sh [--sim-only]
# Environment: BENCH_IDLE_SECONDS (30) the idle window, BENCH_MEMORY_SECONDS (60) when memory
# is read, counted from each set of services' start; BENCH_BUILD_DIR (build/bench),
# BENCH_X86_BUILD_DIR (build/windows-x86) and BENCH_X64_BUILD_DIR (build/windows-x64) the build
# folders of the bench, windows-x86 and windows-x64 presets, for a run beside other builds.
set -euo pipefail
cd "$(dirname "$0")/.."

sim_only=0
[[ ${1:-} == --sim-only ]] && sim_only=1
idle_seconds=${BENCH_IDLE_SECONDS:-30}
memory_seconds=${BENCH_MEMORY_SECONDS:-60}
settle_seconds=5
bench_dir=${BENCH_BUILD_DIR:-build/bench}
declare -A build_dir=([x86]=${BENCH_X86_BUILD_DIR:-build/windows-x86}
                      [x64]=${BENCH_X64_BUILD_DIR:-build/windows-x64})

# The launchers (wine_for picks one by the program's machine type) and the template prefix.
# shellcheck source=tests/wine/wine-prefix.sh
. tests/wine/wine-prefix.sh
# shellcheck source=scripts/packages.sh
. scripts/packages.sh
# shellcheck source=scripts/i386.sh
. scripts/i386.sh
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

# ---------------------------------------------------------------------------------------------
# Builds: the optimised Linux bench program; the service and the references for both Windows
# targets.
log "build bench (Linux, optimised)"
cmake --preset bench -B "$bench_dir" >/dev/null
cmake --build "$bench_dir" --target tarvel-bench >/dev/null
if ((!sim_only)); then
  for arch in x64 x86; do
    log "build windows-$arch"
    cmake --preset "windows-$arch" -B "${build_dir[$arch]}" >/dev/null
    cmake --build "${build_dir[$arch]}" --target tarvel-service WaitOnlyService PollLoopService \
      PollTickBench >/dev/null
  done
fi

# ---------------------------------------------------------------------------------------------
# The simulated machine: the bench program prints its rows of the table itself (medians of three
# repetitions; times are CPU time per operation), and fails when one lacks its figure.
log "benchmarks on the simulated machine"
"$bench_dir/tarvel-bench" --table --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$work/sim.txt"

# ---------------------------------------------------------------------------------------------
# Wine: private prefixes copied from the booted template, each with a persistent server of its
# own, so that each server's CPU time is its prefix's alone.

# new_prefix NAME SYSDIR: makes the prefix; its server's pid is in NAME.server. SYSDIR is the
# system folder of the build under test (syswow64 for the i686 one), where its tag file lives.
new_prefix() {
  local pfx=$work/$1
  cp -a "$template" "$pfx"
  prefixes+=("$pfx")
  WINEPREFIX=$pfx "$WINESERVER" -f -p >/dev/null 2>&1 &
  echo $! >"$work/$1.server"
  # The tag asks for WriteProtect 0 and the value is 0, and the policy turns both locks on: the
  # steady state of an installed machine, whose once-a-second lock check then runs every tick.
  # HKLM\SYSTEM is one view for both bitnesses.
  printf '[State]\r\nkey=0\r\n' >"$pfx/drive_c/windows/$2/ReadTag.ini"
  cp tests/wine/data/DevState-on-on.ini "$pfx/drive_c/windows/$2/DevState.ini"
  WINEPREFIX=$pfx timeout 60 "$WINE64" reg add \
    'HKLM\SYSTEM\CurrentControlSet\Control\StorageDevicePolicies' /v WriteProtect \
    /t REG_DWORD /d 0 /f >/dev/null 2>&1
  mkdir -p "$pfx/drive_c/bench"
}

# end_prefix NAME: ends the prefix's server and every Wine process in it.
end_prefix() {
  WINEPREFIX=$work/$1 timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
  wait "$(cat "$work/$1.server")" 2>/dev/null || true
}

# start_service NAME SERVICE EXE: the services manager starts the exe with the loader its machine
# type needs.
start_service() {
  local pfx=$work/$1
  cp "$3" "$pfx/drive_c/bench/"
  WINEPREFIX=$pfx timeout 60 "$WINE64" sc create "$2" binPath= "C:\\bench\\$(basename "$3")" \
    >/dev/null 2>&1
  WINEPREFIX=$pfx timeout 60 "$WINE64" net start "$2" >/dev/null 2>&1
}

# elf_class FILE: 32 or 64, the word size of a Linux program.
elf_class() {
  case $(od -An -t u1 -j 4 -N 1 "$1" 2>/dev/null | tr -d ' ') in 1) echo 32 ;; 2) echo 64 ;; esac
}

# host_pid NAME EXE: the Linux process that hosts the Windows process of that exe in that prefix:
# the one whose command line is the exe's Windows path, in that prefix, and whose program has the
# exe's word size (an i686 exe is hosted by a 32-bit Wine loader, an x86_64 one by a 64-bit one).
# Under the emulator an i686 exe's host is qemu-i386, with the 32-bit loader and the exe's path
# as its arguments.
host_pid() {
  local pfx=$work/$1 exe bits host
  exe=$(basename "$2")
  bits=$([[ $(build_arch "$2") == i386 ]] && echo 32 || echo 64)
  for p in /proc/[0-9]*; do
    # Processes come and go while the folder is read.
    { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | head -3 | grep -qF "C:\\bench\\$exe" || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$pfx" || continue
    host=$(elf_class "$p/exe")
    [[ $bits == 32 && $TARVEL_I386 == emulated && $(readlink "$p/exe") == */qemu-i386 ]] && host=32
    if [[ $host != "$bits" ]]; then
      echo "$exe: its process ${p#/proc/} is not a $bits-bit program" >&2
      return 1
    fi
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

# Figures per build, keyed "ARCH:NAME": CPU milliseconds per second of the process, of its
# prefix's server, and the two together from schedstat; memory in KiB; the idle window.
names=(service poll wait)
declare -A svc=([service]="Tarvel Service" [poll]=PollLoopService [wait]=WaitOnlyService)
declare -A file=([service]=tarvel-service.exe [poll]=PollLoopService.exe
                 [wait]=WaitOnlyService.exe)
declare -A own srv exact hwm rss priv window

# Every figure of PollTickBench that the table reads: a missing one fails the run rather than
# showing as zero.
tick_keys=(tick_own_cpu_us tick_own_server_us tick_own_wall_us sleeps50_cpu_us sleeps50_server_us
  tick_whole_cpu_us part_tag_cpu_us part_tag_server_us part_registry_cpu_us part_registry_server_us
  part_devices_cpu_us part_devices_server_us part_keeplocked_cpu_us part_keeplocked_server_us ticks
  sleeps_per_tick)

# measure_build ARCH: the tick bench and the three idle services of that Windows build.
measure_build() {
  local arch=$1 dir=${build_dir[$1]} wine sysdir=system32 n
  wine=$(wine_for "$dir/PollTickBench.exe")
  [[ $(build_arch "$dir/tarvel-service.exe") == i386 ]] && sysdir=syswow64

  log "$arch: poll tick ($wine)"
  new_prefix "$arch-tick" "$sysdir"
  WINEPREFIX=$work/$arch-tick timeout 300 "$wine" "$dir/PollTickBench.exe" \
    "$(cat "$work/$arch-tick.server")" "$clk_tck" >"$work/$arch-tick.txt"
  end_prefix "$arch-tick"
  local key
  for key in "${tick_keys[@]}"; do
    grep -q "^$key[[:space:]]" "$work/$arch-tick.txt" ||
      { echo "bench: PollTickBench ($arch) printed no $key" >&2; exit 1; }
  done

  log "$arch: idle services (${idle_seconds} s window, memory at ${memory_seconds} s)"
  local -A pid server cpu0 srv0 cpu1 srv1 run0 rsv0 run1 rsv1
  for n in "${names[@]}"; do new_prefix "$arch-$n" "$sysdir"; done
  # The three of a build run at once, so that the machine's load is the same for each of them.
  for n in "${names[@]}"; do start_service "$arch-$n" "${svc[$n]}" "$dir/${file[$n]}"; done
  local started=$SECONDS
  for n in "${names[@]}"; do
    pid[$n]=$(host_pid "$arch-$n" "$dir/${file[$n]}") || {
      echo "$arch $n: no process found" >&2
      exit 1
    }
    server[$n]=$(cat "$work/$arch-$n.server")
  done
  sleep "$settle_seconds"
  for n in "${names[@]}"; do
    cpu0[$n]=$(cpu_us "${pid[$n]}") srv0[$n]=$(cpu_us "${server[$n]}")
    run0[$n]=$(run_us "${pid[$n]}") rsv0[$n]=$(run_us "${server[$n]}")
  done
  local t0 t1 w
  t0=$(date +%s.%N)
  sleep "$idle_seconds"
  for n in "${names[@]}"; do
    cpu1[$n]=$(cpu_us "${pid[$n]}") srv1[$n]=$(cpu_us "${server[$n]}")
    run1[$n]=$(run_us "${pid[$n]}") rsv1[$n]=$(run_us "${server[$n]}")
  done
  t1=$(date +%s.%N)
  w=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  window[$arch]=$w
  per_second() { awk -v a="$1" -v b="$2" -v w="$w" 'BEGIN { printf "%.2f", (b - a) / 1000 / w }'; }
  for n in "${names[@]}"; do
    own[$arch:$n]=$(per_second "${cpu0[$n]}" "${cpu1[$n]}")
    srv[$arch:$n]=$(per_second "${srv0[$n]}" "${srv1[$n]}")
    exact[$arch:$n]=$(per_second $((run0[$n] + rsv0[$n])) $((run1[$n] + rsv1[$n])))
  done
  local rest=$((memory_seconds - (SECONDS - started)))
  ((rest > 0)) && sleep "$rest"
  for n in "${names[@]}"; do
    hwm[$arch:$n]=$(status_kb "${pid[$n]}" VmHWM)
    rss[$arch:$n]=$(status_kb "${pid[$n]}" VmRSS)
    priv[$arch:$n]=$(private_kb "${pid[$n]}")
  done
  for n in "${names[@]}"; do end_prefix "$arch-$n"; done
}

if ((!sim_only)); then
  i386_setup >&2
  template=$(wine_template) || { echo "cannot boot the template Wine prefix" >&2; exit 1; }
  [[ $TARVEL_I386 == none || -n $(ls "$template/drive_c/windows/syswow64" 2>/dev/null) ]] || {
    echo "$template has no syswow64: the i686 build needs wine32 (see scripts/test.sh)" >&2
    exit 1
  }
  # One build after the other, not the six services at once: three idle pollers and their three
  # servers already take a good share of two cores, and doubling them would make each build's
  # figures those of a machine twice as busy with Wine's own polling. Within a build the service
  # and its references still run side by side, under the same load, which is what the
  # comparison against the poll floor needs; between the builds only the machine's other load
  # differs, and the uptime lines below show it.
  log "load before: $(uptime)"
  if [[ $TARVEL_I386 == none ]]; then
    log "x86: not measured: 32-bit programs cannot run here ($TARVEL_I386_WHY)"
  else
    measure_build x86
  fi
  measure_build x64
  log "load after: $(uptime)"
fi

# ---------------------------------------------------------------------------------------------
# The table. The bench program prints its rows in these same columns.
row() { printf '%-46s %-24s %-38s %s\n' "$@"; }
us() { awk -v v="$1" 'BEGIN { printf "%.1f us", v }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.2f ms/s", v }'; }
kib() { echo "$1 KiB"; }
size() { awk -v v="$(stat -c %s "$1")" 'BEGIN { printf "%.0f KiB", v / 1024 }'; }

echo
row "FIGURE" "MEASURED" "REFERENCE" "REFERENCE FIGURE"
cat "$work/sim.txt"

# build_rows ARCH TITLE: the rows of one Windows build, each figure beside its reference from the
# same build's set.
build_rows() {
  local a=$1
  if [[ $a == x86 && $TARVEL_I386 == none ]]; then
    row "--- $2: not measured" "" "" ""
    echo "32-bit programs cannot run here: $TARVEL_I386_WHY"
    return
  fi
  tick() { awk -v k="$1" '$1 == k { print $2 }' "$work/$a-tick.txt"; }
  row "--- $2" "" "" ""
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
  row "  its lock check, both locks on, CPU + server" "$(part keeplocked)" \
    "nothing to take: types, volume list" "once a second"
  row "Idle CPU, service process" "$(ms "${own[$a:service]}")" \
    "1 ms poll loop alone / wait only" "$(ms "${own[$a:poll]}") / $(ms "${own[$a:wait]}")"
  row "Idle CPU, its prefix's wineserver" "$(ms "${srv[$a:service]}")" \
    "1 ms poll loop alone / wait only" "$(ms "${srv[$a:poll]}") / $(ms "${srv[$a:wait]}")"
  total() { awk -v a="${own[$a:$1]}" -v b="${srv[$a:$1]}" 'BEGIN { print a + b }'; }
  row "Idle CPU, service and its wineserver" "$(ms "$(total service)")" \
    "1 ms poll loop alone / wait only" "$(ms "$(total poll)") / $(ms "$(total wait)")"
  over() {
    awk -v s="$1" -v p="$2" 'BEGIN { printf "%+.2f ms/s (%+.1f%%)", s - p, (s - p) / p * 100 }'
  }
  row "Idle CPU, service over the poll's floor" "$(over "$(total service)" "$(total poll)")" \
    "target" "within +10%"
  row "  the same from schedstat (ns)" "$(over "${exact[$a:service]}" "${exact[$a:poll]}")" \
    "poll loop alone, schedstat" "$(ms "${exact[$a:poll]}")"
  # What the excess should be: the tick's 50 sleeps and its own work, once a second.
  expected() {
    awk -v a="$(tick "$1"_cpu_us)" -v b="$(tick "$1"_server_us)" \
      'BEGIN { printf "%.2f", (a + b) / 1000 }'
  }
  row "  of which one tick's own work, per second" "$(ms "$(expected tick_own)")" \
    "one tick's 50 Sleep(1), per second" "$(ms "$(expected sleeps50)")"
  row "Peak resident (VmHWM) at ${memory_seconds} s" "$(kib "${hwm[$a:service]}")" \
    "poll loop alone / wait only" "$(kib "${hwm[$a:poll]}") / $(kib "${hwm[$a:wait]}")"
  row "Resident (VmRSS) at ${memory_seconds} s" "$(kib "${rss[$a:service]}")" \
    "poll loop alone / wait only" "$(kib "${rss[$a:poll]}") / $(kib "${rss[$a:wait]}")"
  row "Private (smaps) at ${memory_seconds} s" "$(kib "${priv[$a:service]}")" \
    "poll loop alone / wait only" "$(kib "${priv[$a:poll]}") / $(kib "${priv[$a:wait]}")"
}

if ((!sim_only)); then
  build_rows x86 "wine (WOW64), i686 shipped build"
  build_rows x64 "wine64, x86_64 build"
  row "--- both builds" "" "" ""
  for arch in x86 x64; do
    dir=${build_dir[$arch]}
    strip_arch=$([[ $arch == x86 ]] && echo i686 || echo x86_64)
    strip=$strip_arch-w64-mingw32-strip
    "$strip" -o "$work/stripped.exe" "$dir/tarvel-service.exe"
    "$strip" -o "$work/stripped-ref.exe" "$dir/WaitOnlyService.exe"
    row "tarvel-service.exe $strip_arch, built / stripped" \
      "$(size "$dir/tarvel-service.exe") / $(size "$work/stripped.exe")" \
      "WaitOnlyService.exe, same build" \
      "$(size "$dir/WaitOnlyService.exe") / $(size "$work/stripped-ref.exe")"
  done
  tick_txt() { awk -v k="$2" '$1 == k { print $2 }' "$work/$1-tick.txt" 2>/dev/null; }
  case $TARVEL_I386 in
    native) host="a 32-bit Wine process for the i686 build" ;;
    emulated) host="for the i686 build, qemu-i386 running the 32-bit Wine loader: its CPU and memory include the emulator's" ;;
    *) host="the i686 build not measured" ;;
  esac
  echo
  echo "32-bit programs: $TARVEL_I386 ($TARVEL_I386_WHY)."
  x86_window=${window[x86]:-0}
  echo "Idle windows ${x86_window%.*} s (i686, under WOW64) then ${window[x64]%.*} s (x86_64), one"
  echo "build's three services at a time, both locks on; CPU from /proc/PID/stat (utime+stime) of the process"
  echo "hosting each service ($host) and of its prefix's own"
  echo "wineserver; memory from /proc/PID/status and smaps_rollup of the hosting process."
  echo "Wine tick: $(tick_txt x64 ticks) ticks with sleeps counted instead of slept" \
    "($(tick_txt x86 sleeps_per_tick) / $(tick_txt x64 sleeps_per_tick) per tick, i686 / x86_64),"
  echo "GetThreadTimes and the server's /proc."
fi
