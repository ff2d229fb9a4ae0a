#!/usr/bin/env bash
# The service executable started directly, not by the Service Control Manager: it logs that it
# must be registered first and exits with 0.
# Usage: service-started-directly.sh tarvel-service.exe
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-prefix.sh
. "$here/wine-prefix.sh"
[[ $(build_arch "$1") == i386 ]] && i686_gate wine.ServiceStartedDirectly full
log=$(mktemp)
trap 'rm -f "$log"' EXIT
WINEDEBUG=-all,+debugstr "$here/run-in-prefix.sh" "$1" 2>"$log"
rc=$?
expected='OutputDebugStringA "\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first."'
status=0
if grep -qF "$expected" "$log"; then
  echo "ok the line that asks for registration is logged"
else
  echo "FAIL the line that asks for registration is missing; debug output was:"
  grep debugstr "$log" || cat "$log"
  status=1
fi
if ((rc == 0)); then
  echo "ok exit code 0"
else
  echo "FAIL exit code $rc"
  status=1
fi
exit $status
