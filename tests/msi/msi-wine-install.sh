#!/usr/bin/env bash
# A package installed, upgraded and removed by Wine's (64-bit) msiexec in a private prefix that
# is removed afterwards: the service registered, configured, started, stopped with code 255 and
# deleted, older and same versions refused, the system directory's files left alone. One line
# per scenario; the exit status is 0 when every scenario passed.
# Usage: msi-wine-install.sh MSI VERSION WXS BIN_DIR WIXL
#   With the i686 programs in BIN_DIR, MSI is the shipped package: it installs into Program
#   Files (x86), its custom actions run the i686 tarvelctl under WOW64 and the service's files
#   are those of SysWOW64. With the x86_64 programs it is the x64 test package (Program Files,
#   System32).
# With --proof X64_BIN_DIR after the arguments (the i686 package on a machine whose 32-bit
# programs run under an emulator), only the install of the shipped package runs: its custom
# action runs the i686 tarvelctl and Wine starts the i686 service, and the checks read them with
# the x86_64 tarvelctl of X64_BIN_DIR, so that no further 32-bit program is started.
# shellcheck disable=SC2317  # the helpers below are run through check
set -uo pipefail
msi=$(realpath "$1") version=$2 wxs=$(realpath "$3") bin=$(realpath "$4") wixl=$5
proof=
[[ ${6:-} == --proof ]] && proof=$(realpath "${7:-/nonexistent}")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine-prefix.sh
. "$here/../wine/wine-prefix.sh"
arch=$(build_arch "$bin/tarvel-service.exe")
if [[ -n $proof ]]; then
  i686_gate msi.wow64-proof proof
  [[ $(build_arch "$proof/tarvelctl.exe") == x64 ]] ||
    { echo "FAIL setup: --proof needs the x86_64 build's folder (got $proof)"; exit 1; }
elif [[ $arch == i386 ]]; then
  i686_gate msi.wine-install full
fi
launcher=$(wine_for "$bin/tarvel-service.exe") || exit 1
if [[ $arch == i386 ]]; then
  msi_arch=x86 program_files="Program Files (x86)" sysdir_name=syswow64
  program_files_re='Program Files \(x86\)'
  product_re='Tarvel Service'
  # A 32-bit package's product is registered in the 32-bit view, as on 64-bit Windows.
  uninstall_key='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
else
  msi_arch=x64 program_files="Program Files" sysdir_name=system32
  program_files_re='Program Files'
  product_re='Tarvel Service \(x64 test build\)'
  uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
fi
scenario_tag="[$arch]"
wine_prefix_create
# TARVEL_MSI_KEEP=1 keeps the folder with the logs and the prefix for a look afterwards.
if [[ -n ${TARVEL_MSI_KEEP:-} ]]; then
  trap 'WINEPREFIX=$wine_tmp/pfx timeout 20 "$WINESERVER" -k; echo "     kept $wine_tmp"' EXIT
fi
wine_server_start
begin=$SECONDS
# shellcheck source=tests/e2e/e2e-lib.sh
. "$here/../e2e/e2e-lib.sh"

# msiexec waits for the package's programs: minutes each for i686 ones under the emulator.
W() { timeout "$(slow_for "$bin/tarvel-service.exe" 90)" "$WINE64" "$@"; }
quiet() { "$@" >/dev/null 2>&1; }
windows_path() { echo "Z:${1//\//\\}"; }
installed=$WINEPREFIX/drive_c/$program_files/Tarvel
sysdir=$WINEPREFIX/drive_c/windows/$sysdir_name
out=$wine_tmp/out
key='HKLM\System\CurrentControlSet\Services\Tarvel Service'

