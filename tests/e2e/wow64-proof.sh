#!/usr/bin/env bash
# The shipped i686 service proven with one 32-bit program start, for machines whose 32-bit
# programs run under an emulator (tens of seconds to minutes per start): the i686 service runs as
# a 32-bit service under WOW64, driven by the x86_64 build's tarvelctl and probe, as a 64-bit
# administrator's tools drive a 32-bit service on 64-bit Windows. Shown: the x64 tool registers
# the i386 image, the service starts under Wine's Service Control Manager, reads its start-up
# policy and its tag from SysWOW64 (System32 holds decoys), answers control codes 128-131 and
# applies them to the volumes, handles an arrival sent by a 64-bit program, and stops with 255.
# The whole end-to-end suite (service-e2e.sh) runs where 32-bit programs run natively, and under
# the emulator with TARVEL_I686=full.
# Usage: wow64-proof.sh I686_BUILD_DIR X64_BUILD_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/wine-prefix.sh
. "$here/../wine/wine-prefix.sh"
i686_gate e2e.wow64-proof proof
peer=$(cd "${2:-/nonexistent}" 2>/dev/null && pwd) && [[ -f $peer/tarvelctl.exe && -f $peer/tarvel-e2e-probe.exe ]] ||
  { echo "FAIL setup: give the x86_64 build (tarvelctl.exe, tarvel-e2e-probe.exe) as X64_BUILD_DIR"; exit 1; }
[[ $(build_arch "$bin/tarvel-service.exe")$(build_arch "$peer/tarvelctl.exe") == i386x64 ]] ||
  { echo "FAIL setup: $bin must hold the i686 build and $peer the x86_64 one"; exit 1; }
scenario_tag="[i386 proof]"
wine_prefix_create
# TARVEL_E2E_KEEP=1 keeps the folder with the logs and the prefix for a look afterwards;
# TARVEL_E2E_TRACE adds Wine debug channels to services.exe's trace (for example +service).
if [[ -n ${TARVEL_E2E_KEEP:-} ]]; then
  trap 'WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k; echo "     kept $wine_tmp"' EXIT
fi
begin=$SECONDS
# Waits on the 32-bit service: a start takes minutes under the emulator, a debug line seconds.
start_limit=$(slow_for "$bin/tarvel-service.exe" 60) line_limit=$(slow_for "$bin/tarvel-service.exe" 3)

tarvel=$WINEPREFIX/drive_c/tarvel
sysdir=$WINEPREFIX/drive_c/windows/syswow64
otherdir=$WINEPREFIX/drive_c/windows/system32
dbwin=$wine_tmp/dbwin.log trace=$wine_tmp/services.trace out=$wine_tmp/out
policies='HKLM\SYSTEM\CurrentControlSet\Control\StorageDevicePolicies'
mkdir -p "$tarvel"
cp "$bin/tarvel-service.exe" "$peer/tarvelctl.exe" "$peer/tarvel-e2e-probe.exe" "$tarvel/"

# Every tool is the x86_64 one; the service is the only 32-bit program.
W() { timeout "$((start_limit + 60))" "$WINE64" "$@"; }
W64() { W "$@"; }
ctl() { windows 'C:\tarvel\tarvelctl.exe' "$@"; }
probe() { windows 'C:\tarvel\tarvel-e2e-probe.exe' "$@"; }
line_wait=$line_limit
# shellcheck source=e2e-lib.sh
. "$here/e2e-lib.sh"

# The monitor, the prefix's first program, starts services.exe, which passes its WINEDEBUG and
# stderr on to the service (see service-e2e.sh).
WINEDEBUG=-all,+pid,+debugstr,+file,err+service${TARVEL_E2E_TRACE:+,$TARVEL_E2E_TRACE} timeout $((start_limit * 4)) "$WINE64" \
  'C:\tarvel\tarvelctl.exe' log --local >"$dbwin" 2>"$trace" &
monitor=$!
wait_for 20 grep -qs 'watching debug output' "$trace" ||
  { echo "FAIL setup: tarvelctl log"; tail "$trace"; exit 1; }
for d in E:2 F:5; do
  mkdir -p "$wine_tmp/vol-${d%%:*}"
  probe drive "${d%%:*}" "${d##*:}" "$wine_tmp/vol-${d%%:*}" >>"$out.drives" ||
    { echo "FAIL setup: drive ${d%%:*} of type ${d##*:}"; cat "$out.drives"; exit 1; }
done
# Decoys in System32, where a 64-bit service would look: both locks on, tag 1.
cp "$here/../wine/data/DevState-on-on.ini" "$otherdir/DevState.ini"
printf '[State]\r\nkey=1\r\n' >"$otherdir/ReadTag.ini"
echo "     i386 service under WOW64 ($TARVEL_I386: $TARVEL_I386_WHY), x64 tarvelctl and probe; prefix ready in $((SECONDS - begin)) s: drives E: removable, F: CD-ROM"

