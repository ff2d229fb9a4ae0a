#!/usr/bin/env bash
# The real service and tarvelctl end to end under Wine, in a private prefix that is removed
# afterwards. One line per scenario; the exit status is the number of failed scenarios (capped).
# Usage: service-e2e.sh BUILD_DIR   (holds tarvel-service.exe, tarvelctl.exe, tarvel-e2e-probe.exe)
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
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/wine-prefix.sh
. "$here/../wine/wine-prefix.sh"
wine_prefix_create
# TARVEL_E2E_KEEP=1 keeps the folder with the logs and the prefix for a look afterwards.
if [[ -n ${TARVEL_E2E_KEEP:-} ]]; then
  trap 'WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k; echo "     kept $wine_tmp"' EXIT
fi
begin=$SECONDS

tarvel=$WINEPREFIX/drive_c/tarvel
system32=$WINEPREFIX/drive_c/windows/system32
dbwin=$wine_tmp/dbwin.log
trace=$wine_tmp/services.trace
out=$wine_tmp/out
mkdir -p "$tarvel"
cp "$bin/tarvel-service.exe" "$bin/tarvelctl.exe" "$bin/tarvel-e2e-probe.exe" "$tarvel/"

W() { timeout 60 "$WINE64" "$@"; }
# Runs a Windows program with its stdout and stderr together, without the CRs of its line ends.
windows() {
  local rc
  W "$@" >"$wine_tmp/run" 2>&1
  rc=$?
  tr -d '\r' <"$wine_tmp/run"
  return $rc
}
ctl() { windows 'C:\tarvel\tarvelctl.exe' "$@"; }
probe() { windows 'C:\tarvel\tarvel-e2e-probe.exe' "$@"; }
# shellcheck source=e2e-lib.sh
. "$here/e2e-lib.sh"

# --- The prefix. No persistent server: the debug-output monitor, started first, is the client
# that keeps it up, so that ending it at the end shuts the prefix down as Windows shuts down.
# Being the first Wine program, it starts services.exe, which passes its WINEDEBUG and stderr on
# to the services.
WINEDEBUG=-all,+pid,+debugstr,+file timeout 290 "$WINE64" 'C:\tarvel\tarvelctl.exe' log --local \
  >"$dbwin" 2>"$trace" &
monitor=$!
wait_for 20 grep -q 'watching debug output' "$trace" ||
  { echo "FAIL setup: tarvelctl log"; tail "$trace"; exit 1; }
for d in E:2 F:5 G:4 H:6; do
  mkdir -p "$wine_tmp/vol-${d%%:*}"
  probe drive "${d%%:*}" "${d##*:}" "$wine_tmp/vol-${d%%:*}" >>"$out.drives" ||
    { echo "FAIL setup: drive ${d%%:*} of type ${d##*:}"; cat "$out.drives"; exit 1; }
done
echo "     prefix ready in $((SECONDS - begin)) s: drives E: removable, F: CD-ROM, G: remote, H: RAM disk"

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
  -o 'C:\windows\system32\DevState.ini' >"$out.pw" 2>&1
check "policy write DevState.ini (both off)" test -s "$system32/DevState.ini"
check "policy write converts the SDDL $trusted" grep -qF \
  "ConvertStringSecurityDescriptorToSecurityDescriptorW L\"$trusted\", 1," "$out.pw"
check "creates DevState.ini.new afresh (FILE_CREATE) with a descriptor" grep -qE \
  'NtCreateFile .*name=L"[^"]*\\DevState\.ini\.new" .* sec=0x[0-9a-f]+ .* disp=2 ' "$out.pw"
check "renames it over DevState.ini (MOVEFILE_REPLACE_EXISTING | WRITE_THROUGH)" grep -qE \
  'MoveFileWithProgressW \(L"[^"]*\\DevState\.ini\.new",L"[^"]*\\DevState\.ini",[^,]*,[^,]*,0009\)' \
  "$out.pw"
