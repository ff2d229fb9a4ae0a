#!/usr/bin/env bash
# scripts/check-layers.sh passes the tree and fails on each kind of include against the layers:
# a layer including one above it, and a subsystem including an implementation of the platform.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
check=$here/scripts/check-layers.sh
"$check" "$here" || { echo "FAIL: the tree itself does not pass"; exit 1; }
failed=0
for case in 'guard/Probe.cpp:enforcement/PolicyPoll.h' 'enforcement/Probe.cpp:policy/StartGuard.h' \
  'policy/Probe.cpp:service/ServiceState.h' 'guard/Probe.cpp:platform/sim/SimCore.h' \
  'platform/Probe.h:guard/VolumeGuard.h' 'platform/sim/Probe.cpp:platform/win32/Win32Files.h'; do
  tree=$(mktemp -d)
  for d in platform platform/win32 platform/sim guard enforcement policy service; do mkdir -p "$tree/$d"; done
  file=${case%%:*} included=${case##*:}
  printf '#include "%s"\n' "$included" >"$tree/$file"
  out=$("$check" "$tree")
  rc=$?
  if ((rc != 1)) || [[ $out != "$file includes $included, against the layers" ]]; then
    echo "FAIL: $file including $included: exit $rc, said: $out"
    failed=1
  fi
  rm -rf "$tree"
done
((failed == 0)) && echo "check-layers: the tree passes; 6 includes against the layers caught"
exit $failed
