#!/usr/bin/env bash
# Reads the installer package's tables with msiinfo and checks that they register the service as
# built: the programs, the service's registration and control, the two tarvelctl actions and
# where they run, the upgrade rules, and that no file of the system directory is touched.
# Usage: msi-tables.sh MSI x86|x64 VERSION BIN_DIR   (BIN_DIR holds the programs packaged)
set -uo pipefail
msi=$1 arch=$2 version=$3 bin=$4
command -v msiinfo >/dev/null || { echo "msiinfo is not installed (apt-get install msitools)"; exit 1; }
[[ -f $msi ]] || { echo "no package $msi"; exit 1; }
failures=0
fail() {
  echo "FAIL $*"
  ((failures++))
}

tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
for t in ServiceInstall ServiceControl File Component Directory CustomAction \
  InstallExecuteSequence Upgrade LaunchCondition Property RemoveFile; do
  msiinfo export "$msi" "$t" 2>/dev/null | tr -d '\r' >"$tables/$t" || fail "cannot export table $t"
done

# value TABLE KEY_COLUMN KEY COLUMN: the column of the row whose KEY_COLUMN is KEY. An export
# is the column names, their types, the table's name and keys, then one line per row.
value() {
  awk -F'\t' -v keycol="$2" -v key="$3" -v col="$4" '
    NR == 1 { for (i = 1; i <= NF; i++) { if ($i == keycol) k = i; if ($i == col) c = i } }
    NR > 3 && k && c && $k == key { print $c; found = 1; exit }
    END { if (!found) print "<no such row or column>" }' "$tables/$1"
}
rows() { tail -n +4 "$tables/$1" | grep -c .; }

if [[ $arch == x64 ]]; then
  program_files=ProgramFiles64Folder component_attributes=256 template='x64;1033'
else
  program_files=ProgramFilesFolder component_attributes=0 template='Intel;1033'
fi
service_size=$(stat -c %s "$bin/tarvel-service.exe")
ctl_size=$(stat -c %s "$bin/tarvelctl.exe")