# msiexec ACTION PACKAGE NAME: runs msiexec /qn with a verbose log in $out.NAME.log and what the
# custom actions print in $out.NAME; returns msiexec's exit code (Linux keeps its low byte).
msiexec() {
  local rc
  W msiexec "$1" "$(windows_path "$2")" /qn /l*v "$(windows_path "$out.$3.log")" >"$out.run" 2>&1
  rc=$?
  tr -d '\r' <"$out.run" >"$out.$3"
  # Without its log msiexec did not run the package: the checks that read the log say nothing
  # more, and the suite stops after this scenario (stop_unless_passed).
  if [[ ! -f $out.$3.log ]]; then
    no_package=1
    scenario_failures+=("msiexec $1 $(basename "$2") ran no package (exit $rc, no log): $(tail -n 3 "$out.run" | paste -sd '|')")
  fi
  return $rc
}
exit_code() { test "$1" -eq $(($2 & 255)); }
# started LOG ACTION...: each action of the log started, in this order.
started() {
  local log=$1 previous=0 action line
  shift
  [[ -f $log ]] || return 1
  for action in "$@"; do
    line=$(tr -d '\r' <"$log" | grep -n "^Action start [0-9:]*: $action\.$" | head -1 | cut -d: -f1)
    [[ -n $line ]] && ((line > previous)) || return 1
    previous=$line
  done
}
# ended_ok LOG ACTION: every end of the action in the log says Return value 1. Wine's verbose log
# has been seen to lack a deferred custom action's end line once (its effects and msiexec's exit
# code showed it had succeeded), so a missing end line is not a failure; a failed deferred action
# also rolls the install back, which msiexec's exit code shows.
ended_ok() {
  local ends
  [[ -f $1 ]] || return 1
  ends=$(tr -d '\r' <"$1" | grep "^Action ended [0-9:]*: $2\. Return value ")
  [[ -z $ends ]] || ! grep -qv "Return value 1\.$" <<<"$ends"
}
reg_value() { W reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -qE "^\s+$2\s+REG_\w+\s+$3$"; }
running() { W sc query "Tarvel Service" 2>/dev/null | tr -d '\r' | grep -qE 'STATE +: 4 +RUNNING'; }
# The installed tool, run as its bitness needs; in the proof, the x86_64 one.
if [[ -n $proof ]]; then
  ctl() { timeout 90 "$WINE64" "$(windows_path "$proof/tarvelctl.exe")" "$@" 2>&1 | tr -d '\r'; }
else
  ctl() { timeout "$(slow_for "$bin/tarvelctl.exe" 90)" "$launcher" "C:\\$program_files\\Tarvel\\tarvelctl.exe" "$@" 2>&1 | tr -d '\r'; }
fi
service_pid() { ctl status | sed -n 's/^ *process id: *//p'; }
# Windows processes of this prefix running the installed service, as Linux sees them.
service_processes() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/cmdline" | grep -qF 'Tarvel\tarvel-service.exe' &&
      tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      echo "${p#/proc/}"
  done
}
# stopped_in NAME PID: the output of msiexec run NAME says the service stopped and process PID
# ended. Otherwise the scenario's line also shows what that output said of the service.
stopped_in() {
  grep -qx "Tarvel Service stopped; process $2 has ended." "$out.$1" && return 0
  scenario_failures+=("expected process ${2:-(no id)} to end; $1's output: $(grep -E 'Tarvel Service|tarvelctl' "$out.$1" | head -n 4 | paste -sd '|')")
  return 1
}
no_service_process() { [[ -z $(service_processes) ]]; }
products() { W reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | grep -cE "DisplayName\s+REG_SZ\s+$product_re$"; }
product_version() {
  W reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
    grep -A30 -E "DisplayName\s+REG_SZ\s+$product_re$" | grep -qE "DisplayVersion\s+REG_SZ\s+$1$"
}
# stop_after_no_package: the suite ends after a scenario whose msiexec ran no package.
no_package=
stop_after_no_package() {
  [[ -z $no_package ]] || { echo "     stopped: msiexec ran no package"; finish; }
}
files_kept() { (cd "$sysdir" && sha256sum -c --quiet "$wine_tmp/system-files.sha256"); }

# The next version and a rebuild of it, from the same source with the same programs.
IFS=. read -r major minor patch <<<"$version"
next=$major.$minor.$((patch + 1))
for name in next rebuild; do
  (cd "$bin" && "$wixl" -a $msi_arch -D Arch=$msi_arch -D Version="$next" -D BinDir=. \
    -o "$wine_tmp/$name.msi" "$wxs") >"$out.wixl" 2>&1 ||
    { echo "FAIL setup: wixl $next"; cat "$out.wixl"; exit 1; }
done
# The machine's policy, secondary policy and tag files, there before the package.
cp "$here/../wine/data/DevState-off-off.ini" "$sysdir/DevState.ini"
cp "$here/../wine/data/DevState-off-on.ini" "$sysdir/SysSecurity.ini"
printf '[State]\r\nkey=0\r\n' >"$sysdir/ReadTag.ini"
(cd "$sysdir" && sha256sum DevState.ini SysSecurity.ini ReadTag.ini) >"$wine_tmp/system-files.sha256"
echo "     $(basename "$msi") ($msi_arch, $arch programs, files in $sysdir_name): prefix ready in $((SECONDS - begin)) s; packages $version (built), $next and its rebuild"

# --- 1
scenario "install $version: the programs in Program Files, the service registered, configured, running"
msiexec /i "$msi" install
rc=$?
check "msiexec /i exits 0 (got $rc)" exit_code "$rc" 0
check "tarvel-service.exe installed" test -f "$installed/tarvel-service.exe"
check "tarvelctl.exe installed" test -f "$installed/tarvelctl.exe"
check "both programs are $arch images" test "$(build_arch "$installed/tarvel-service.exe")$(build_arch "$installed/tarvelctl.exe")" = "$arch$arch"
check "Type = 0x10 (own process)" reg_value "$key" Type 0x10
check "Start = 2 (automatic)" reg_value "$key" Start 0x2
check "ErrorControl = 1 (normal)" reg_value "$key" ErrorControl 0x1
check "LocalSystem" reg_value "$key" ObjectName LocalSystem
check "ImagePath is the installed program" \
  reg_value "$key" ImagePath "\"?C:\\\\$program_files_re\\\\Tarvel\\\\tarvel-service.exe\"?"
