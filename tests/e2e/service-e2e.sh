#!/usr/bin/env bash
# The real service and tarvelctl end to end under Wine, in a private prefix that is removed
# afterwards. One line per scenario; the exit status is the number of failed scenarios (capped).
# Usage: service-e2e.sh BUILD_DIR [PEER_BUILD_DIR]
#   BUILD_DIR holds tarvel-service.exe, tarvelctl.exe and tarvel-e2e-probe.exe of one build: the
#   shipped i686 build runs under `wine` as a 32-bit service on 64-bit Windows (WOW64), the
#   x86_64 build under `wine64`. What differs by bitness comes from the build under test: the
#   service's directory (SysWOW64 or System32, the other one holding decoys that must be
#   ignored), the machine type tarvelctl reports, the directory write-protect picks for an
#   image of the other machine type. PEER_BUILD_DIR, the other bitness's build, sends one
#   device broadcast from a program of the other bitness; the i686 run needs it (a 64-bit
#   sender reaching the 32-bit window procedure).
#
# What the suite reads:
# - every debug line of the service, narrow and wide, through `tarvelctl log --local` (the
#   DBWIN_BUFFER protocol; Wine runs services in the user's session, so the session's buffer is
#   the one they write to, and Wine's debugstr channel shows narrow lines only);
# - the narrow lines and Wine's +file trace (with +pid) from services.exe's stderr: the service
#   inherits both from the first Wine program of the prefix, run here with that WINEDEBUG. The
#   trace names each volume path the service opens and each control sent on the handle.
set -uo pipefail
bin=$(cd "$1" && pwd)
peer=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/wine-prefix.sh
. "$here/../wine/wine-prefix.sh"
launcher=$(wine_for "$bin/tarvel-service.exe") || exit 1
arch=$(build_arch "$bin/tarvel-service.exe")
[[ $arch == i386 ]] && i686_gate e2e.service full
# Time limits for the build's programs: twenty times longer for i686 ones under the emulator.
slow() { slow_for "$bin/tarvel-service.exe" "$1"; }
if [[ $arch == i386 ]]; then
  sysdir_name=syswow64 other_name=system32 other_arch=x64 build_kind="i386 under WOW64"
else
  sysdir_name=system32 other_name=syswow64 other_arch=i386 build_kind="x64"
fi
# Every line of the suite names the build it ran on.
scenario_tag="[$arch]"
wine_prefix_create
# TARVEL_E2E_KEEP=1 keeps the folder with the logs and the prefix for a look afterwards.
if [[ -n ${TARVEL_E2E_KEEP:-} ]]; then
  trap 'WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k; echo "     kept $wine_tmp"' EXIT
fi
begin=$SECONDS

tarvel=$WINEPREFIX/drive_c/tarvel
# The service's directory, as Linux and as its programs see it, and the other one.
sysdir=$WINEPREFIX/drive_c/windows/$sysdir_name
sysdir_win="C:\\windows\\$sysdir_name"
otherdir=$WINEPREFIX/drive_c/windows/$other_name
dbwin=$wine_tmp/dbwin.log
trace=$wine_tmp/services.trace
out=$wine_tmp/out
policies='HKLM\SYSTEM\CurrentControlSet\Control\StorageDevicePolicies'
mkdir -p "$tarvel"
cp "$bin/tarvel-service.exe" "$bin/tarvelctl.exe" "$bin/tarvel-e2e-probe.exe" "$tarvel/"

W() { timeout "$(slow 60)" "$launcher" "$@"; }
# Wine's own 64-bit tools (reg), for what a 64-bit process sees.
W64() { timeout 60 "$WINE64" "$@"; }
ctl() {
  # Under the emulator the tool's own 30 s wait for a service's start or stop is too short.
  if [[ $(slow 1) != 1 && ${1:-} =~ ^(start|stop|uninstall)$ ]]; then set -- "$@" --timeout "$(slow 30)"; fi
  windows 'C:\tarvel\tarvelctl.exe' "$@"
}
probe() { windows 'C:\tarvel\tarvel-e2e-probe.exe' "$@"; }
line_wait=$(slow 3)
# Wine's reg, run for every wait on the registry, is the 64-bit one where a 32-bit program takes
# minutes to start (HKLM\SYSTEM is one for both).
[[ $(slow 1) == 1 ]] || reg_runner=W64
# shellcheck source=e2e-lib.sh
. "$here/e2e-lib.sh"

