# shellcheck shell=bash
# Sourced by scripts/lib's starters of private components (audio-server,
# wine-prefix), with $dir set: every process started is recorded by its pid and
# stopped by it when the starter ends, newest first. The caller stops the
# starter by the pid it recorded, with SIGTERM; should the starter be killed,
# what it started dies with it.
: "${dir:?set by the starter}"
pids=() names=()

# Stops what was started and exits; first `on_stop`, when there is one.
stop() {
  local status=$?
  trap - EXIT TERM
  [ "$(type -t on_stop)" = function ] && on_stop
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait
  exit "$status"
}
trap stop EXIT
trap 'exit 143' TERM

# In the background, standard input from /dev/null, killed should the starter die.
start() {
  setpriv --pdeathsig KILL -- "$@" </dev/null &
  pids+=($!) names+=("$1")
}

# Exits, saying which, once a process it started has ended.
alive() {
  for i in "${!pids[@]}"; do
    kill -0 "${pids[i]}" 2>/dev/null || { echo "${0##*/}: ${names[i]} (pid ${pids[i]}) ended" >&2; exit 1; }
  done
}

# Up to 15 s for a command to succeed while every process runs: await <what> <command...>
await() {
  local what=$1
  shift
  for ((n = 0; n < 300; n++)); do
    "$@" >/dev/null 2>&1 && return
    alive
    sleep 0.05
  done
  echo "${0##*/}: no $what in 15 s" >&2
  exit 1
}

# Tells the caller it is ready and serves until a process ends or SIGTERM:
# serve <index of the main process> <what <dir>/ready holds> <KEY=VALUE...>
# writes <dir>/pids ("<pid> <program>" lines, the main process first), <dir>/env
# (the clients' variables; an empty value means: unset it) and, last, <dir>/ready.
serve() {
  local main=$1 ready=$2
  shift 2
  {
    echo "${pids[main]} ${names[main]}"
    for i in "${!pids[@]}"; do [ "$i" = "$main" ] || echo "${pids[i]} ${names[i]}"; done
  } >"$dir/pids"
  printf '%s\n' "$@" >"$dir/env"
  echo "$ready" >"$dir/ready.new" && mv "$dir/ready.new" "$dir/ready"
  wait -n
  alive
  exit 1
}