check "and leaves no DevState.ini.new" not test -e "$system32/DevState.ini.new"
check "prints the DACL" grep -qF "  DACL $trusted: only SYSTEM and Administrators" "$out.pw"
WINEDEBUG=-all,fixme+service ctl install >"$out.install"
check "install exits 0" test $? -eq 0
check "registers the quoted executable beside the tool" grep -qF \
  'Installed Tarvel Service: "C:\tarvel\tarvel-service.exe" (x64)' "$out.install"
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
check "install secures DevState.ini where the service reads it" test -n "$files_dir"
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
ctl start >"$out" 2>&1; check "start exits 0" test $? -eq 0
pid=$(sed -n 's/^  process id: *//p' "$out")
check "a process id" test -n "$pid"
wait_for 10 line_now "$m" "$pid" '(VexService) Success create console window'
check "startup order" in_order "$m" "$pid" '(VexService) Success registry encryption client!' \
  '(VexService) Start ServiceExecution...' '(VexService) before call settimer' \
  '(VexService) Success create console window'
check "Start Wait after the policy load" in_order "$m" "$pid" \
  '(VexService) Success registry encryption client!' '(VexService) Start Wait'
check "DevState.ini found" no_line "$m" "$pid" '(VexService) Input path is not exist'
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
scenario "PolicyFile with both locks off: nothing taken, WM_DEVICECHANGE not passed to the guard"
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
check "128: RAM disk and ATA-less fixed disks too" vol_has "$t" "$pid" 'H: 90018' 'C: 90018'
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
done_scenario

# --- 10
scenario "stop with code 255: the stop lines, STOPPED, the process gone"
t=$(trace_mark)
ctl stop >"$out" 2>&1; check "stop exits 0" test $? -eq 0
check "tarvelctl saw the process end" grep -q "process $pid has ended" "$out"
probe gone "$pid" 5 >"$out" 2>&1; check "process $pid gone" test $? -eq 0
check "Finish Main" trace_has "$t" "$pid" '(VexService) Finish Main'
ctl status >"$out" 2>&1; check "STOPPED" grep -qx '  state:             STOPPED' "$out"
done_scenario

# --- 11
scenario "DevState.ini missing, SysSecurity.ini present (removable on): the fallback sets the lock"
rm -f "$system32/DevState.ini"
ctl policy write --removable on --optical off -o 'C:\windows\system32\SysSecurity.ini' >/dev/null 2>&1
m=$(mark)
t=$(trace_mark)
ctl start >"$out" 2>&1; check "start exits 0" test $? -eq 0
pid=$(sed -n 's/^  process id: *//p' "$out")
wait_for 10 line_now "$m" "$pid" '(VexService) Success create console window'
check "DevState.ini reported missing, once" test "$(count_line "$m" "$pid" '(VexService) Input path is not exist')" = 1
W reg query 'HKLM\System\CurrentControlSet\Control\Class\{EEC5AD98-8080-425F-922A-DABF3DE3F69A}' >/dev/null 2>&1
check "no WPD class in the prefix (Wine cannot switch devices)" test $? -ne 0
check "decrypted: E: taken at start-up" vol_has "$t" "$pid" 'E: 90020' 'E: 90018'
check "optical lock stays off" not vol_has "$t" "$pid" 'F: '
m=$(mark)
probe device arrival E >"$out" 2>&1
check "arrival passed to the guard" has_line "$m" "$pid" '(VexService) Get Device change in WndProc'
done_scenario

# --- 12
scenario "WriteProtect follows ReadTag.ini within two seconds, and is restored after reg add"
follow() {  # follow VALUE: wait until the registry holds it; prints the time taken
  local from=$EPOCHREALTIME
  wait_for 2 reg_value "$policies" WriteProtect "0x$1" || return 1
  elapsed+=" $(awk -v a="$from" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')s"
}
policies='HKLM\SYSTEM\CurrentControlSet\Control\StorageDevicePolicies'
elapsed=
ctl write-protect 1 >"$out" 2>&1; check "write-protect 1 exits 0" test $? -eq 0
check "ReadTag.ini in system32 (x64 service), ANSI" cmp -s "$system32/ReadTag.ini" <(printf '[State]\r\nkey=1\r\n')
check "0 -> 1" follow 1
ctl write-protect 0 >/dev/null 2>&1; check "1 -> 0" follow 0
ctl write-protect 1 >/dev/null 2>&1; check "0 -> 1 again" follow 1
W reg add "$policies" /v WriteProtect /t REG_DWORD /d 0 /f >/dev/null 2>&1
check "reg add 0 is undone" follow 1
ctl write-protect 0 >/dev/null 2>&1; check "back to 0" follow 0
note "took$elapsed"
done_scenario