# --- The prefix. No persistent server: the debug-output monitor, started first, is the client
# that keeps it up, so that ending it at the end shuts the prefix down as Windows shuts down.
# Being the first Wine program, it starts services.exe, which passes its WINEDEBUG and stderr on
# to the services.
WINEDEBUG=-all,+pid,+debugstr,+file,err+service timeout "$(slow 290)" "$launcher" 'C:\tarvel\tarvelctl.exe' log --local \
  >"$dbwin" 2>"$trace" &
monitor=$!
wait_for "$(slow 20)" grep -qs 'watching debug output' "$trace" ||
  { echo "FAIL setup: tarvelctl log"; tail "$trace"; exit 1; }
for d in E:2 F:5 G:4 H:6; do
  mkdir -p "$wine_tmp/vol-${d%%:*}"
  probe drive "${d%%:*}" "${d##*:}" "$wine_tmp/vol-${d%%:*}" >>"$out.drives" ||
    { echo "FAIL setup: drive ${d%%:*} of type ${d##*:}"; cat "$out.drives"; exit 1; }
done
# A peer probe of the other bitness, for one broadcast across the WOW64 boundary. The x86_64
# run's peer is the i686 probe (under the emulator where the kernel does not run it); where
# 32-bit programs cannot run at all, the x86_64 probe sends that broadcast itself, and the
# scenario says so.
peer_probe= peer_arch=$other_arch peer_why=
if [[ -n $peer && -f $peer/tarvel-e2e-probe.exe ]]; then
  peer_probe='C:\tarvel\peer\tarvel-e2e-probe.exe'
  mkdir -p "$tarvel/peer"
  cp "$peer/tarvel-e2e-probe.exe" "$tarvel/peer/"
  if [[ $(build_arch "$peer/tarvel-e2e-probe.exe") == i386 ]]; then
    i386_mode
    [[ $TARVEL_I386 != none ]] || peer_why="32-bit programs cannot run here"
    if [[ -n $peer_why ]]; then
      cp "$bin/tarvel-e2e-probe.exe" "$tarvel/peer/"
      peer_arch=$arch
    fi
  fi
fi
peer_send() {
  timeout "$(slow_for "$tarvel/peer/tarvel-e2e-probe.exe" 60)" \
    "$(wine_for "$tarvel/peer/tarvel-e2e-probe.exe")" "$peer_probe" "$@" 2>&1 | tr -d '\r'
}
# Decoys in the directory that is not the service's: a policy with both locks on and a tag of 1.
cp "$here/../wine/data/DevState-on-on.ini" "$otherdir/DevState.ini"
printf '[State]\r\nkey=1\r\n' >"$otherdir/ReadTag.ini"
echo "     $build_kind build ($bin), its files in $sysdir_name; prefix ready in $((SECONDS - begin)) s: drives E: removable, F: CD-ROM, G: remote, H: RAM disk"

# --- 1
scenario "started outside the Service Control Manager: the registration line, exit code 0"
WINEDEBUG=-all,+debugstr W 'C:\tarvel\tarvel-service.exe' >/dev/null 2>"$out.direct"
rc=$?
check "exit code 0 (got $rc)" test "$rc" -eq 0
check "the line that asks for registration" grep -qF \
  'OutputDebugStringA "\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first."' \
  "$out.direct"
done_scenario

# --- 2
scenario "tarvelctl before install: service missing (3), bad arguments (CLI11's codes)"
ctl status >"$out" 2>&1; check "status exits 3" test $? -eq 3
check "with Windows' text for 1060" grep -q '(1060); `tarvelctl install` installs it' "$out"
ctl removable on >"$out" 2>&1; check "removable on exits 3" test $? -eq 3
ctl write-protect 1 >"$out" 2>&1; check "write-protect without --dir exits 3" test $? -eq 3
ctl write-protect 12 >"$out" 2>&1; check "write-protect 12 is refused" test $? -ge 100
ctl optical maybe >"$out" 2>&1; check "optical maybe is refused" test $? -ge 100
ctl stop --help >"$out" 2>&1; check "stop --help" grep -q 'code 255' "$out"
done_scenario

# --- 3
scenario "install: own process, automatic start, recovery and the security descriptor"
# Wine stores no file DACLs (GetNamedSecurityInfoW returns its default), so the DACL is shown as
# the calls made with it: +security names the SDDL converted, +file the create and the rename.
trusted='D:P(A;;FA;;;SY)(A;;FA;;;BA)'
WINEDEBUG=-all,+security,+file ctl policy write --removable off --optical off \
  -o "$sysdir_win\\DevState.ini" >"$out.pw" 2>&1