# --- 1
scenario "the x64 tarvelctl registers the i386 service and writes its policy into SysWOW64"
ctl policy write --removable on --optical off -o 'C:\windows\syswow64\DevState.ini' >"$out" 2>&1
check "policy write DevState.ini (removable on, optical off) in syswow64" test -s "$sysdir/DevState.ini"
ctl_ok "install exits 0" install
check "registers the i386 image" grep -qF 'Installed Tarvel Service: "C:\tarvel\tarvel-service.exe" (i386)' "$out"
check "secures DevState.ini in SysWOW64, where the i386 service reads it" \
  grep -qiE '^Files: secured DevState\.ini in C:\\windows\\syswow64: ' "$out"
done_scenario
stop_unless_passed "the service is not installed"

# --- 2
scenario "start: a 32-bit service under WOW64; its start-up policy read from SysWOW64, not System32"
m=$(mark)
t=$(trace_mark)
from=$SECONDS
ctl_ok "start exits 0" start --timeout "$start_limit"
pid=$(sed -n 's/^  process id: *//p' "$out")
check "a process id" test -n "$pid"
wait_for "$start_limit" line_now "$m" "$pid" '(VexService) Success create console window'
check "startup order" in_order "$m" "$pid" '(VexService) Success registry encryption client!' \
  '(VexService) Start ServiceExecution...' '(VexService) before call settimer' \
  '(VexService) Success create console window'
check "DevState.ini found" no_line "$m" "$pid" '(VexService) Input path is not exist'
ctl status >"$out" 2>&1
check "status RUNNING" grep -qx '  state:             RUNNING' "$out"
check "accepted controls: SHUTDOWN only" grep -qx '  accepted controls: SHUTDOWN' "$out"
check "SysWOW64's removable lock: E: taken at start-up" vol_has "$t" "$pid" 'E: 90020' 'E: 90018'
check "System32's optical lock not followed: F: left alone" not vol_has "$t" "$pid" 'F: '
check "System32's tag (key 1) not followed" not wait_for 2 reg_value "$policies" WriteProtect 0x1
note "started in $((SECONDS - from)) s"
done_scenario
[[ -n $pid ]] || { echo "     stopped: the service did not start"; finish; }

# --- 3
scenario "WriteProtect follows SysWOW64\\ReadTag.ini, which the x64 tool writes for an i386 service"
ctl write-protect 1 >"$out" 2>&1; check "write-protect 1 exits 0" test $? -eq 0
check "ReadTag.ini in syswow64" cmp -s "$sysdir/ReadTag.ini" <(printf '[State]\r\nkey=1\r\n')
check "0 -> 1" wait_for "$((line_limit + 2))" reg_value "$policies" WriteProtect 0x1
ctl write-protect 0 >/dev/null 2>&1
check "1 -> 0" wait_for "$((line_limit + 2))" reg_value "$policies" WriteProtect 0x0
done_scenario

# --- 4
scenario "control codes 128-131 from a 64-bit program: answered, and applied to the volumes"
for code in 129 130 131 128; do
  t=$(trace_mark)
  probe control "$code" >"$out" 2>&1
  check "code $code answered" grep -qx "control $code: state 4 accepted 0x4 checkpoint 0 waithint 0" "$out"
  case $code in
    128) check "128: E: dismounted and locked" wait_for "$line_limit" vol_has "$t" "$pid" 'E: 90020' 'E: 90018' ;;
    129) check "129: E: unlocked" wait_for "$line_limit" vol_has "$t" "$pid" 'E: 9001c' ;;
    130) check "130: F: dismounted and locked" wait_for "$line_limit" vol_has "$t" "$pid" 'F: 90020' 'F: 90018' ;;
    131) check "131: F: unlocked" wait_for "$line_limit" vol_has "$t" "$pid" 'F: 9001c' ;;
  esac
done
done_scenario

# --- 5
scenario "WM_DEVICECHANGE from a 64-bit sender reaches the 32-bit window procedure's guard"
m=$(mark)
probe device arrival E >"$out" 2>&1
check "arrival answered TRUE" grep -q 'returned 1$' "$out"
check "arrival lines" in_order "$m" "$pid" '(VexService) Get Device change in WndProc' \
  '(VexService) Device arrival' '(VexService) Handle device arrival finish'
note "broadcast from an x64 sender"
done_scenario

# --- 6
scenario "stop with code 255: STOPPED, the process gone"
t=$(trace_mark)
ctl_ok "stop exits 0" stop --timeout "$start_limit"
check "tarvelctl saw the process end" grep -q "process $pid has ended" "$out"
check "Finish Main" trace_has "$t" "$pid" '(VexService) Finish Main'
ctl status >"$out" 2>&1; check "STOPPED" grep -qx '  state:             STOPPED' "$out"
done_scenario

kill "$monitor" 2>/dev/null
echo "     i386 proof: $((SECONDS - begin)) s"
finish
