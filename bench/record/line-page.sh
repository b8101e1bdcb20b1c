#!/bin/sh
# The line page over a line database of a million records from 20 stations: starts a
# PostgreSQL 15 server in a temporary folder on a free loopback port (as "nobody" when run as
# root), fills it with records of the last 30 days (SPAN) (8 ports per station, 97 % PASS, a few
# failure reasons), starts `tarvo-cli line` on another free loopback port and times five
# requests of /api/line and of /metrics, each after the page's one-second cache has expired.
# The server and the line page are stopped and the folder removed at the end.
#
# usage: bench/record/line-page.sh [TARVO_CLI] [COUNT] [SPAN]
# SPAN (a PostgreSQL interval, default "30 days") is how far back the records go; "50 minutes"
# puts every record in the last hour and today, the page's worst case.
set -eu
cli=${1:-build/default/tools/cli/tarvo-cli}
count=${2:-1000000}
span=${3:-30 days}
bin=/usr/lib/postgresql/15/bin
dir=$(mktemp -d /tmp/tarvo-bench-linepage-XXXXXX)
as=""
if [ "$(id -u)" = 0 ]; then
    chown nobody "$dir"
    as="runuser -u nobody --"
fi
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
page=""
cleanup() {
    [ -n "$page" ] && kill "$page" 2>/dev/null && wait "$page" 2>/dev/null || true
    $as "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
$as "$bin/initdb" -D "$dir/data" -A trust -U tarvo --no-sync -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
$as "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
url="postgresql://tarvo@127.0.0.1:$port/postgres"

"$cli" records migrate --db "$url" >/dev/null
psql -q "$url" <<SQL
INSERT INTO runs (run_id, station, host, port, device, started_at, ended_at, result, status, text, reason,
                  image, image_sha256, image_bytes, bytes_sent, total_ms, location)
SELECT md5(g::text)::uuid::text, 'station-' || lpad((1 + g % 20)::text, 2, '0'), 'host-' || (1 + g % 20),
       5 + (g / 20) % 8, '/dev/ttyUSB' || ((g / 20) % 8),
       now() - ($count - g) * (interval '$span' / $count),
       now() - ($count - g) * (interval '$span' / $count) + interval '96 seconds',
       CASE WHEN g % 100 < 97 THEN 'PASS' WHEN g % 100 < 99 THEN 'FAIL' ELSE 'ERROR' END,
       CASE WHEN g % 100 < 97 THEN 20 WHEN g % 100 < 99 THEN 21 ELSE 41 END,
       CASE WHEN g % 100 < 97 THEN 'Download complete' ELSE 'Downloading Aborted !!!' END,
       CASE WHEN g % 100 < 97 THEN NULL ELSE (ARRAY['checksum mismatch', 'no answer', 'device lost'])[1 + g % 3] END,
       '/srv/images/gsm-v4.2.cp64', encode(sha256('img'::bytea), 'hex'), 4194304, 4194304, 96000 + g % 9000,
       '1-1.' || (1 + (g / 20) % 8)
FROM generate_series(1, $count) g;
VACUUM ANALYZE runs;  -- as autovacuum leaves a table after a day of inserts
SQL
echo "line database: $(psql -tA "$url" -c "SELECT count(*) || ' records, ' || count(DISTINCT station) || ' stations, ' || pg_size_pretty(pg_total_relation_size('runs')) FROM runs")"

listen=$(free_port)
"$cli" line --db "$url" --listen "127.0.0.1:$listen" >"$dir/line.log" 2>&1 &
page=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "line page" "$dir/line.log" 2>/dev/null && break
    sleep 0.2
done
for path in /api/line /metrics; do
    for i in 1 2 3 4 5; do
        sleep 1.1  # past the page's cache: every request is computed by the server
        curl -s -o "$dir/out" -w "$path: HTTP %{http_code}, %{time_total} s, %{size_download} bytes\n" \
            "http://127.0.0.1:$listen$path"
    done
done
psql -tA "$url" -c "SELECT count(*) || ' stations in tarvo_line_status, ' || sum(hour_runs) || ' runs in the last hour, ' || sum(today_runs) || ' today' FROM tarvo_line_status"
