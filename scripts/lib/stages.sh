# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Runs the stages of the test command: each a command, with the stages it
# needs. Stages that need nothing of each other run side by side, up to
# STAGE_JOBS at once, each with its output in a log of its own, which is
# shown whole when the stage ends, with its time. A stage whose needs
# failed is not run, and counts as failed. At the end: a table of the
# stages, passed or failed, and their seconds, and one line of the counts.

STAGE_ORDER=()
declare -A STAGE_NEEDS=() STAGE_COMMAND=()

# Declares a stage: <name> "<stages it needs, separated by spaces>"
# <command...>. Stages start in the order declared, once what they need has
# passed.
stage() {
  local name=$1 needs=$2
  shift 2
  STAGE_ORDER+=("$name")
  STAGE_NEEDS[$name]=$needs
  STAGE_COMMAND[$name]=${*@Q}
}

# Whether <name> is a declared stage.
is_stage() {
  [ -n "${STAGE_COMMAND[$1]+declared}" ]
}

# Microseconds since the epoch.
now_us() {
  local now=$EPOCHREALTIME
  echo "${now/./}"
}

# Runs the given stages (every declared one if none is given) under
# <log folder>, and prints their table. Fails if any failed.
run_stages() {
  local logs=$1 name first_start
  shift
  local -a chosen=("$@") pending
  local -A selected=() state=() started=() seconds=() running=()
  local ended
  [ "${#chosen[@]}" -gt 0 ] || chosen=("${STAGE_ORDER[@]}")
  pending=("${chosen[@]}")
  for name in "${chosen[@]}"; do selected[$name]=1; done
  first_start=$(now_us)
  mkdir -p "$logs"
  # Each stage, as it ends, writes its name and status into this pipe,
  # which stays open for reading and writing while the stages run.
  rm -f "$logs/ended"
  mkfifo "$logs/ended"
  exec {ended}<>"$logs/ended"
  # A stage runs in a process group of its own, which an interrupt ends.
  set -m
  trap 'end_stages "${running[@]}"; exit 130' INT
  trap 'end_stages "${running[@]}"; exit 143' TERM
  while [ "${#pending[@]}" -gt 0 ] || [ "${#running[@]}" -gt 0 ]; do
    start_ready_stages
    if [ "${#running[@]}" -eq 0 ]; then
      [ "${#pending[@]}" -eq 0 ] || {
        echo "stages wait for each other: ${pending[*]}" >&2
        return 1
      }
    else
      end_next_stage
    fi
  done
  trap - INT TERM
  set +m
  exec {ended}>&-
  rm -f "$logs/ended"
  stage_table "$((($(now_us) - first_start + 500000) / 1000000))" \
    "${chosen[@]}"
}

# Of run_stages' pending stages, starts those whose needs have passed while
# fewer than STAGE_JOBS run, and marks those whose needs failed not run.
start_ready_stages() {
  local name waiting=()
  for name in "${pending[@]}"; do
    case $(stage_readiness "$name") in
    "not run")
      state[$name]="not run"
      seconds[$name]=0
      echo "== $name: not run, as a stage it needs failed"
      ;;
    ready)
      if [ "${#running[@]}" -lt "$STAGE_JOBS" ]; then
        echo "== $name: started"
        run_stage "$name" &
        running[$name]=$!
        started[$name]=$(now_us)
      else
        waiting+=("$name")
      fi
      ;;
    *) waiting+=("$name") ;;
    esac
  done
  pending=("${waiting[@]}")
}

# Runs <stage>, with errexit as the test command has it, its output into
# its log; then says its name and status on run_stages' pipe.
run_stage() {
  set +e
  (
    set -e
    eval "${STAGE_COMMAND[$1]}"
  ) </dev/null >"$logs/$1.log" 2>&1
  echo "$1 $?" >&"$ended"
}

# ready, waiting or "not run", as <stage>'s needs stand in run_stages: a
# need that this run does not include counts as met.
stage_readiness() {
  local need readiness=ready
  for need in ${STAGE_NEEDS[$1]}; do
    case ${state[$need]:-} in
    passed) ;;
    failed | "not run") readiness="not run" ;;
    *) if [ -n "${selected[$need]:-}" ] && [ "$readiness" = ready ]; then
      readiness=waiting
    fi ;;
    esac
  done
  echo "$readiness"
}

# Waits for the next of run_stages' running stages to end, and shows its
# output, its verdict and its time.
end_next_stage() {
  local name status
  read -r name status <&"$ended"
  wait "${running[$name]}" || true
  unset "running[$name]"
  seconds[$name]=$((($(now_us) - started[$name] + 500000) / 1000000))
  cat "$logs/$name.log"
  if [ "$status" -eq 0 ]; then
    state[$name]=passed
    echo "== $name: passed in ${seconds[$name]} s"
  else
    state[$name]=failed
    echo "== $name: failed in ${seconds[$name]} s, with status $status" \
      "(its output: $logs/$name.log)"
  fi
}

# Ends the given stages' process groups: their programs end their own
# children (the suites end their Wine) on the way out.
end_stages() {
  local pid
  for pid in "$@"; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done
  wait
}

# Prints the table of the stages run, and the counts; fails if any failed.
# Reads run_stages' state and seconds.
stage_table() {
  local total=$1 name passed=0 failed=0
  shift
  printf '\n%-20s %-8s %7s\n' Stage Result Seconds
  for name in "$@"; do
    printf '%-20s %-8s %7s\n' "$name" "${state[$name]}" "${seconds[$name]}"
    if [ "${state[$name]}" = passed ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  done
  printf '%-20s %-8s %7s\n' "(all, side by side)" "" "$total"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
