#!/usr/bin/env bash
# A production line on one machine: one throwaway PostgreSQL database, three demo stations (each a
# folder with quenby-run, its settings and four simulated modules from quenby-modsim), one
# quenby-sync per station following its logs, a few rounds on every station, then the line's
# report from the database (quenby-report --db). Everything it starts is stopped and removed at
# the end; the report stays as ./Line_Report.html (or the file given as the first argument).
# Installs missing Debian packages and builds first (needs root on a fresh machine).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-Line_Report.html}")
rounds=${ROUNDS:-3}

./scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quenby-run quenby-modsim quenby-demo-files quenby-sync \
  quenby-report >&2
bin="$root/build/bin"

pgbin=$(pg_config --bindir 2>/dev/null || true)
[ -x "$pgbin/initdb" ] || pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$pgbin/initdb" ] || { echo "No PostgreSQL server programs (initdb, pg_ctl) found" >&2; exit 1; }

work=$(mktemp -d /tmp/quenby-line-XXXXXX)
chmod 755 "$work"
db="$work/db"
mkdir "$db"
# The server refuses to run as root: then it runs as postgres, in a folder of its own.
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$db"
  as_server=(runuser -u postgres --)
fi
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "${as_server[@]}" "$pgbin/pg_ctl" -D "$db/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== One database for the line (socket in $db, no TCP port) =="
"${as_server[@]}" "$pgbin/initdb" -D "$db/data" -U postgres -A trust -E UTF8 --locale=C >"$work/initdb.log"
"${as_server[@]}" "$pgbin/pg_ctl" -D "$db/data" -l "$db/server.log" -w \
  -o "-c listen_addresses='' -k $db" start >/dev/null
"${as_server[@]}" "$pgbin/createdb" -h "$db" -U postgres line
conninfo="host=$db user=postgres dbname=line"

stations=(station-1 station-2 station-3)
for s in "${stations[@]}"; do
  folder="$work/$s"
  mkdir -p "$folder"
  cp "$bin/quenby-run" "$folder/"
  cp "$bin/demo/scat.txt" "$folder/scat.txt"
  "$root/scripts/demo-settings.sh" "$bin/demo" "1,2,3,4," > "$folder/Torvane.ini"
  "$bin/quenby-modsim" --ports-dir "$folder/ports" --com 1-4 --scenario docs/demo-scenario.ini \
    >"$work/$s-modsim.log" 2>&1 &
  pids+=($!)
  "$bin/quenby-sync" --station "$s" --db "$conninfo" "$folder" 2>"$work/$s-sync.log" &
  pids+=($!)
done
for s in "${stations[@]}"; do
  for _ in $(seq 1 100); do
    grep -q '^ready$' "$work/$s-modsim.log" && break
    sleep 0.1
  done
done

echo "== $rounds round(s) on four ports of each of ${#stations[@]} stations, all at once =="
runners=()
for s in "${stations[@]}"; do
  "$work/$s/quenby-run" --rounds "$rounds" >"$work/$s-run.log" 2>&1 &
  runners+=($!)
done
for p in "${runners[@]}"; do wait "$p" || true; done

lines=0
for s in "${stations[@]}"; do
  n=$(cat "$work/$s"/Test_Log_*.csv 2>/dev/null | grep -c '^' || true)
  lines=$((lines + n - $(ls "$work/$s"/Test_Log_*.csv | wc -l)))
done
echo "== Waiting for the $lines logged runs to be in the database =="
rows=0
for _ in $(seq 1 300); do
  rows=$(psql -h "$db" -U postgres -d line -tAc "SELECT count(*) FROM runs" 2>/dev/null || echo 0)
  [ "$rows" = "$lines" ] && break
  sleep 0.1
done
echo "runs in the logs: $lines, rows in the database: $rows"
for s in "${stations[@]}"; do sed "s/^/[$s] /" "$work/$s-sync.log"; done

echo "== The line's report =="
"$bin/quenby-report" --db "$conninfo" --out "$out"
first=$(psql -h "$db" -U postgres -d line -tAc \
  "SELECT serial_number FROM runs WHERE serial_number <> '' ORDER BY tested_at LIMIT 1" 2>/dev/null || true)
if [ -n "$first" ]; then
  echo "== quenby-sync --history $first =="
  "$bin/quenby-sync" --db "$conninfo" --history "$first" || true
fi
[ "$rows" = "$lines" ]