check "policy write DevState.ini (both off) in $sysdir_name" test -s "$sysdir/DevState.ini"
check "policy write converts the SDDL $trusted" grep -qF \
  "ConvertStringSecurityDescriptorToSecurityDescriptorW L\"$trusted\", 1," "$out.pw"
check "creates DevState.ini.new afresh (FILE_CREATE) with a descriptor" grep -qE \
  'NtCreateFile .*name=L"[^"]*\\DevState\.ini\.new" .* sec=0x[0-9a-f]+ .* disp=2 ' "$out.pw"
check "renames it over DevState.ini (MOVEFILE_REPLACE_EXISTING | WRITE_THROUGH)" grep -qE \
  'MoveFileWithProgressW \(L"[^"]*\\DevState\.ini\.new",L"[^"]*\\DevState\.ini",[^,]*,[^,]*,0009\)' \
  "$out.pw"
check "and leaves no DevState.ini.new" not test -e "$sysdir/DevState.ini.new"
check "prints the DACL" grep -qF "  DACL $trusted: only SYSTEM and Administrators" "$out.pw"
WINEDEBUG=-all,fixme+service ctl install >"$out.install"
check "install exits 0" test $? -eq 0
check "registers the quoted executable beside the tool" grep -qF \
  'Installed Tarvel Service: "C:\tarvel\tarvel-service.exe" ('"$arch"')' "$out.install"
sddl=$(sed -n 's/^Security: //p' "$out.install")
check "prints the descriptor it sets" test -n "$sddl"
check "calls SetServiceObjectSecurity with DACL_SECURITY_INFORMATION" \
  grep -qE 'fixme:service:SetServiceObjectSecurity [0-9A-F]+ 4 ' "$out.install"
check "restart on failure set" grep -q '^Recovery: restart after 5 s' "$out.install"
key='HKLM\System\CurrentControlSet\Services\Tarvel Service'
check "Start = 2 (automatic)" reg_value "$key" Start 0x2
check "Type = 0x10 (own process)" reg_value "$key" Type 0x10
ctl install >"$out" 2>&1; check "a second install exits 1" test $? -eq 1
check "and names --configure-only" grep -q -- '--configure-only' "$out"
# The folder comes from the tool: the one the registered executable's machine type reads.
files_dir=$(sed -n "s/^Files: secured DevState\.ini in \(.*\): DACL $trusted (SYSTEM and Administrators only)$/\1/p" \
  "$out.install")
check "install secures DevState.ini where the service reads it ($sysdir_name)" \
  test "${files_dir,,}" = "${sysdir_win,,}"
WINEDEBUG=-all,+security,+advapi ctl install --configure-only >"$out.co" 2>&1
check "install --configure-only exits 0" test $? -eq 0
check "--configure-only secures it again" grep -qF \
  "Files: secured DevState.ini in $files_dir: DACL $trusted" "$out.co"
check "from the SDDL $trusted" grep -qF \
  "ConvertStringSecurityDescriptorToSecurityDescriptorW L\"$trusted\", 1," "$out.co"
check "with SetNamedSecurityInfoW, SE_FILE_OBJECT, PROTECTED_DACL | DACL_SECURITY_INFORMATION" \
  grep -qF "SetNamedSecurityInfoW L\"${files_dir//\\/\\\\}\\\\DevState.ini\" 1 -2147483644" "$out.co"
# Wine's default DACL lets Everyone read, so status warns about the file.
ctl status >"$out.st" 2>&1
check "status warns that Everyone may open DevState.ini" grep -qF \
  "warning: $files_dir\\DevState.ini can be opened by" "$out.st"
check "naming Everyone (read, execute)" grep -qE \
  'DevState\.ini can be opened by .*Everyone \(read, execute\)' "$out.st"
done_scenario

# --- 4
scenario "security descriptor: user-defined control, start and stop for SYSTEM and Administrators only"
probe security >"$out.sec" 2>&1
if grep -q '^entries: 0$' "$out.sec"; then
  # Wine 8: SetServiceObjectSecurity is a stub and QueryServiceObjectSecurity returns an empty
  # DACL whatever was set; the descriptor tarvelctl passed is checked through advapi32 instead.
  note "Wine reads back an empty DACL (stubs); checked the descriptor tarvelctl set"
  probe sddl "$sddl" >"$out.sec" 2>&1
fi
check "user-defined control: SY BA" grep -qx 'user-defined control: SY BA' "$out.sec"
check "start: SY BA" grep -qx 'start: SY BA' "$out.sec"
check "stop: SY BA" grep -qx 'stop: SY BA' "$out.sec"
check "others may query" grep -qx 'query status: SY BA AU' "$out.sec"
done_scenario

