#!/bin/sh
# Runs tarvo-bench-flash alternately without and with the status load (--status 16: status
# server, Prometheus scraping every second, 16 clients on /events), PAIRS times, and prints one
# line per run: the load average, the worst port's excess over its protocol bound, the station's
# CPU time, and with the status load the server's and the model feeding's CPU time.
#
# usage: bench/flash/status-pairs.sh BUILD_DIR PAIRS KIB PORTS [CLIENTS]
# MODES="on" (or "off") runs one side only.
set -eu
bench="$1/bench/flash/tarvo-bench-flash"
pairs="$2"
kib="$3"
ports="$4"
clients="${5:-16}"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
i=1
while [ "$i" -le "$pairs" ]; do
    for mode in ${MODES:-off on}; do
        load=$(cut -d' ' -f1 /proc/loadavg)
        if [ "$mode" = on ]; then
            "$bench" --kib "$kib" --ports "$ports" --status "$clients" >"$out" || { cat "$out"; exit 1; }
        else
            "$bench" --kib "$kib" --ports "$ports" >"$out" || { cat "$out"; exit 1; }
        fi
        worst=$(sed -n 's/^worst port: \([0-9.]*\) %.*/\1/p' "$out")
        cpu=$(sed -n 's/^station CPU: \([0-9.]*\) s .*: \([0-9.]*\) ms per MB; \([0-9]*\) context.*/\1 s (\2 ms\/MB, \3 cs)/p' "$out")
        status=$(sed -n 's/^status CPU: server threads \([0-9.]*\) s, feeding the model \([0-9.]*\) s.*over \([0-9.]*\) s: \([0-9.]*\) %.*/server \1 s + feed \2 s over \3 s = \4 %/p' "$out")
        scrapes=$(sed -n 's/^status server: .*Prometheus: \([0-9]*\) scrapes.*/\1 scrapes/p' "$out")
        events=$(sed -n 's/^event clients: \([0-9]*\), fewest events received \([0-9]*\) of \([0-9]*\).*/\1 clients got \2 of \3 events/p' "$out")
        echo "pair $i $mode: load $load; worst port +$worst %; station CPU $cpu${status:+; $status; $scrapes; $events}"
    done
    i=$((i + 1))
done
