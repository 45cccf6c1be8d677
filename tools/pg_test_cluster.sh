#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the test suite, on a Unix socket only, in
# a folder of its own:  pg_test_cluster.sh start DIR [durable]  |  stop DIR
# Tests run it without waiting for the disk; "durable" (for the benchmarks)
# keeps the server's usual fsync, as a laboratory's server would.
# As root it runs as the "postgres" user (initdb refuses root).
set -euo pipefail
action=$1
dir=$2
fast="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
if [ "${3:-}" = durable ]; then fast=""; fi
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$action" in
start)
    "$0" stop "$dir" # what a killed run left behind
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir"; fi
    as_owner "$bin/initdb" -D "$dir/data" -U tavora_test --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' $fast -c max_connections=100" start >/dev/null
    # Every test connects as the cluster's own superuser; test folders must
    # be able to reach the socket.
    chmod 755 "$dir"
    ;;
stop)
    if [ -d "$dir/data" ]; then as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null || true; fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