# TABLE|[KEY_COLUMN=]KEY|COLUMN|EXPECTED; the key column defaults to the table's first column.
expected=(
  "ServiceInstall|TarvelService|Name|Tarvel Service"
  "ServiceInstall|TarvelService|ServiceType|16"    # SERVICE_WIN32_OWN_PROCESS
  "ServiceInstall|TarvelService|StartType|2"       # SERVICE_AUTO_START
  "ServiceInstall|TarvelService|ErrorControl|1"    # SERVICE_ERROR_NORMAL
  "ServiceInstall|TarvelService|StartName|LocalSystem"
  "ServiceInstall|TarvelService|Arguments|"
  "ServiceInstall|TarvelService|Component_|TarvelServiceExe"
  "ServiceControl|TarvelService|Name|Tarvel Service"
  # Start on install (0x01) and delete on uninstall (0x80); no plain stop, which it refuses.
  "ServiceControl|TarvelService|Event|129"
  "ServiceControl|TarvelService|Wait|1"
  "ServiceControl|TarvelService|Component_|TarvelServiceExe"
  "File|TarvelServiceExe|FileName|tarvel-service.exe"
  "File|TarvelServiceExe|FileSize|$service_size"
  "File|TarvelServiceExe|Component_|TarvelServiceExe"
  "File|TarvelctlExe|FileName|tarvelctl.exe"
  "File|TarvelctlExe|FileSize|$ctl_size"
  "File|TarvelctlExe|Component_|TarvelctlExe"
  "Component|TarvelServiceExe|Directory_|INSTALLDIR"
  "Component|TarvelServiceExe|Attributes|$component_attributes"
  "Component|TarvelServiceExe|KeyPath|TarvelServiceExe"
  "Component|TarvelctlExe|Directory_|INSTALLDIR"
  "Component|TarvelctlExe|Attributes|$component_attributes"
  "Directory|INSTALLDIR|Directory_Parent|$program_files"
  "Directory|INSTALLDIR|DefaultDir|Tarvel"
  # 18 (a program installed by the package) + 0x400 deferred + 0x800 as LocalSystem, and for
  # the stop + 0x40, its exit code ignored.
  "CustomAction|StopTarvelService|Type|3154"
  "CustomAction|StopTarvelService|Source|TarvelctlExe"
  "CustomAction|StopTarvelService|Target|stop"
  "CustomAction|ConfigureTarvelService|Type|3090"
  "CustomAction|ConfigureTarvelService|Source|TarvelctlExe"
  "CustomAction|ConfigureTarvelService|Target|install --configure-only"
  "InstallExecuteSequence|StopTarvelService|Condition|?TarvelServiceExe=3 AND (\$TarvelServiceExe=2 OR \$TarvelServiceExe=3)"
  "InstallExecuteSequence|ConfigureTarvelService|Condition|\$TarvelServiceExe=3"
  "Upgrade|ActionProperty=TARVEL_OLDER_FOUND|VersionMin|0.0.0"
  "Upgrade|ActionProperty=TARVEL_OLDER_FOUND|VersionMax|$version"
  "Upgrade|ActionProperty=TARVEL_OLDER_FOUND|Attributes|256"         # minimum inclusive
  "Upgrade|ActionProperty=TARVEL_SAME_OR_NEWER_FOUND|VersionMin|$version"
  "Upgrade|ActionProperty=TARVEL_SAME_OR_NEWER_FOUND|Attributes|258" # only detect, inclusive
  "LaunchCondition|NOT TARVEL_SAME_OR_NEWER_FOUND|Condition|NOT TARVEL_SAME_OR_NEWER_FOUND"
  "Property|ProductVersion|Value|$version"
  "Property|ALLUSERS|Value|1"
)
for e in "${expected[@]}"; do
  IFS='|' read -r table key column want <<<"$e"
  keycol=$(head -1 "$tables/$table" | cut -f1)
  [[ $key == *=* ]] && keycol=${key%%=*} key=${key#*=}
  got=$(value "$table" "$keycol" "$key" "$column")
  [[ $got == "$want" ]] || fail "${table}[$key].$column: expected '$want', got '$got'"
done

# The service is stopped before anything of it is stopped, deleted or removed, configured after
# it is registered and before it starts, the old product removed before the new one's files
# are copied, and both deferred actions lie inside the installation script.
order=(InstallValidate RemoveExistingProducts InstallInitialize StopTarvelService StopServices
       DeleteServices RemoveFiles InstallFiles InstallServices ConfigureTarvelService
       StartServices InstallFinalize)
previous=0 previous_action=start
for action in "${order[@]}"; do
  seq=$(value InstallExecuteSequence Action "$action" Sequence)
  if ! [[ $seq =~ ^[0-9]+$ ]]; then
    fail "InstallExecuteSequence has no $action"
  elif ((seq <= previous)); then
    fail "$action ($seq) does not come after $previous_action ($previous)"
  else
    previous=$seq previous_action=$action
  fi
done

# Only the two programs: the policy and tag files of the system directory are never installed
# or removed by the package.
[[ $(rows File) == 2 ]] || fail "File holds $(rows File) rows, not the two programs"
[[ $(rows RemoveFile) == 0 ]] || fail "RemoveFile is not empty"
grep -qiE 'DevState|SysSecurity|ReadTag|SystemFolder|System64Folder' "$tables"/* &&
  fail "a table names the system directory or a policy or tag file"

summary=$(msiinfo suminfo "$msi" | tr -d '\r')
grep -qxF "Template: $template" <<<"$summary" || fail "summary's platform is not $template"

# The same version in the programs' version resources.
for exe in tarvel-service.exe tarvelctl.exe; do
  got=$(strings -el "$bin/$exe" | grep -A1 -x FileVersion | tail -1)
  [[ $got == "$version" ]] || fail "$exe's version resource says '$got', not $version"
done

echo "$((${#expected[@]} + ${#order[@]} + 6)) checks of $(basename "$msi"), $failures failed"
((failures == 0))
