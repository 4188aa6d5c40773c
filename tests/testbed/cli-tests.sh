#!/bin/bash
# korvalen-cli on the namespace network, both families: each report form read
# by a real parser and held against the known path (r1 silenced, r2 answering
# from two addresses in turn, a 1280-byte link to dst with --mtu), the text
# against the report the trace engine gives the window for the same trace,
# Ctrl+C and SIGTERM in the middle of a trace, failures and their statuses,
# and a run with no display variables at all.
# usage: cli-tests.sh KORVALEN_CLI TRACE_PROBE
set -uo pipefail
CLI=$1
TRACE=$2
export KV_PREFIX=kv-cli-
. "$(dirname "$0")/lib.sh"
require_network_privileges
command -v python3 >/dev/null || skip "the report checks need python3"
bed_up || { echo "FAIL the network does not come up"; exit 1; }
bed silent r1 on
bed mtu 1280

tmp=$(mktemp -d /tmp/kv-cli.XXXXXX)
trap 'stop_background; remove_copies; rm -rf "$tmp"; bed down' EXIT
cli() { on_src env -i PATH=/usr/bin:/bin "$CLI" "$@"; }

# py NAME SCRIPT FILE: runs SCRIPT on FILE; it prints what it found, or "bad: ..."
py() { python3 -c "$2" "$3" 2>&1 | tail -5; }

for family in 4 6; do
    if [ $family = 4 ]; then dst=10.77.4.2 name=dst.kv.test r2=10.77.2.2; else
        dst=2001:db8:77:4::2 name=dst6.kv.test r2=2001:db8:77:2::2; fi
    # ---- JSON: every probe and names (the MTU search's probes would take every
    # other way through r2, so the main probes alone would meet one address)
    rc=0
    cli -q -j --probes -c 4 -W 1 --save "$tmp/s.kvtrace" $name >"$tmp/j" 2>"$tmp/err" || rc=$?
    check "IPv$family json: exit status 0 (the target answered)" 0 $rc
    check "IPv$family json: read by Python's json" "3 hops, $dst reached, names on" "$(py json '
import json, sys
j = json.load(open(sys.argv[1]))
assert j["format"] == "korvalen-report" and j["version"] == 1 and j["ended"] == "completed"
print("%d hops, %s %s, names %s" % (len(j["hops"]), j["target"]["address"],
      "reached" if j["target"]["reached"] else "not reached",
      "on" if j["settings"]["resolve_names"] else "off"))' "$tmp/j")"
    check "IPv$family json: the silent hop, the two addresses, the target" \
        "*** 0/4 no_reply=4 | see Notes !!! $r2 r2a.kv.test +1 | $dst $name 4/4" \
        "$(py json '
import json, sys
h = json.load(open(sys.argv[1]))["hops"]
assert all(isinstance(x["sent"], int) and len(x["probes"]) == 4 for x in h)
assert all(isinstance(p["rtt_ms"], float) for p in h[2]["probes"]) and h[2]["best_ms"] > 0
# the second address of a hop gets no name once the hop is in the Notes, as in the window
print("%s %d/%d no_reply=%d | %s %s | %s %s %d/%d" % (
    h[0]["cells"]["IP address"], h[0]["recv"], h[0]["sent"], h[0]["loss"]["no_reply"],
    h[1]["cells"]["IP address"], " ".join(sorted(a["address"] + " " + a["name"]
        for a in h[1]["addresses"])[0:1]) + " +%d" % (len(h[1]["addresses"]) - 1),
    h[2]["cells"]["IP address"], h[2]["cells"]["Hostname"], h[2]["recv"], h[2]["sent"]))' "$tmp/j")"
    check "IPv$family json: nothing on standard error in a pipe" "" "$(cat "$tmp/err")"

    # ---- the saved trace gives the same report, byte for byte; cut anywhere,
    # it opens with the runs it holds in full
    check "IPv$family saved trace: --open writes the same JSON" "$(cat "$tmp/j")" \
        "$("$CLI" --open "$tmp/s.kvtrace" -j --probes)"
    size=$(stat -c %s "$tmp/s.kvtrace")
    for cut in $((size / 3)) $((size / 2)) $((size - 40)) $((RANDOM % size)); do
        head -c $cut "$tmp/s.kvtrace" >"$tmp/cut.kvtrace"
        # a run's end counts once its line is whole: a last line without its newline is cut
        runs=$(head -n "$(wc -l <"$tmp/cut.kvtrace")" "$tmp/cut.kvtrace" | grep -c '^{"r":')
        sent=$("$CLI" --open "$tmp/cut.kvtrace" -j 2>"$tmp/err" |
            python3 -c 'import json, sys; h = json.load(sys.stdin)["hops"]; print(h[0]["sent"] if h else 0)' 2>&1)
        if [ "$(head -1 "$tmp/cut.kvtrace" | wc -l)" = 0 ]; then runs="refused"; sent=$(grep -c "line 1" "$tmp/err" | sed 's/1/refused/'); fi
        check "IPv$family saved trace cut at byte $cut: its $runs complete runs" "$runs" "$sent"
    done

    # ---- CSV with the MTU search, and Atlas
    cli -q -n -C --mtu -c 3 -W 1 $dst >"$tmp/c"
    check "IPv$family csv: read by Python's csv" "4 lines: 1/***/0 | 2/3 | 3/$dst/3/1280" "$(py csv '
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
# hop 2 answers from either address; the silent hop has no MTU
out = ["/".join([r["hop"], r["recv"]] if r["hop"] == "2" else
                [r["hop"], r["address"], r["recv"], r["mtu"]]).rstrip("/") for r in rows]