check "InstallServices, ConfigureTarvelService, StartServices in this order" \
  started "$out.install.log" InstallServices ConfigureTarvelService StartServices
check "ConfigureTarvelService succeeded" ended_ok "$out.install.log" ConfigureTarvelService
check "tarvelctl install --configure-only set the recovery options" \
  grep -q '^Recovery: restart after 5 s' "$out.install"
check "and the security descriptor" grep -q '^Security: D:' "$out.install"
check "and the DACL of the three files where the service reads them" grep -qE \
  '^Files: secured DevState\.ini, SysSecurity\.ini, ReadTag\.ini in .*\\(System32|SysWOW64): DACL D:P\(A;;FA;;;SY\)\(A;;FA;;;BA\) \(SYSTEM and Administrators only\)$' \
  "$out.install"
check "no stop on a first install" not started "$out.install.log" StopTarvelService
check "sc query: RUNNING" running
ctl status >"$out.status"
check "tarvelctl status: RUNNING" grep -qE '^ +state: +RUNNING$' "$out.status"
first_pid=$(service_pid)
check "one service process of this prefix" test "$(service_processes | wc -l)" -eq 1
check "the system directory's files unchanged" files_kept
done_scenario
[[ -f $installed/tarvel-service.exe ]] ||
  { echo "     stopped: the package is not installed, and the later scenarios start from it"; finish; }
[[ -z $proof ]] || { echo "     i386 proof: $((SECONDS - begin)) s"; finish; }

# --- 2
scenario "upgrade to $next: the old service stopped (255) and removed first, the new one running"
msiexec /i "$wine_tmp/next.msi" upgrade
rc=$?
check "msiexec /i exits 0 (got $rc)" exit_code "$rc" 0
check "RemoveExistingProducts before InstallFiles and StartServices" \
  started "$out.upgrade.log" RemoveExistingProducts InstallFiles StartServices
# Wine runs the old product's uninstall as a separate msiexec whose output is this one's.
check "the old service stopped with code 255, its process ended" stopped_in upgrade "$first_pid"
check "sc query: RUNNING" running
second_pid=$(service_pid)
check "a new process (was $first_pid, now $second_pid)" test "${second_pid:-0}" != "$first_pid"
check "one service process of this prefix" test "$(service_processes | wc -l)" -eq 1
check "one product registered" test "$(products)" -eq 1
check "at version $next" product_version "$next"
check "the system directory's files unchanged" files_kept
done_scenario
stop_after_no_package

# --- 3
scenario "a rebuild of $next and the older $version: refused, the installed service untouched"
msiexec /i "$wine_tmp/rebuild.msi" same
rc=$?
check "the rebuild: msiexec exits 1603 (got $rc)" exit_code "$rc" 1603
# Wine does not log the launch condition's message under /qn.
check "found the installed one as the same or a newer version" \
  grep -q '^Property(S): TARVEL_SAME_OR_NEWER_FOUND = {' <(tr -d '\r' <"$out.same.log")
check "and stopped before InstallInitialize" not started "$out.same.log" InstallInitialize
msiexec /i "$msi" older
rc=$?
check "the older version: msiexec exits 1603 (got $rc)" exit_code "$rc" 1603
check "still one product, at $next" product_version "$next"
check "still one product registered" test "$(products)" -eq 1
check "the same process still running" test "$(service_pid)" == "$second_pid"
done_scenario
stop_after_no_package

# --- 4
scenario "uninstall: stopped with code 255, then deleted; the system directory's files kept"
msiexec /x "$wine_tmp/next.msi" uninstall
rc=$?
check "msiexec /x exits 0 (got $rc)" exit_code "$rc" 0
check "StopTarvelService before StopServices, DeleteServices and RemoveFiles" \
  started "$out.uninstall.log" StopTarvelService StopServices DeleteServices RemoveFiles
check "tarvelctl stop: code 255 sent, the process ended" \
  stopped_in uninstall "$second_pid"
check "no service process left" wait_for 5 no_service_process
check "the service's key is gone" not quiet W reg query "$key"
check "sc query fails" not quiet W sc query "Tarvel Service"
check "Program Files\\Tarvel is gone" not test -e "$installed"
check "no product registered" test "$(products)" -eq 0
check "the system directory's files unchanged" files_kept
done_scenario

echo "     $((SECONDS - begin)) s"
finish