# --- 5
scenario "start: the start-up lines in order; RUNNING with shutdown as the only accepted control"
m=$(mark)
trace0=$(trace_mark)
ctl_ok "start exits 0" start
pid=$(sed -n 's/^  process id: *//p' "$out")
check "a process id" test -n "$pid"
wait_for "$(slow 10)" line_now "$m" "$pid" '(VexService) Success create console window'
check "startup order" in_order "$m" "$pid" '(VexService) Success registry encryption client!' \
  '(VexService) Start ServiceExecution...' '(VexService) before call settimer' \
  '(VexService) Success create console window'
check "Start Wait after the policy load" in_order "$m" "$pid" \
  '(VexService) Success registry encryption client!' '(VexService) Start Wait'
check "DevState.ini found" no_line "$m" "$pid" '(VexService) Input path is not exist'
check "the $other_name decoy tag (key 1) is not followed" \
  not wait_for 2 reg_value "$policies" WriteProtect 0x1
ctl status >"$out" 2>&1
check "status RUNNING" grep -qx '  state:             RUNNING' "$out"
check "accepted controls: SHUTDOWN only" grep -qx '  accepted controls: SHUTDOWN' "$out"
check "check point 0, wait hint 0" grep -qx '  wait hint:         0 ms' "$out"
W net stop "Tarvel Service" >/dev/null 2>&1; check "net stop is refused" test $? -ne 0
probe control 1 >"$out" 2>&1; check "code 1 refused (1052: not accepted)" grep -q 'error 1052' "$out"
probe control 5 >"$out" 2>&1; check "code 5 refused to programs (87), as on Windows" grep -q 'error 87' "$out"
ctl status >"$out" 2>&1; check "still RUNNING" grep -qx '  state:             RUNNING' "$out"
done_scenario

# --- 6
scenario "PolicyFile with both locks off (the $other_name decoy has both on): nothing taken, WM_DEVICECHANGE not passed to the guard"
check "start-up pass takes no volume" not vol_has "$trace0" "$pid" '9001[8]'
check "start-up pass opens the RAM disk for the ATA probe only" vol_has "$trace0" "$pid" 'H: 7c088'
check "start-up pass leaves E: and F: alone" not vol_has "$trace0" "$pid" '[EF]: '
m=$(mark)
probe device arrival E >"$out" 2>&1; check "arrival sent" test $? -eq 0
check "the window procedure ran" has_line "$m" "$pid" 'WndProc WndProc WndProc WndProc'
check "no Get Device change line" no_line "$m" "$pid" '(VexService) Get Device change in WndProc'
check "no Device arrival line" no_line "$m" "$pid" '(VexService) Device arrival'
done_scenario

# --- 7
scenario "control codes 128-131 and unknown codes: each answered with a status report"
for code in 128 129 130 131 132 200; do
  probe control "$code" >"$out" 2>&1
  check "code $code" grep -qx "control $code: state 4 accepted 0x4 checkpoint 0 waithint 0" "$out"
done
for cmd in "removable on" "removable off" "optical on" "optical off"; do
  read -ra words <<<"$cmd"
  ctl "${words[@]}" >"$out" 2>&1
  check "tarvelctl $cmd" grep -qx '  state:             RUNNING' "$out"
done
done_scenario

# --- 8
scenario "lock toggles reach the volumes (Wine accepts the locks without enforcing them)"
t=$(trace_mark)
ctl removable on >/dev/null 2>&1
check "128: E: dismounted and locked" vol_has "$t" "$pid" 'E: 90020' 'E: 90018'
check "128: RAM disk too" vol_has "$t" "$pid" 'H: 90020' 'H: 90018'
probe bus C >"$out" 2>&1
check "Wine reports C: on BusTypeScsi" grep -q '^bus C: type 1,' "$out"
check "128: C: (no ATA answer, SCSI bus) probed and asked for its bus" \
  vol_has "$t" "$pid" 'C: 7c088' 'C: 2d1400'
