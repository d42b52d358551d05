#!/usr/bin/env bash
# The Debian package of this build: its control fields and files, its programs run from an
# extracted tree (one round of quenby-run against quenby-modsim in the installed station folder),
# its maintainer scripts keeping the station's files on remove and dropping them on purge, and
# every Depends resolved by apt.
#   package_test.sh BUILD_DIR SOURCE_DIR VERSION HAS_STATION HAS_REPORT HAS_SYNC
set -euo pipefail
build=$1 source=$2 version=$3 has_station=$4 has_report=$5 has_sync=$6

work=$(mktemp -d)
sim=
cleanup() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

arch=$(dpkg --print-architecture)
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  exit 1
fi
deb="$work/out/quenby_${version}_${arch}.deb"
[ -f "$deb" ] || { fail "no $(basename "$deb") in: $(ls "$work/out")"; exit 1; }

# ---- Control fields ----
field() { dpkg-deb -f "$deb" "$1"; }
while read -r name value; do
  [ "$(field "$name")" = "$value" ] || fail "$name is '$(field "$name")', expected '$value'"
done <<FIELDS
Package quenby
Version $version
Architecture $arch
Section electronics
Priority optional
FIELDS
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
needed=(adduser qt6-qpa-plugins libstdc++6)
[ "$has_station" = 1 ] && needed+=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6)
[ "$has_report" = 1 ] && needed+=(libqt6svg6 libcsv3)
[ "$has_sync" = 1 ] && needed+=(libpq5)
depended=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
for package in "${needed[@]}"; do
  grep -qxF "$package" <<<"$depended" || fail "Depends lacks $package: $depends"
done

# ---- Files: exactly these, root's, programs executable ----
program="-rwxr-xr-x root/root"
data="-rw-r--r-- root/root"
expected=("$program ./opt/quenby/quenby-run" "$program ./opt/quenby/quenby-ports"
  "$program ./opt/quenby/quenby-modsim" "$program ./usr/bin/quenby-run"
  "$program ./usr/bin/quenby-ports")
if [ "$has_station" = 1 ]; then
  expected+=("$program ./opt/quenby/quenby" "$program ./usr/bin/quenby"
    "$data ./usr/share/applications/quenby.desktop"
    "$data ./usr/share/applications/quenby-engineer.desktop"
    "$data ./usr/share/icons/hicolor/scalable/apps/quenby.svg")
fi
if [ "$has_report" = 1 ]; then
  expected+=("$program ./opt/quenby/quenby-report" "$program ./usr/bin/quenby-report")
fi
if [ "$has_sync" = 1 ]; then
  expected+=("$program ./opt/quenby/quenby-sync")
  if [ -f "$source/packaging/quenby-sync.service" ]; then
    expected+=("$data ./lib/systemd/system/quenby-sync.service")
  fi
fi
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort >"$work/files"
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
diff -u "$work/expected" "$work/files" >&2 || fail "the package's files differ (- expected, + packed)"

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script is no valid shell script"
done
[ ! -e "$work/control/conffiles" ] || fail "conffiles: $(cat "$work/control/conffiles")"

