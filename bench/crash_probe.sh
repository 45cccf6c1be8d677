#!/usr/bin/env bash
# The crash probe: kills a workstation saving, a backup and a restore at
# random moments (kill -9), N times each (100 unless given), and after every
# kill checks that the database passes its integrity check, that every save
# that was confirmed is there, and that no partial copy is left behind by the
# next backup.
#   bench/crash_probe.sh [N]        (after ./test.sh has built into build/)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
admin=build/tavora-lab-admin
writer=build/bench/crash_writer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${KEEP:-}" ] && trap - EXIT
db="$work/tavora lab.mdb"
backups="$work/back_up"
mkdir -p "$backups"
export QT_QPA_PLATFORM=offscreen
"$admin" init "$db" > /dev/null

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
pause() { sleep "0.$(printf '%03d' $((RANDOM % ${1:-300})))"; }
checked() { "$admin" check --db "$db" > /dev/null 2>&1 || fail "check after $1"; }
# Runs the admin tool in the background and kills it within $1 ms.
killed_admin() {
    local within=$1
    shift
    "$admin" "$@" > /dev/null 2>&1 &
    local pid=$!
    pause "$within"
    kill -9 "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
}

# Saves: every confirmed one must survive the kill.
for i in $(seq "$runs"); do
    "$writer" "$work" > "$work/saved" 2> "$work/writer.err" &
    pid=$!
    pause 300
    kill -9 "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    checked "killed save $i"
    last=$(tail -n 1 "$work/saved" | awk '{print $2}')
    if [ -n "$last" ]; then
        found=$(sqlite3 "$db" "select count(*) from test_main where lab_id = $last") || found=0
        [ "$found" = 1 ] || fail "confirmed save of lab $last lost after kill $i"
        rows=$(sqlite3 "$db" "select count(*) from Routine_haemotology where lab_id = $last") || rows=0
        [ "$rows" = 20 ] || fail "save of lab $last partial ($rows rows) after kill $i"
    fi
done
partial_reports=$(sqlite3 "$db" "select count(*) from test_main t where (select count(*) from Routine_haemotology r where r.lab_id = t.lab_id) <> 20")
[ "$partial_reports" = 0 ] || fail "$partial_reports partial reports"
echo "saves: $runs killed, $(sqlite3 "$db" 'select count(*) from test_main') reports stored, none partial"

# Backups: killed at random; the next backup leaves no partial copy behind.
for i in $(seq "$runs"); do
    killed_admin 60 backup --db "$db" --to "$backups"
    checked "killed backup $i"
done
"$admin" backup --db "$db" --to "$backups" > /dev/null || fail "backup after the kills"
left=$(find "$backups" -name '.partial-*' | wc -l)
[ "$left" = 0 ] || { fail "$left partial files left in the backup folder"; ls -la "$backups"; }
echo "backups: $runs killed, $left partial files left after the next backup"

# Restores: killed at random; the file is the old or the restored one, whole.
backup=$(find "$backups" -name 'tavora lab*.mdb' | head -n 1)
for i in $(seq "$runs"); do
    killed_admin 60 restore "$backup" --db "$db" --force
    checked "killed restore $i"
done
echo "restores: $runs killed"
echo "$((runs * 3 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