check "128: C: neither dismounted nor locked" not vol_has "$t" "$pid" 'C: 900(18|20)'
check "128: CD-ROM and network drive untouched" not vol_has "$t" "$pid" '[FG]: '
t=$(trace_mark)
ctl optical on >/dev/null 2>&1
check "130: F: dismounted and locked" vol_has "$t" "$pid" 'F: 90020' 'F: 90018'
t=$(trace_mark)
ctl optical off >/dev/null 2>&1
check "131: F: unlocked" vol_has "$t" "$pid" 'F: 9001c'
t=$(trace_mark)
ctl removable off >/dev/null 2>&1
check "129: E: unlocked" vol_has "$t" "$pid" 'E: 9001c'
check "129: C: not given back: it was never taken" not vol_has "$t" "$pid" 'C: 9001c'
check "G: (network) never opened" not vol_has "$trace0" "$pid" 'G: '
done_scenario

# --- 9
scenario "WM_DEVICECHANGE reaches the window procedure's guard while a lock is on, not while both are off"
ctl removable on >/dev/null 2>&1
m=$(mark)
probe device arrival E >"$out" 2>&1
check "arrival answered TRUE" grep -q 'returned 1$' "$out"
check "Get Device change in WndProc" has_line "$m" "$pid" '(VexService) Get Device change in WndProc'
check "arrival lines" in_order "$m" "$pid" '(VexService) Get Device change in WndProc' \
  '(VexService) Device arrival' '(VexService) Handle device arrival finish'
m=$(mark)
probe device remove E >"$out" 2>&1
check "remove-complete line" has_line "$m" "$pid" '(VexService) Device remove complete'
ctl removable off >/dev/null 2>&1
m=$(mark)
probe device arrival E >"$out" 2>&1
check "both off: the window procedure ran" has_line "$m" "$pid" 'WndProc WndProc WndProc WndProc'
check "both off: not passed on" no_line "$m" "$pid" '(VexService) Get Device change in WndProc'
if [[ -n $peer_probe ]]; then
  # A program of the other bitness sends the broadcast: Wine converts it across WOW64.
  ctl removable on >/dev/null 2>&1
  m=$(mark)
  peer_send device arrival E >"$out"
  check "a $peer_arch sender's arrival answered TRUE" grep -q 'returned 1$' "$out"
  check "and handled by the $arch window procedure" in_order "$m" "$pid" \
    '(VexService) Get Device change in WndProc' '(VexService) Device arrival' \
    '(VexService) Handle device arrival finish'
  ctl removable off >/dev/null 2>&1
  note "broadcast from an $peer_arch sender${peer_why:+ (not $other_arch: $peer_why)}"
elif [[ $arch == i386 ]]; then
  check "a 64-bit sender (give the x86_64 build as PEER_BUILD_DIR)" false
fi
done_scenario

# --- 10
scenario "stop with code 255: the stop lines, STOPPED, the process gone"
t=$(trace_mark)
ctl_ok "stop exits 0" stop
check "over the whole run, C: never dismounted nor locked" not vol_has "$trace0" "$pid" 'C: 900(18|20)'
check "while E: was, by the toggles and the arrivals" vol_has "$trace0" "$pid" 'E: 90020' 'E: 90018'
check "tarvelctl saw the process end" grep -q "process $pid has ended" "$out"
probe gone "$pid" 5 >"$out" 2>&1; check "process $pid gone" test $? -eq 0
# Under the emulator the line has once come after tarvelctl saw the process end.
check "Finish Main" wait_for "$line_wait" trace_has "$t" "$pid" '(VexService) Finish Main'
ctl status >"$out" 2>&1; check "STOPPED" grep -qx '  state:             STOPPED' "$out"
done_scenario

# --- 11
scenario "DevState.ini missing, SysSecurity.ini present (removable on): the fallback sets the lock"
rm -f "$sysdir/DevState.ini"
ctl policy write --removable on --optical off -o "$sysdir_win\\SysSecurity.ini" >/dev/null 2>&1
m=$(mark)
t=$(trace_mark)
ctl_ok "start exits 0" start
pid=$(sed -n 's/^  process id: *//p' "$out")
wait_for "$(slow 10)" line_now "$m" "$pid" '(VexService) Success create console window'
check "DevState.ini reported missing, once" test "$(count_line "$m" "$pid" '(VexService) Input path is not exist')" = 1
W reg query 'HKLM\System\CurrentControlSet\Control\Class\{EEC5AD98-8080-425F-922A-DABF3DE3F69A}' >/dev/null 2>&1
check "no WPD class in the prefix (Wine cannot switch devices)" test $? -ne 0
check "decrypted: E: taken at start-up" vol_has "$t" "$pid" 'E: 90020' 'E: 90018'
check "C: left alone at start-up" not vol_has "$t" "$pid" 'C: 900(18|20)'
check "optical lock stays off" not vol_has "$t" "$pid" 'F: '
m=$(mark)
probe device arrival E >"$out" 2>&1
check "arrival passed to the guard" has_line "$m" "$pid" '(VexService) Get Device change in WndProc'
probe device arrival C >"$out" 2>&1
probe device remove C >"$out" 2>&1
check "a removal rebuilds the locks" has_line "$m" "$pid" '(VexService) Device remove complete'
check "an arrival and a removal of C: leave it alone" not vol_has "$t" "$pid" 'C: 900(18|20)'
done_scenario

