# Sourced by run.sh and scripts/screenshots.sh: the demo settings beside the program and four
# simulated modules on ports/COM1 .. ports/COM4. Expects $bin (the program folder) and the
# project's root as the current folder. Defines stop_sim, and starts the simulator as $sim.

demo="$bin/demo"

# A demo settings file beside the program, unless the operator has one there already: ports 1 to
# 4 chosen, every offered item, the demo Download Agent and ROM, the version text the demo ROM
# carries.
write_demo_settings() {
  if [ ! -f "$bin/Torvane.ini" ]; then
    "$(dirname "${BASH_SOURCE[0]}")/demo-settings.sh" "$demo" "1,2,3,4," > "$bin/Torvane.ini"
    echo "Wrote the demo settings $bin/Torvane.ini" >&2
  fi
  cp -f "$demo/scat.txt" "$bin/scat.txt"
}

# Four simulated modules, linked as ports/COM1 .. ports/COM4 beside the program.
start_sim() {
  sim_out=$(mktemp)
  "$bin/quenby-modsim" --ports-dir "$bin/ports" --com 1-4 --scenario docs/demo-scenario.ini \
    >"$sim_out" 2>&1 &
  sim=$!
  for _ in $(seq 1 100); do
    grep -q '^ready$' "$sim_out" && return 0
    kill -0 "$sim" 2>/dev/null || { cat "$sim_out" >&2; return 1; }
    sleep 0.1
  done
  echo "The simulator did not get ready" >&2
  return 1
}

stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$sim_out"
}
