#!/bin/sh
# Reads of a line database holding a million records: starts a PostgreSQL 15 server in a
# temporary folder on a free loopback port (as "nobody" when run as root), fills it with
# realistic records (8 ports, 4 stations, 3 images, 90 days, 97 % PASS, both SHA-256 digests),
# then lists them all as CSV and summarises them by port and by day under /usr/bin/time -v,
# printing wall time and the client's peak resident memory. The server is stopped and the
# folder removed at the end.
#
# usage: bench/record/line-million.sh [TARVO_CLI] [COUNT]
# A tarvo-cli without `records migrate` (an older one, to compare) makes its schema on its
# first connection.
set -eu
cli=${1:-build/default/tools/cli/tarvo-cli}
count=${2:-1000000}
bin=/usr/lib/postgresql/15/bin
dir=$(mktemp -d /tmp/tarvo-bench-line-XXXXXX)
as=""
if [ "$(id -u)" = 0 ]; then
    chown nobody "$dir"
    as="runuser -u nobody --"
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cleanup() {
    $as "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
$as "$bin/initdb" -D "$dir/data" -A trust -U tarvo --no-sync -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
$as "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
url="postgresql://tarvo@127.0.0.1:$port/postgres"

"$cli" records migrate --db "$url" 2>/dev/null || "$cli" records --db "$url" >/dev/null
psql -q "$url" <<SQL
INSERT INTO runs (run_id, station, host, operator, tarvo_version, port, device, device_resolved,
                  started_at, ended_at, result, status, text, loader, loader_version, checksums,
                  main_software, main_sha256, image, image_sha256, image_bytes, bytes_sent,
                  wait_ms, monitor_ms, erase_ms, download_ms, verify_ms, total_ms, unit)
SELECT md5(g::text)::uuid::text, 'line-' || (1 + g % 4), 'station-' || (1 + g % 4), 'operator',
       '1.3', 5 + g % 8, '/dev/serial/by-path/pci-0000:00:14.0-usb-0:' || (1 + g % 8) || ':1.0-port0',
       '/dev/ttyUSB' || (g % 8),
       timestamptz '2026-09-08 00:00Z' + (g * 7.776) * interval '1 second',
       timestamptz '2026-09-08 00:01:40Z' + (g * 7.776) * interval '1 second',
       CASE WHEN g % 100 < 97 THEN 'PASS' WHEN g % 100 < 99 THEN 'FAIL' ELSE 'ERROR' END,
       CASE WHEN g % 100 < 97 THEN 20 ELSE 21 END, 'Download complete', 'flashloader', '3.12',
       '1A2B,1A2C', '/srv/images/gsm-v4.2.' || (g % 3) || '.m0', encode(sha256(g::text::bytea), 'hex'),
       '/srv/images/gsm-v4.2.' || (g % 3) || '.cp64', encode(sha256((g % 3)::text::bytea), 'hex'),
       4194304, 4194304, 800 + g % 400, 1200, 15000 + g % 3000, 70000 + g % 9000, 9000,
       96000 + g % 9000, 'SN' || lpad(g::text, 10, '0')
FROM generate_series(1, $count) g;
ANALYZE runs;
SQL
echo "line database: $(psql -tA "$url" -c "SELECT count(*) || ' records, ' || pg_size_pretty(pg_total_relation_size('runs')) FROM runs")"

measure() {
    /usr/bin/time -v "$@" 2>"$dir/time.log" >"$dir/out" ||
        echo "exit status $?: $(grep -v '^[[:space:]]' "$dir/time.log" | head -3)"
    printf '%-60s %8s s wall, %6s KiB max RSS, %s lines\n' "$*" \
        "$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/time.log")" \
        "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.log")" \
        "$(wc -l <"$dir/out")"
}
measure "$cli" records --db "$url" --format csv
measure "$cli" records --db "$url"
measure "$cli" records summary --db "$url" --by port
measure "$cli" records summary --db "$url" --by day
measure "$cli" records summary --db "$url" --by station --since 2026-11-30