# ---- The extracted programs ----
root="$work/root"
station="$root/opt/quenby"
dpkg-deb -x "$deb" "$root"
for exe in "$station"/*; do
  name=$(basename "$exe")
  # Every library the programs load is the system's: no search path into the build.
  if readelf -d "$exe" | grep -Eq 'RPATH|RUNPATH'; then
    fail "$name has a library search path: $(readelf -d "$exe" | grep -E 'RPATH|RUNPATH')"
  fi
  if ldd "$exe" | grep -q 'not found'; then fail "$name: $(ldd "$exe" | grep 'not found')"; fi
  if [ "$name" != quenby ] && [ "$name" != quenby-sync ]; then
    printed=$("$exe" --version) || fail "$name --version failed"
    [ "$printed" = "$name $version" ] || fail "$name --version printed '$printed'"
  fi
done
for command in "$root"/usr/bin/*; do
  name=$(basename "$command")
  grep -qx "exec /opt/quenby/$name \"\$@\"" "$command" || fail "$command does not start $name"
  grep -qx "umask 002" "$command" || fail "$command leaves the umask"
done
if [ "$has_station" = 1 ]; then
  while read -r entry exec; do
    file="$root/usr/share/applications/$entry"
    grep -qx "Exec=$exec" "$file" || fail "$entry: $(grep Exec= "$file")"
    [ -x "$root/usr/bin/${exec%% *}" ] || fail "$entry runs ${exec%% *}, which is not in /usr/bin"
    grep -qx "Icon=quenby" "$file" || fail "$entry has no quenby icon"
    grep -Eq "^Categories=.*Electronics;.*Engineering;" "$file" || fail "$entry: not in Electronics"
  done <<ENTRIES
quenby.desktop quenby
quenby-engineer.desktop quenby --engineer
ENTRIES
fi

# ---- One round in the installed station folder ----
"$source/scripts/demo-settings.sh" "$build/bin/demo" "1," >"$station/Torvane.ini"
cp "$build/bin/demo/scat.txt" "$station/scat.txt"
logs=(no-log)
exec 3< <(exec "$station/quenby-modsim" --ports-dir "$station/ports" --com 1 \
  --scenario "$source/docs/demo-scenario.ini" 2>"$work/sim.err")
sim=$!
if read -r -t 20 -u 3 ready && [ "$ready" = ready ]; then
  status=0
  timeout 180 "$station/quenby-run" >"$work/run.out" 2>"$work/run.err" || status=$?
  [ "$status" = 0 ] || fail "quenby-run exited with $status: $(tail -n 5 "$work/run.out") $(cat "$work/run.err")"
  logs=("$station"/Test_Log_*.csv)
  if [ -f "${logs[0]}" ]; then
    grep -q '^,Pass,.*,COM1,' "${logs[0]}" || fail "no passing run of COM1 in $(cat "${logs[0]}")"
    cmp -s "${logs[0]}" "$station/backup/B$(basename "${logs[0]}")" || fail "no backup of the log"
  else
    fail "no test log in $station"
  fi
else
  fail "quenby-modsim did not get ready: $(cat "$work/sim.err")"
fi
kill "$sim" 2>/dev/null || true
exec 3<&-
sim=

# ---- Remove keeps the station's files, purge drops them ----
station_files=(Torvane.ini scat.txt ports backup "$(basename "${logs[0]}")")
DPKG_ROOT="$root" "$work/control/postrm" remove
for kept in "${station_files[@]}"; do
  [ -e "$station/$kept" ] || fail "remove took $kept"
done
DPKG_ROOT="$root" "$work/control/postrm" purge
[ ! -e "$station" ] || fail "purge left $(ls "$station")"

# ---- Every Depends has a candidate that satisfies it ----
IFS=',' read -ra items <<<"$depends"
for item in "${items[@]}"; do
  satisfied=no
  IFS='|' read -ra choices <<<"$item"
  for choice in "${choices[@]}"; do
    read -r name constraint <<<"$choice"
    name=${name%%:*}
    candidate=$(apt-cache policy "$name" | awk '/Candidate:/ {print $2}')
    [ -n "$candidate" ] && [ "$candidate" != "(none)" ] || continue
    if [ -n "$constraint" ]; then
      read -r relation wanted <<<"${constraint//[()]/}"
      dpkg --compare-versions "$candidate" "$relation" "$wanted" || continue
    fi
    satisfied=yes
    break
  done
  [ "$satisfied" = yes ] || fail "Depends '$item' has no candidate in apt-cache policy"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) of $(basename "$deb") failed" >&2
  exit 1
fi
echo "$(basename "$deb"): control, files, programs, one round, remove and purge, Depends: all good"
