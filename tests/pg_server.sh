#!/usr/bin/env bash
# Starts or stops the PostgreSQL server of a test run: its own cluster in
# DIR, on a free loopback port, trust authentication, a role "brakmor".
#   pg_server.sh start DIR   -> writes DIR/port
#   pg_server.sh stop DIR
#   pg_server.sh resume DIR  -> starts a stopped server again, same data, same port
set -euo pipefail
cmd=$1
dir=$2
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bindir/initdb" ] || { echo "pg_server: no PostgreSQL server installed (postgresql package)" >&2; exit 1; }
as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$cmd" in
  start)
    if [ -f "$dir/port" ] && as_pg "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then exit 0; fi
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as_pg "$bindir/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log" >&2; exit 1; }
    # A free port: ask the kernel for one.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    as_pg "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=on -c max_connections=200" start >/dev/null \
      || { cat "$dir/server.log" >&2; exit 1; }
    as_pg "$bindir/psql" -h 127.0.0.1 -p "$port" -U postgres -d postgres -qAt \
      -c "CREATE ROLE brakmor LOGIN SUPERUSER PASSWORD 'secret'" >/dev/null
    echo "$port" > "$dir/port"
    chmod 0755 "$dir"
    echo "PostgreSQL test server on 127.0.0.1:$port ($dir)"
    ;;
  resume)
    port=$(cat "$dir/port")
    as_pg "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=on -c max_connections=200" start >/dev/null \
      || { tail -5 "$dir/server.log" >&2; exit 1; }
    ;;
  stop)
    [ -d "$dir/data" ] && as_pg "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
  *) echo "usage: pg_server.sh start|stop DIR" >&2; exit 2 ;;
esac
