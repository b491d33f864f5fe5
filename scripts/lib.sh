# Shared by the scripts that run the virtual device: source it after setting
# `root` to the project folder.

# Builds the updater and the virtual device in build/native.
build_tools() {
  cmake -S "$root" -B "$root/build/native" -G Ninja -DZELMIRAN_WERROR=ON >/dev/null
  cmake --build "$root/build/native" --target zelmiran-update zelmiran-sim >/dev/null
}

# sim_start SIM FOLDER LINK [option ...]: starts the virtual device SIM with
# its pseudo-terminal linked as LINK and its files in FOLDER (ready, status
# report status.json, standard error sim.log); sets sim_pid and sim_folder.
# Fails, showing the device's own words, when it is not ready in ten seconds.
sim_start() {
  local sim=$1 folder=$2 link=$3
  shift 3
  rm -f "$folder/ready" "$folder/status.json"
  "$sim" --link "$link" --ready "$folder/ready" --status "$folder/status.json" "$@" 2>"$folder/sim.log" &
  sim_pid=$!
  sim_folder=$folder
  for _ in $(seq 100); do
    [ -e "$folder/ready" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "The virtual device did not start:" >&2
  cat "$folder/sim.log" >&2
  kill "$sim_pid" 2>/dev/null || true
  sim_pid=
  return 1
}

# Stops the device; it writes its status report as it ends.
sim_stop() {
  [ -n "${sim_pid:-}" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

# sim_status KEY: the value of KEY in the last status report, without the
# comma that may follow it.
sim_status() { sed -n "s/^ *\"$1\": \\(.*[^,]\\),\\{0,1\\}\$/\\1/p" "$sim_folder/status.json"; }