# --- 13
scenario "tarvelctl log: DBWIN in the session's form works; the global form gets nothing"
(timeout 30 "$WINE64" 'C:\tarvel\tarvelctl.exe' log --global --for 3 >"$out.global" 2>"$out.global.err" &)
wait_for 10 grep -q watching "$out.global.err"
m=$(mark)
probe device arrival E >/dev/null 2>&1
sleep 3.5
check "the session's buffer has the lines" has_line "$m" "$pid" '(VexService) Device arrival'
check "Global\\DBWIN_BUFFER has none (Wine runs services in session 1)" not grep -q VexService "$out.global"
done_scenario

# --- 14
scenario "DevState.ini with the optical lock: F: taken at start-up; uninstall stops the service first"
ctl stop >/dev/null 2>&1
rm -f "$system32/SysSecurity.ini"
ctl policy write --removable off --optical on -o 'C:\windows\system32\DevState.ini' >/dev/null 2>&1
t=$(trace_mark)
ctl start >"$out" 2>&1; check "start exits 0" test $? -eq 0
pid=$(sed -n 's/^  process id: *//p' "$out")
check "F: taken at start-up" vol_has "$t" "$pid" 'F: 90020' 'F: 90018'
check "E: not taken" not vol_has "$t" "$pid" 'E: 9001[8]'
ctl uninstall >"$out" 2>&1; check "uninstall exits 0" test $? -eq 0
check "stopped with code 255 first" grep -q 'Sent code 255' "$out"
probe gone "$pid" 5 >/dev/null 2>&1; check "process gone" test $? -eq 0
W sc query "Tarvel Service" >/dev/null 2>&1; check "no longer registered" test $? -ne 0
done_scenario

# --- 15
scenario "write-protect writes where the registered executable's machine type says"
{  # The first bytes of an i386 image: "MZ", e_lfanew 0x40, "PE\0\0", machine 0x014C.
  printf 'MZ'
  head -c 58 /dev/zero
  printf '\x40\x00\x00\x00PE\x00\x00\x4c\x01'
  head -c 200 /dev/zero
} >"$tarvel/i386-service.exe"
ctl install --exe 'C:\tarvel\i386-service.exe' >"$out" 2>&1
check "an i386 image registers" grep -q '(i386)' "$out"
rm -f "$WINEPREFIX/drive_c/windows/syswow64/ReadTag.ini"
ctl write-protect 1 >"$out" 2>&1; check "write-protect exits 0" test $? -eq 0
check "SysWOW64 for a 32-bit service on 64-bit Windows" test -f "$WINEPREFIX/drive_c/windows/syswow64/ReadTag.ini"
ctl uninstall >/dev/null 2>&1
done_scenario

# --- 16
scenario "shutdown: code 5 comes only from the system; Wine's own shutdown of the prefix"
ctl install >/dev/null 2>&1
# The previous scenario's service may still be going away; a start that meets it is tried again.
ctl start >"$out" 2>&1 || { sleep 2; ctl install >/dev/null 2>&1; ctl start >"$out" 2>&1; }
check "start exits 0" test $? -eq 0
pid=$(sed -n 's/^  process id: *//p' "$out")
t=$(trace_mark)
# The monitor is the last client: ending it shuts the prefix down.
kill "$monitor"
WINEPREFIX=$WINEPREFIX timeout 30 "$WINESERVER" -w
check "the prefix shut down, the service process with it" test $? -eq 0
if trace_has "$t" "$pid" '(VexService) Finish Main'; then
  note "stop lines seen"
else
  note "Wine ended the service without SERVICE_CONTROL_SHUTDOWN"
fi
done_scenario

echo "     $((SECONDS - begin)) s; Wine limits: volume locks not enforced, no shutdown control for services, service security stubbed, WPD class left unregistered"
finish