# --- 12
scenario "WriteProtect follows ReadTag.ini within two seconds, and is restored after reg add"
follow() {  # follow VALUE: wait until the registry holds it; prints the time taken
  local from=$EPOCHREALTIME
  wait_for "$(slow 2)" reg_value "$policies" WriteProtect "0x$1" || return 1
  elapsed+=" $(awk -v a="$from" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')s"
}
elapsed=
ctl write-protect 1 >"$out" 2>&1; check "write-protect 1 exits 0" test $? -eq 0
check "ReadTag.ini in $sysdir_name ($arch service), ANSI" cmp -s "$sysdir/ReadTag.ini" <(printf '[State]\r\nkey=1\r\n')
check "0 -> 1" follow 1
check "in the shared HKLM\\SYSTEM: a 64-bit reg reads 0x1" reg_value64 "$policies" WriteProtect 0x1
ctl write-protect 0 >/dev/null 2>&1; check "1 -> 0" follow 0
ctl write-protect 1 >/dev/null 2>&1; check "0 -> 1 again" follow 1
W reg add "$policies" /v WriteProtect /t REG_DWORD /d 0 /f >/dev/null 2>&1
check "reg add 0 is undone" follow 1
ctl write-protect 0 >/dev/null 2>&1; check "back to 0" follow 0
note "took$elapsed"
done_scenario

# --- 13
scenario "check: running (locks it cannot see: cannot tell), stopped (drift), WriteProtect by hand (drift), in each tool's format; repair starts it again"
# check_format FORMAT EXIT FIRST_LINE: check --format FORMAT exits EXIT and its first line matches
# the extended regular expression FIRST_LINE (empty: nothing printed); its standard output in
# $out.fmt, its standard error apart in $out.fmt.err.
matches() { [[ $1 =~ ^($2)$ ]]; }
check_format() {
  local rc first
  W 'C:\tarvel\tarvelctl.exe' check --format "$1" 2>"$out.fmt.err" | tr -d '\r' >"$out.fmt"
  rc=${PIPESTATUS[0]}
  first=$(head -n1 "$out.fmt")
  check "--format $1: exit $2 (got $rc)" test "$rc" -eq "$2"
  check "--format $1: first line \"$3\" (got \"$first\")" matches "$first" "$3"
}
ctl check >"$out.check" 2>&1; rc=$?
cp "$out.check" "$wine_tmp/check-running.txt"
check "running: exit 2 (got $rc)" test "$rc" -eq 2
check "verdict: cannot tell" grep -qx 'Tarvel Service check: cannot tell (exit 2)' "$out.check"
# Wine 8 answers QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS) with 124 and returns an
# empty DACL. Its C: reports a SCSI bus (internal); its Z: (the Unix root) refuses the open, so
# its bus query fails and the removable lock covers it, and Wine's refusal is no lock.
check "exactly what cannot be told" grep -qx \
  '  cannot tell: service.recovery service.security policy.dacl volume.E volume.H volume.Z' "$out.check"
check "C: internal: on an internal bus" grep -qE \
  '^  ok +volume.C: C: a fixed disk that does not answer the ATA probe, on an internal bus \(type 1\): never locked$' \
  "$out.check"
check "recovery: Wine's error for the query" grep -qE \
  '^  cannot tell +service.recovery: cannot read the recovery options: .* \(124\)$' "$out.check"
check "running, with its process id" grep -qE "^  ok +service.running: running, process $pid\$" "$out.check"
check "E: needs the lock, which Wine does not show" grep -qF \
  'volume.E: E: a removable drive, to be held locked and dismounted (removable lock on); cannot see the lock: an open succeeds, and this system (Wine) accepts volume locks without keeping other opens out' \
  "$out.check"
check "F: (optical lock off) opens, as required" grep -qE '^  ok +volume.F: .*to be left open \(optical lock off\); not locked: an open succeeds$' "$out.check"
check "G: (network) not the service's" grep -qE '^  ok +volume.G: G: a network drive' "$out.check"
check "the descriptor: empty DACL read back, not claimed" grep -qE \
  '^  cannot tell +service.security: the security descriptor cannot be read back' "$out.check"
