#!/usr/bin/env python3
"""Check a file of RIPE Atlas traceroute results (one JSON object per line)
against RIPE's own parser, ripe.atlas.sagan, in its strictest mode.

sagan coerces silently (rtt "1.5" -> 1.5, rtt "abc" -> None, ttl 64.9 -> 64,
"from": null -> "None", NaN accepted), so the raw JSON types are checked too.

Usage: atlas_check.py FILE    (exit status 0 only if every line passes)
"""
import ipaddress
import json
import math
import sys

from ripe.atlas.sagan import TracerouteResult

STRICT = TracerouteResult.ACTION_FAIL


class Bad(Exception):
    pass


def need(cond, msg):
    if not cond:
        raise Bad(msg)


def is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def is_num(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def no_constants(name):
    raise Bad("non-finite number %s in JSON" % name)


def check_ip(text, af, what):
    need(isinstance(text, str), "%s is not a string: %r" % (what, text))
    try:
        ip = ipaddress.ip_address(text)
    except ValueError:
        raise Bad("%s is not an IP address: %r" % (what, text))
    need(ip.version == af, "%s %s is not IPv%d" % (what, text, af))
    # sagan compares addresses as plain strings, so only the canonical
    # (compressed, lower-case) form makes destination_ip_responded right.
    need(str(ip) == text, "%s %r is not canonical (%s)" % (what, text, ip))


def check_raw(raw):
    need(isinstance(raw, dict), "line is not a JSON object")
    need(raw.get("type") == "traceroute", "type is not \"traceroute\"")
    for key in ("fw", "msm_id", "prb_id", "timestamp", "af"):
        need(is_int(raw.get(key)), "%s missing or not an integer" % key)
    for key in ("endtime", "lts", "paris_id", "size"):
        if key in raw:
            need(is_int(raw[key]), "%s is not an integer" % key)
    # fw 1..4459 makes sagan read the family from "pf" instead of "af"
    need(raw["fw"] >= 4460, "fw %r < 4460" % raw["fw"])
    af = raw["af"]
    need(af in (4, 6), "af %r is not 4 or 6" % af)
    check_ip(raw.get("dst_addr"), af, "dst_addr")
    if "src_addr" in raw:
        check_ip(raw["src_addr"], af, "src_addr")
    for key in ("dst_name", "from", "msm_name"):
        if key in raw:
            need(isinstance(raw[key], str), "%s is not a string" % key)
    need(raw.get("proto") in ("ICMP", "UDP", "TCP"), "bad proto %r"
         % raw.get("proto"))
    hops = raw.get("result")
    need(isinstance(hops, list) and hops, "result missing or not a non-empty list")
    last = None
    for hop in hops:
        need(isinstance(hop, dict), "hop is not an object: %r" % (hop,))
        n = hop.get("hop")
        need(is_int(n) and n >= 1, "bad hop number %r" % (n,))
        need(last is None or n == last + 1, "hop %d follows hop %s" % (n, last))
        last = n
        packets = hop.get("result")
        need(isinstance(packets, list) and packets,
             "hop %d: result missing or empty" % n)
        for p in packets:
            need(isinstance(p, dict), "hop %d: packet not an object" % n)
            if "x" in p:
                need(p == {"x": "*"}, "hop %d: bad loss entry %r" % (n, p))
                continue
            check_ip(p.get("from"), af, "hop %d from" % n)
            rtt = p.get("rtt")
            need(is_num(rtt) and math.isfinite(rtt) and rtt >= 0,
                 "hop %d: rtt %r is not a non-negative number" % (n, rtt))
            # a reply's size is optional: Korvalen does not keep it
            need(is_int(p.get("size", 0)), "hop %d: size not an integer" % n)
            ttl = p.get("ttl")
            need(is_int(ttl) and 0 <= ttl <= 255, "hop %d: bad ttl %r" % (n, ttl))
    return hops


def check_line(line):
    r = TracerouteResult(line, on_error=STRICT, on_malformation=STRICT)
    raw = json.loads(line, parse_constant=no_constants)
    hops = check_raw(raw)
    need(not r.is_malformed, "sagan: malformed")
    need(not r.is_error, "sagan: error %s" % r.error_message)
    for h in r.hops:
        need(not h.is_error, "sagan: hop %s error %s" % (h.index, h.error_message))
        for p in h.packets:
            need(not p.is_error, "sagan: hop %s packet error" % h.index)
    need(r.af == raw["af"], "sagan af %r != %r" % (r.af, raw["af"]))
    need(r.total_hops == len(hops) == len(r.hops), "sagan hop count differs")
    reached = [i for i, h in enumerate(hops)
               if any(p.get("from") == raw["dst_addr"] for p in h["result"])]
    need(not reached or reached == [len(hops) - 1],
         "destination answers before the last hop")
    need(r.destination_ip_responded == bool(reached),
         "sagan destination_ip_responded is %s" % r.destination_ip_responded)
    return r


def show(n, r):
    print("run %d: af=%s destination=%s (%s) total_hops=%d "
          "destination_ip_responded=%s" % (n, r.af, r.destination_address,
                                           r.destination_name, r.total_hops,
                                           r.destination_ip_responded))
    for h in r.hops:
        cells = ["*" if p.origin is None else
                 "%s rtt=%.3f ttl=%d" % (p.origin, p.rtt, p.ttl)
                 for p in h.packets]
        print("  hop %s: %s" % (h.index, " | ".join(cells)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: atlas_check.py FILE")
    failures = runs = 0
    with open(sys.argv[1], encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            if not line.strip():
                continue
            runs += 1
            try:
                show(n, check_line(line))
            except Exception as e:  # sagan may raise TypeError etc. too
                failures += 1
                print("line %d: FAIL %s: %s" % (n, type(e).__name__, e))
    print("%d run(s), %d failure(s)" % (runs, failures))
    sys.exit(1 if failures or not runs else 0)


if __name__ == "__main__":
    main()