print("%d lines: %s" % (len(rows) + 1, " | ".join(out)))' "$tmp/c")"
    cli -q -n --format atlas -c 3 -W 1 $dst >"$tmp/a"
    check "IPv$family atlas: a line a run" "3 runs, af $family, hop 1 lost, last hop $dst" "$(py atlas '
import json, sys
runs = [json.loads(l) for l in open(sys.argv[1])]
r = runs[-1]["result"]
print("%d runs, af %d, hop 1 %s, last hop %s" % (len(runs), runs[0]["af"],
      "lost" if r[0]["result"] == [{"x": "*"}] else "answered", r[-1]["result"][0]["from"]))' "$tmp/a")"
    if python3 -c 'import ripe.atlas.sagan' 2>/dev/null; then
        check_true "IPv$family atlas: RIPE's parser reads every run" "$(python3 \
            "$(dirname "$0")/atlas_check.py" "$tmp/a" 2>&1 | tail -3)" \
            python3 "$(dirname "$0")/atlas_check.py" "$tmp/a"
    elif [ "$(. /etc/os-release && echo "$VERSION_CODENAME")" = bookworm ]; then
        echo "note IPv$family atlas: Debian 12 has no RIPE parser (python3-ripe-atlas-sagan)"
    else
        check "IPv$family atlas: RIPE's parser is installed" yes no
    fi

    # ---- text: the window's report of the same trace, but for line ends and times
    cli -q -n -c 2 -W 1 $dst >"$tmp/t"
    on_src "$TRACE" --runs 2 --timeout 1 --report $dst | sed -n 's/^report //p' | tr -d '\r' >"$tmp/w"
    blank_times='import sys
lines = open(sys.argv[1]).read().split("\n")
head = next(i for i, l in enumerate(lines) if l.startswith("Hop IP address"))
a, b = lines[head].index("Best"), lines[head].index("MTU")
for i in range(head + 1, len(lines)):
    if lines[i] == "": break
    lines[i] = lines[i][:a] + "#" * (b - a) + lines[i][b:]
print("\n".join(lines))'
    check "IPv$family text: the window's report" "$(python3 -c "$blank_times" "$tmp/w")" \
        "$(python3 -c "$blank_times" "$tmp/t")"
    check "IPv$family text: --crlf ends every line in CR LF" "$(wc -l <"$tmp/t")" \
        "$(cli -q -n --crlf -c 2 -W 1 $dst | grep -c $'\r$')"
done

# ---- -4 and -6 pick the family of a name that has both
check "-6 on a dual-stack name" "2001:db8:77:1::1" "$(cli -q -n -6 -c 1 -j r1.kv.test |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["target"]["address"])')"
check "-4 on a dual-stack name" "10.77.1.1" "$(cli -q -n -4 -c 1 -j r1.kv.test |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["target"]["address"])')"

# ---- failures: the message on standard error, the status, valid JSON
rc=0; out=$(cli -q -j -c 1 -4 dst6.kv.test 2>"$tmp/err") || rc=$?
check "a name without an address of the family: status and message" \
    "2 korvalen-cli: Unable to resolve the host name." "$rc $(cat "$tmp/err")"
check "a name without an address: the JSON says why" "Unable to resolve the host name. []" \
    "$(python3 -c 'import json, sys; j = json.loads(sys.argv[1]); print(j["ended"], j["hops"])' "$out")"
rc=0; cli -q -n -c 1 -m 2 -W 1 10.77.9.1 >/dev/null || rc=$?
check "a target that never answers: status 1" 1 $rc
rc=0; cli -q -n -c 1 -m 1 $dst >/dev/full 2>"$tmp/err" || rc=$?
check "a full disk: status 3 and why" "3 korvalen-cli: cannot write the report to standard output: No space left on device" \
    "$rc $(cat "$tmp/err")"
rc=0; cli -q -n -c 1 -m 1 --output /nonexistent/r.txt $dst 2>"$tmp/err" || rc=$?
check "an output file that cannot be made: status 3" 3 $rc
rc=0; cli -q -n -c 1 --output "$tmp/r.txt" $dst || rc=$?
check "an output file: written whole, nothing left beside it" "0 r.txt" "$rc $(ls "$tmp" | grep '^r\.txt')"

# ---- Ctrl+C and SIGTERM: the probe in progress ends at once, the report is written
for sig in INT TERM; do
    on_src env -i PATH=/usr/bin:/bin "$CLI" -q -j -c 50 -W 10 10.77.9.1 >"$tmp/s" &
    pid=$!
    sleep 1.5
    start=$(date +%s%N)
    pkill -$sig -f "korvalen-cli -q -j -c 50" || true
    rc=0; wait $pid || rc=$?
    took=$(( ($(date +%s%N) - start) / 1000000 ))
    [ $sig = INT ] && want=130 || want=143
    check "SIG$sig: status and report" "$want stopped" "$rc $(python3 -c \
        'import json, sys; print(json.load(open(sys.argv[1]))["ended"])' "$tmp/s" 2>&1)"
    check_true "SIG$sig: ends at once" "took $took ms" within "$took" 0 500
done
finish
