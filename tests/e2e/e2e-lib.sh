# Sourced by service-e2e.sh: scenario bookkeeping and readers of the service's debug lines and of
# Wine's file trace. Expects dbwin, W and WINEPREFIX to be set, and trace where the suite reads
# services.exe's stderr (a suite without it, or one that stops before it starts, reads nothing).

scenarios=0
failed=0
# scenario_tag: printed in every scenario line (the build under test).
scenario_tag=${scenario_tag:-}

# scenario TITLE: starts a scenario; check and note add to it; done_scenario prints its line.
scenario() {
  scenario_title=$1
  scenario_failures=()
  scenario_notes=()
  scenario_trace=$(trace_mark)
  ((scenarios++))
}

# check DESCRIPTION COMMAND...: records a failure when the command fails.
check() {
  local what=$1
  shift
  "$@" || scenario_failures+=("$what")
}

# ctl_ok DESCRIPTION ARGS...: runs tarvelctl with ARGS, its output in $out; a failure is recorded
# with the exit code and the tool's last lines, so that the scenario's line says why.
ctl_ok() {
  local what=$1 rc
  shift
  ctl "$@" >"$out" 2>&1
  rc=$?
  ((rc == 0)) || scenario_failures+=("$what (exit $rc: $(tail -n 4 "$out" | paste -sd '|'))")
  return $rc
}

note() { scenario_notes+=("$*"); }

done_scenario() {
  local notes=""
  ((${#scenario_notes[@]})) && notes=" [${scenario_notes[*]}]"
  if ((${#scenario_failures[@]} == 0)); then
    printf 'ok   %2d %s%s%s\n' "$scenarios" "${scenario_tag:+$scenario_tag }" "$scenario_title" "$notes"
  else
    ((failed++))
    printf 'FAIL %2d %s%s%s\n' "$scenarios" "${scenario_tag:+$scenario_tag }" "$scenario_title" "$notes"
    local f
    for f in "${scenario_failures[@]}"; do printf '         failed: %s\n' "$f"; done
    # What Wine's Service Control Manager reported meanwhile (a start it timed out, for one).
    [[ -n ${trace:-} && -f $trace ]] &&
      tail -n "+$((scenario_trace + 1))" "$trace" | grep -a ':err:service:' | head -n 5 |
      sed 's/^/         services.exe: /'
  fi
  return 0
}

# stop_unless_passed WHY: after a scenario that failed, the suite ends here with one more line:
# the later scenarios need what this one should have done.
stop_unless_passed() {
  if ((${#scenario_failures[@]})); then
    echo "     stopped: $*"
    finish
  fi
}

finish() {
  echo "${scenario_tag:+$scenario_tag }$scenarios scenarios, $failed failed"
  ((failed == 0))
  exit $?
}

not() { ! "$@"; }

# windows PROGRAM ARGS...: runs a Windows program through the suite's W, its stdout and stderr
# together, without the CRs of its line ends.
windows() {
  local rc
  W "$@" >"$wine_tmp/run" 2>&1
  rc=$?
  tr -d '\r' <"$wine_tmp/run"
  return $rc
}

now_ms() { echo $((${EPOCHREALTIME/[.,]/} / 1000)); }

# wait_for SECONDS COMMAND...: runs the command every 0.1 s until it succeeds or time is up.
wait_for() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    (($(now_ms) > deadline)) && return 1
    sleep 0.1
  done
}

# --- Debug lines, as `tarvelctl log` prints them: "HH:MM:SS.mmm [pid] text".

# mark: a position in the debug log; the readers below look at what came after it.
mark() { wc -l <"$dbwin"; }

# lines MARK PID: the service's lines since the mark, without time and process id.
lines() { tail -n "+$(($1 + 1))" "$dbwin" | tr -d '\r' | sed -n "s/^[0-9:.]* \[$2\] //p"; }

line_now() { lines "$1" "$2" | grep -qxF -- "$3"; }

# How long a debug line takes to arrive, in seconds: longer where the service runs under an emulator.
line_wait=${line_wait:-3}

# has_line MARK PID TEXT: TEXT arrives within line_wait seconds.
has_line() { wait_for "$line_wait" line_now "$@"; }

# no_line MARK PID TEXT: TEXT has not arrived (lines written in the same call as one already
# seen are given a moment).
no_line() {
  sleep 0.3
  ! line_now "$@"
}

count_line() { lines "$1" "$2" | grep -cxF -- "$3"; }

# in_order MARK PID TEXT...: each text arrives, every one after the one before it.
in_order() {
  local m=$1 pid=$2
  shift 2
  wait_for "$line_wait" line_now "$m" "$pid" "${!#}" || return 1
  lines "$m" "$pid" | awk -v n=$# -v want="$(printf '%s\n' "$@")" '
    BEGIN { split(want, w, "\n"); i = 1 }
    i <= n && $0 == w[i] { i++ }
    END { exit i <= n }'
}

# --- services.exe's stderr: narrow debug lines and the +file trace, each line "PID:TID:...".

trace_mark() { if [[ -n ${trace:-} && -f $trace ]]; then wc -l <"$trace"; else echo 0; fi; }

trace_lines() { tail -n "+$(($1 + 1))" "$trace" | grep -a "^$(printf '%04x' "$2"):"; }

# trace_has MARK PID TEXT: the narrow debug line TEXT since the mark.
trace_has() { trace_lines "$1" "$2" | grep -qF -- "OutputDebugStringA \"\\n$3\""; }

# volume_ops MARK PID: "E: 7c088" per control sent to a volume path since the mark, as Wine's
# trace names them: CreateFileW with the path, "returning" with its handle on the same thread,
# then DeviceIoControl on that handle (until the handle value comes back from another open).
# Each open shows as "E: open" or "E: open failed".
volume_ops() {
  trace_lines "$1" "$2" | awk -F: '
    {
      msg = $0; sub(/^[0-9a-f]+:[0-9a-f]+:trace:file:/, "", msg)
      if (msg ~ /^CreateFileW L"/) {
        name = msg; sub(/^CreateFileW L"/, "", name); sub(/".*/, "", name)
        pending[$2] = (name ~ /^[\\][\\][\\][\\][.][\\][\\][A-Z]:$/) ? substr(name, length(name) - 1) : ""
      } else if (msg ~ /^CreateFileW returning /) {
        h = msg; sub(/^CreateFileW returning /, "", h)
        delete volume[h]
        if (pending[$2] != "") {
          if (h ~ /^F+$/) { print pending[$2] " open failed" }
          else { volume[h] = pending[$2]; print pending[$2] " open" }
        }
        delete pending[$2]
      } else if (msg ~ /^DeviceIoControl \(/) {
        split(substr(msg, 18), a, ",")
        if (a[1] in volume) print volume[a[1]] " " tolower(a[2])
      }
    }' | sort -u
}

# vol_has MARK PID PATTERN...: every pattern (an extended regular expression) matches one of
# volume_ops' lines.
vol_has() {
  local m=$1 pid=$2 ops
  shift 2
  ops=$(volume_ops "$m" "$pid")
  local p
  for p in "$@"; do grep -qE -- "$p" <<<"$ops" || return 1; done
}

# --- The registry, through Wine's reg.

# reg_value KEY NAME VALUE: reg query prints VALUE (for example 0x1) for the value.
reg_value() { "${reg_runner:-W}" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -qiE -- "[[:space:]]$3\$"; }
# The same through Wine's 64-bit reg: what a 64-bit process sees.
reg_value64() { W64 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -qiE -- "[[:space:]]$3\$"; }