check "the fallback file, decrypted" grep -qE '^  ok +policy.file: the service reads .*SysSecurity.ini at start$' "$out.check"
# Wine returns its default descriptor for every file: check says so instead of a drift.
check "the policy file's DACL: Wine keeps none, not claimed" grep -qE \
  '^  cannot tell +policy.dacl: Wine does not keep file DACLs: it returns "[^"]*" whatever was set, so who may open .*SysSecurity.ini is not known$' \
  "$out.check"
check "start-up flags from the file" grep -qF 'State "truefalse": start-up flags removable on, optical off' "$out.check"
check "write protection agrees" grep -qE '^  ok +writeProtection: agree: the tag asks for 0, WriteProtect is 0$' "$out.check"
check "no WPD class" grep -qE '^  ok +portableDevices: no "WPD" setup class' "$out.check"
check "nothing drifts" not grep -qE '^  drift ' "$out.check"
ctl check --json >"$out.json" 2>&1; rc=$?
check "--json: exit 2" test "$rc" -eq 2
check "--json: the verdict" grep -qF '"verdict": "cannot tell",' "$out.json"
check "--json: the policy file's openers not claimed" grep -qF '"othersCanOpen": null' "$out.json"
check "--json: E: lock not visible" grep -qF '"observed": "lock not visible",' "$out.json"
check "--json: one object" test "$(head -c1 "$out.json")$(tail -c2 "$out.json" | head -c1)" = '{}'
unseen='service.recovery service.security policy.dacl volume.E volume.H volume.Z'
check_format intune 1 "cannot tell: $unseen"
check_format configmgr 0 "Unknown: $unseen"
check "configmgr: nothing on standard error" not test -s "$out.fmt.err"
check_format intune-app 0 "Tarvel Service detected: running, process $pid; C:.tarvel.tarvel-service.exe .*"
check "intune-app: one line on standard output, nothing on standard error" \
  test "$(wc -l <"$out.fmt") $(wc -c <"$out.fmt.err")" = "1 0"
grep -E '^ +device: ' "$out.check" | sed -E 's/^ +device: //' | sort | uniq -c |
  sed -E 's/^ *([0-9]+) (.*)/\2 (x\1)/' | paste -sd ';' >"$out.devices"
note "devices as Wine reports them: $(cat "$out.devices")"
ctl stop >/dev/null 2>&1
ctl check >"$out.check" 2>&1; rc=$?
cp "$out.check" "$wine_tmp/check-stopped.txt"
check "stopped: exit 1 (got $rc)" test "$rc" -eq 1
check "verdict: drift" grep -qx 'Tarvel Service check: drift (exit 1)' "$out.check"
check "names the service and the volumes it no longer holds" grep -qx \
  '  drifting: service.running volume.E volume.H' "$out.check"
check "E: not held by a service that is not running" grep -qF \
  'E: a removable drive, to be held locked and dismounted (removable lock on); not locked: the service is not running, and an open succeeds' \
  "$out.check"
check_format intune 1 "drift: service.running volume.E volume.H"
check_format configmgr 0 "NonCompliant: service.running volume.E volume.H"
check_format intune-app 1 ""
W reg add "$policies" /v WriteProtect /t REG_DWORD /d 1 /f >/dev/null 2>&1
ctl check >"$out.check" 2>&1; rc=$?
cp "$out.check" "$wine_tmp/check-writeprotect.txt"
check "WriteProtect by hand: exit 1 (got $rc)" test "$rc" -eq 1
check "names writeProtection" grep -qx \
  '  drifting: service.running volume.E volume.H writeProtection' "$out.check"
check "the evidence" grep -qE '^  drift +writeProtection: disagree: the tag asks for 0, WriteProtect is 1$' "$out.check"
m=$(mark)
ctl repair >"$out.repair" 2>&1; rc=$?
check "repair: exit 2, as check on the running service (got $rc)" test "$rc" -eq 2
check "repair started the service" grep -qx 'Tarvel Service is running.' "$out.repair"
check "repair applied the recovery options again" grep -q '^Recovery: restart after 5 s' "$out.repair"
check "and secured the policy file" grep -qF 'Files: secured SysSecurity.ini, ReadTag.ini in' "$out.repair"
check "then check's verdict for the running service" grep -qx \
  'Tarvel Service check: cannot tell (exit 2)' "$out.repair"
check "with what cannot be told of it" grep -qx "  cannot tell: $unseen" "$out.repair"
pid=$(sed -n 's/^  process id: *//p' "$out.repair")
wait_for "$(slow 10)" line_now "$m" "$pid" '(VexService) Success create console window'
check "the service puts WriteProtect back" wait_for "$(slow 3)" reg_value "$policies" WriteProtect 0x0
done_scenario

# --- 14
scenario "tarvelctl log: DBWIN in the session's form works; the global form gets nothing"
(timeout "$(slow 30)" "$launcher" 'C:\tarvel\tarvelctl.exe' log --global --for 3 >"$out.global" 2>"$out.global.err" &)
wait_for "$(slow 10)" grep -q watching "$out.global.err"
m=$(mark)
probe device arrival E >/dev/null 2>&1
sleep 3.5
check "the session's buffer has the lines" has_line "$m" "$pid" '(VexService) Device arrival'
check "Global\\DBWIN_BUFFER has none (Wine runs services in session 1)" not grep -q VexService "$out.global"
done_scenario

# --- 15
scenario "DevState.ini with the optical lock: F: taken at start-up; uninstall stops the service first"
ctl_ok "the running service stops" stop
rm -f "$sysdir/SysSecurity.ini"
ctl policy write --removable off --optical on -o "$sysdir_win\\DevState.ini" >/dev/null 2>&1
t=$(trace_mark)
ctl_ok "start exits 0" start
pid=$(sed -n 's/^  process id: *//p' "$out")
check "F: taken at start-up" vol_has "$t" "$pid" 'F: 90020' 'F: 90018'
check "E: not taken" not vol_has "$t" "$pid" 'E: 9001[8]'
ctl_ok "uninstall exits 0" uninstall
check "stopped with code 255 first" grep -q 'Sent code 255' "$out"
probe gone "$pid" 5 >/dev/null 2>&1; check "process gone" test $? -eq 0
W sc query "Tarvel Service" >/dev/null 2>&1; check "no longer registered" test $? -ne 0
done_scenario

# --- 16
scenario "write-protect writes where the registered executable's machine type says ($other_arch image: $other_name)"
{  # The first bytes of a PE image: "MZ", e_lfanew 0x40, "PE\0\0", then the machine type.
  printf 'MZ'
  head -c 58 /dev/zero
  printf '\x40\x00\x00\x00PE\x00\x00'
  if [[ $other_arch == i386 ]]; then printf '\x4c\x01'; else printf '\x64\x86'; fi
  head -c 200 /dev/zero
} >"$tarvel/other-service.exe"
ctl install --exe 'C:\tarvel\other-service.exe' >"$out" 2>&1
check "an $other_arch image registers" grep -q "($other_arch)" "$out"
rm -f "$otherdir/ReadTag.ini"
ctl write-protect 1 >"$out" 2>&1; check "write-protect exits 0" test $? -eq 0
check "$other_name for a $other_arch service on 64-bit Windows" test -f "$otherdir/ReadTag.ini"
ctl_ok "uninstall exits 0" uninstall
done_scenario

# --- 17
scenario "shutdown: code 5 comes only from the system; Wine's own shutdown of the prefix"
# The previous scenario's removal may still be under way in Wine's Service Control Manager (an
# install then meets a service marked for deletion, more so on a loaded machine): wait until it
# has gone, and try the install and start again a few times.
unregistered() { ! W sc query "Tarvel Service" >/dev/null 2>&1; }
wait_for "$(slow 15)" unregistered
started_rc=1
for _ in 1 2 3; do
  ctl install >"$out.install" 2>&1
  ctl start >"$out" 2>&1 && { started_rc=0; break; }
  sleep 2
done
check "start exits 0 (last install: $(tail -n 2 "$out.install" | paste -sd '|'); start: $(tail -n 3 "$out" | paste -sd '|'))" \
  test $started_rc -eq 0
pid=$(sed -n 's/^  process id: *//p' "$out")
t=$(trace_mark)
# The monitor is the last client: ending it shuts the prefix down.
kill "$monitor"
WINEPREFIX=$WINEPREFIX timeout "$(slow 30)" "$WINESERVER" -w
check "the prefix shut down, the service process with it" test $? -eq 0
if trace_has "$t" "$pid" '(VexService) Finish Main'; then
  note "stop lines seen"
else
  note "Wine ended the service without SERVICE_CONTROL_SHUTDOWN"
fi
done_scenario

echo "     $build_kind: $((SECONDS - begin)) s; Wine limits: volume locks not enforced, no shutdown control for services, service security stubbed, WPD class left unregistered"
finish
