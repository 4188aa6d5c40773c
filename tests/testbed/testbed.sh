#!/bin/bash
# Namespace test network for the echo service and the trace.
#
#   src 10.77.1.2 -- r1 ==(r2a 10.77.2.x | r2b 10.77.3.x)== r2 --[MTU 1400]-- dst 10.77.4.2
#                     \                                      /
#                      `--- r3 (return path r2 -> r3 -> r1) '
#                    r1 -- dl (delay line) -- far 10.77.11.2
#
# Forward path to dst: r1 (10.77.1.1), r2 (10.77.2.2 and 10.77.3.2 in turn: r1
# marks every other packet and routes mark 1 over the second link, r2 answers
# from the inbound address), dst (reply TTL 61: the way back has one router
# more). far sits behind a user-space Ethernet delay line (the kernel has no
# netem), so its round-trip time is twice the line's delay.
#   10.77.4.99   no ARP answer: host unreachable from r2 after ~3 s
#   10.77.7.x    host unreachable (r2)      10.77.8.x  admin prohibited (r2)
#   10.77.9.x    silent (blackhole at r2)   10.77.10.x net unreachable (r1)
# ICMP rate limits are off in every namespace; names live in the hosts file of
# src; its resolver never leaves the namespace (files only, 127.0.0.1).
# dnsmasq on r1 (10.77.1.1) serves the same names over DNS, A and PTR (AAAA
# and ip6.arpa PTR for the IPv6 ones); `dns 10.77.1.1` makes src ask it. `slowdns ADDR S` adds a server on r1 at ADDR
# (10.77.1.x) that answers only after S seconds.
# `loop on` adds a routing loop that nothing owns: r1 sends 10.77.50.0/24
# (2001:db8:77:50::/64) to r2 and r2 sends it back, so a probe to 10.77.50.1
# circles until its TTL runs out and every hop answers with a time exceeded,
# r1 and r2 in turn, as far as the TTL goes. Off at start.
#
# Every link is dual-stack: 10.77.N.H is 2001:db8:77:N::H (r2b's end of the
# second link is 2001:db8:77:3:a1b2:c3d4:e5f6:2), with the same routes, the
# same rejects, loss, silence and alternation (ip6 table kv), addresses
# without duplicate detection and ICMPv6 rate limits off. IPv6 routers answer
# from the address the probe came in on. dst6.kv.test and far6.kv.test name
# only IPv6 addresses. An MTU below 1280 takes IPv6 off a link until raised.
#
# usage: testbed.sh up | down | status | exec NODE CMD... |
#        lossevery N | noloss | silent NODE on|off|N | fragdrop on|off |
#        delay MS | mtu N | count NAME MATCH... | counter NAME | nocount |
#        dns ADDR|OPTION... | nodns | unname ADDR... | slowdns ADDR SECONDS |
#        loop on|off
# mtu N sets the r2 -- dst link's MTU (1400 at start).
# KV_PREFIX (default "kv-") prefixes every namespace; KV_DELAYLINE names the
# delay-line program (default: build/tests/testbed/delayline of this tree).
set -euo pipefail

P=${KV_PREFIX:-kv-}
NODES="src r1 r2 r3 dst dl far"
STATE=/run/${P}testbed
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DELAYLINE=${KV_DELAYLINE:-$HERE/../../build/tests/testbed/delayline}
DEFAULT_DELAY_MS=20

x() { local n=$1; shift; ip netns exec "$P$n" "$@"; }

link() { # link nodeA ifA addrA nodeB ifB addrB [mtu]; "-" leaves an end bare
    ip link add "$2" netns "$P$1" type veth peer name "$5" netns "$P$4"
    [ "$3" = - ] || x "$1" ip addr add "$3" dev "$2"
    [ "$6" = - ] || x "$4" ip addr add "$6" dev "$5"
    [ "$3" = - ] || x "$1" ip addr add "$(v6 "$3")" dev "$2" nodad
    [ "$6" = - ] || x "$4" ip addr add "$(v6 "$6")" dev "$5" nodad
    if [ -n "${7:-}" ]; then
        x "$1" ip link set "$2" mtu "$7"
        x "$4" ip link set "$5" mtu "$7"
    fi
    x "$1" ip link set "$2" up
    x "$4" ip link set "$5" up
}

# The IPv6 address of a link end: 10.77.N.H/24 is 2001:db8:77:N::H/64, but
# r2b's end of the second link has a long one.
v6() {
    local a=${1%/*} n h
    n=${a#10.77.}; h=${n#*.}; n=${n%.*}
    if [ "$a" = 10.77.3.2 ]; then echo 2001:db8:77:3:a1b2:c3d4:e5f6:2/64
    else echo "2001:db8:77:$n::$h/64"; fi
}

node() { # a namespace that keeps to itself
    local n=$1
    ip netns add "$P$n"
    x "$n" ip link set lo up
    # before any link exists: no duplicate detection, no autoconfiguration
    x "$n" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
    x "$n" sysctl -qw net.ipv6.conf.all.accept_ra=0 net.ipv6.conf.default.accept_ra=0
    # ratelimit alone leaves time exceeded and unreachable to the global
    # limit (icmp_msgs_per_sec); an empty ratemask spares every type
    x "$n" sysctl -qw net.ipv6.icmp.ratelimit=0 net.ipv6.icmp.ratemask=
    x "$n" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
    x "$n" sysctl -qw net.ipv4.icmp_ratemask=0 net.ipv4.icmp_ratelimit=0
    # before any link exists, so every interface inherits it
    x "$n" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    mkdir -p "/etc/netns/$P$n"
    printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/$P$n/resolv.conf"
    printf 'hosts: files\nnetworks: files\n' >"/etc/netns/$P$n/nsswitch.conf"
    printf '127.0.0.1 localhost\n' >"/etc/netns/$P$n/hosts"
}

stop_delayline() {
    local pid
    [ -f "$STATE/delayline.pid" ] || return 0
    pid=$(cat "$STATE/delayline.pid")
    rm -f "$STATE/delayline.pid"
    # only the process this script started, and only while it still is that program
    if grep -qa delayline "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        while kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
    fi
}

start_delayline() { # start_delayline MS
    stop_delayline
    if [ ! -x "$DELAYLINE" ]; then
        echo "testbed: no delay line at $DELAYLINE; far is unreachable" >&2
        return 0
    fi
    mkdir -p "$STATE"
    # not through x(): $! must be the program itself (ip netns exec execs it)
    ip netns exec "${P}dl" "$DELAYLINE" r1 far "$1" </dev/null >"$STATE/delayline.log" 2>&1 &
    echo $! >"$STATE/delayline.pid"
    echo "$1" >"$STATE/delay"
    wait_reply far 10.77.11.2 || { echo "testbed: far does not answer" >&2; return 1; }
    wait_reply far 2001:db8:77:11::2 || { echo "testbed: far's IPv6 does not answer" >&2; return 1; }
}

wait_reply() { # wait_reply NODE-NAME ADDR: links come up asynchronously
    local i
    for i in $(seq 50); do
        x src ping -c1 -W1 -q "$2" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Servers on r1 that down stops: only processes this script started, and only
# while they still are one of its programs.
serve() { # serve NAME ADDR CMD...: starts CMD in r1 and waits until it listens on ADDR:53
    local name=$1 addr=$2 i
    shift 2
    mkdir -p "$STATE"
    ip netns exec "${P}r1" "$@" </dev/null >"$STATE/$name.log" 2>&1 &
    echo $! >"$STATE/serve-$name.pid"
    for i in $(seq 100); do
        [ -z "$(x r1 ss -Hlun "src = $addr:53")" ] || return 0
        sleep 0.05
    done
    echo "testbed: $name does not listen on $addr" >&2
    return 1
}

stop_servers() {
    local f pid
    for f in "$STATE"/serve-*.pid; do
        [ -f "$f" ] || continue
        pid=$(cat "$f")
        rm -f "$f"
        if grep -qaE 'dnsmasq|slowdns' "/proc/$pid/cmdline" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            while kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
        fi
    done
}

slowdns() { # slowdns ADDR SECONDS
    x r1 ip addr add "$1/24" dev src
    serve "slowdns-$1" "$1" /usr/bin/python3 "$HERE/slowdns.py" "$1" "$2" "$STATE/dns-hosts"
}

down() {
    stop_servers
    stop_delayline
    for n in $NODES; do
        ip netns del "$P$n" 2>/dev/null || true
        rm -rf "/etc/netns/$P$n"
    done
    rm -rf "$STATE"
}

routes() {
    x src ip route add default via 10.77.1.1
    x dst ip route add default via 10.77.4.1
    x far ip route add default via 10.77.11.1
    # r1: mark 0 -> r2a, mark 1 -> r2b (table 102)
    for d in 4 7 8 9 10; do
        x r1 ip route add 10.77.$d.0/24 via 10.77.2.2
        x r1 ip route add 10.77.$d.0/24 via 10.77.3.2 table 102
    done
    x r1 ip route add 10.77.5.0/24 via 10.77.6.2
    x r1 ip rule add fwmark 1 lookup 102 pref 100
    # r2: errors leave from the inbound interface's address; src is reached via r3
    x r2 sysctl -qw net.ipv4.icmp_errors_use_inbound_ifaddr=1
    x r2 ip route add 10.77.1.0/24 via 10.77.5.2
    x r2 ip route add 10.77.6.0/24 via 10.77.5.2
    x r2 ip route add 10.77.11.0/24 via 10.77.5.2
    x r2 ip route add 10.77.7.0/24 via 10.77.4.2
    x r2 ip route add 10.77.8.0/24 via 10.77.4.2
    x r2 ip route add blackhole 10.77.9.0/24
    x r3 ip route add 10.77.1.0/24 via 10.77.6.1
    x r3 ip route add 10.77.11.0/24 via 10.77.6.1
    x r3 ip route add 10.77.4.0/24 via 10.77.5.1
}

routes6() {
    local d n
    for n in r1 r2 r3; do x "$n" sysctl -qw net.ipv6.conf.all.forwarding=1; done
    x src ip -6 route add default via 2001:db8:77:1::1
    x dst ip -6 route add default via 2001:db8:77:4::1
    x far ip -6 route add default via 2001:db8:77:11::1
    for d in 4 7 8 9 10; do
        x r1 ip -6 route add 2001:db8:77:$d::/64 via 2001:db8:77:2::2
        x r1 ip -6 route add 2001:db8:77:$d::/64 via 2001:db8:77:3:a1b2:c3d4:e5f6:2 table 102
    done
    x r1 ip -6 route add 2001:db8:77:5::/64 via 2001:db8:77:6::2
    x r1 ip -6 rule add fwmark 1 lookup 102 pref 100
    for d in 1 6 11; do x r2 ip -6 route add 2001:db8:77:$d::/64 via 2001:db8:77:5::2; done
    x r2 ip -6 route add 2001:db8:77:7::/64 via 2001:db8:77:4::2
    x r2 ip -6 route add 2001:db8:77:8::/64 via 2001:db8:77:4::2
    x r2 ip -6 route add blackhole 2001:db8:77:9::/64
    x r3 ip -6 route add 2001:db8:77:1::/64 via 2001:db8:77:6::1
    x r3 ip -6 route add 2001:db8:77:11::/64 via 2001:db8:77:6::1
    x r3 ip -6 route add 2001:db8:77:4::/64 via 2001:db8:77:5::1
}

# The IPv4 rules' twins; the toggles below set both.
filters6() {
    x r1 nft -f - <<'NFT'
table ip6 kv {
    chain prert {
        type filter hook prerouting priority mangle; policy accept;
        iifname "src" ip6 daddr 2001:db8:77:4::-2001:db8:77:9:ffff:ffff:ffff:ffff meta mark set numgen inc mod 2
    }
    chain forwd {
        type filter hook forward priority filter; policy accept;
        ip6 daddr 2001:db8:77:10::/64 reject with icmpv6 type no-route
        iifname "src" ip6 daddr 2001:db8:77:4::-2001:db8:77:9:ffff:ffff:ffff:ffff jump probeloss
    }
    chain probeloss { }
    chain outp {
        type filter hook output priority filter; policy accept;
        jump silence
    }
    chain silence { }
}
NFT
    x r2 nft -f - <<'NFT'
table ip6 kv {
    chain forwd {
        type filter hook forward priority filter; policy accept;
        ip6 daddr 2001:db8:77:7::/64 reject with icmpv6 type addr-unreachable
        ip6 daddr 2001:db8:77:8::/64 reject with icmpv6 type admin-prohibited
    }
    chain outp {
        type filter hook output priority filter; policy accept;
        jump silence
        jump fragdrop
    }
    chain silence { }
    chain fragdrop { }
}
NFT
    r3_silence_chain ip6
}

# r3 has nothing to filter, only a silence chain (bed silent r3) of family $1.
r3_silence_chain() {
    x r3 nft add table "$1" kv
    x r3 nft add chain "$1" kv outp '{ type filter hook output priority filter; policy accept; }'
    x r3 nft add chain "$1" kv silence
    x r3 nft add rule "$1" kv outp jump silence
}

# Unreachable/prohibit routes pass a limiter (net.ipv4.route.error_cost) that
# exists only in the initial namespace, so the rejects are nft rules.
filters() {
    x r1 nft -f - <<'NFT'
table ip kv {
    chain prert {
        type filter hook prerouting priority mangle; policy accept;
        iifname "src" ip daddr 10.77.4.0-10.77.9.255 meta mark set numgen inc mod 2
    }
    chain forwd {
        type filter hook forward priority filter; policy accept;
        ip daddr 10.77.10.0/24 reject with icmp type net-unreachable
        iifname "src" ip daddr 10.77.4.0-10.77.9.255 jump probeloss
    }
    chain probeloss { }
    chain wire {
        type filter hook forward priority filter + 10; policy accept;
    }
    chain outp {
        type filter hook output priority filter; policy accept;
        jump silence
    }
    chain silence { }
}
NFT
    x r2 nft -f - <<'NFT'
table ip kv {
    chain forwd {
        type filter hook forward priority filter; policy accept;
        ip daddr 10.77.7.0/24 reject with icmp type host-unreachable
        ip daddr 10.77.8.0/24 reject with icmp type admin-prohibited
    }
    chain outp {
        type filter hook output priority filter; policy accept;
        jump silence
        jump fragdrop
    }
    chain silence { }
    chain fragdrop { }
}
NFT
    r3_silence_chain ip
}

names() {
    cat >"/etc/netns/${P}src/hosts" <<'EOF'
127.0.0.1   localhost
10.77.1.2   src.kv.test
10.77.1.1   r1.kv.test
10.77.2.2   r2a.kv.test
10.77.3.2   r2b.kv.test
10.77.4.2   dst.kv.test dst
10.77.11.2  far.kv.test far
2001:db8:77:1::2  src.kv.test
2001:db8:77:1::1  r1.kv.test
2001:db8:77:2::2  r2a.kv.test
2001:db8:77:3:a1b2:c3d4:e5f6:2  r2b.kv.test
2001:db8:77:4::2  dst6.kv.test
2001:db8:77:11::2  far6.kv.test
EOF
    mkdir -p "$STATE"
    grep -v localhost "/etc/netns/${P}src/hosts" >"$STATE/dns-hosts"
    serve dnsmasq 10.77.1.1 dnsmasq --keep-in-foreground --conf-file=/dev/null --user=root \
        --group=root --no-resolv --no-hosts --addn-hosts="$STATE/dns-hosts" --local-ttl=0 \
        --listen-address=10.77.1.1 --bind-interfaces --pid-file=
}

up() {
    down
    for n in $NODES; do node "$n"; done
    for n in r1 r2 r3; do x "$n" sysctl -qw net.ipv4.ip_forward=1; done

    link src eth0 10.77.1.2/24  r1 src 10.77.1.1/24
    link r1  r2a  10.77.2.1/24  r2 r1a 10.77.2.2/24
    link r1  r2b  10.77.3.1/24  r2 r1b 10.77.3.2/24
    link r2  dst  10.77.4.1/24  dst eth0 10.77.4.2/24 1400
    link r2  r3   10.77.5.1/24  r3 r2  10.77.5.2/24
    link r3  r1   10.77.6.2/24  r1 r3  10.77.6.1/24
    link r1  dl   10.77.11.1/24 dl r1  -
    link dl  far  -             far eth0 10.77.11.2/24
    routes
    routes6
    filters
    filters6
    names

    wait_reply dst 10.77.4.2 || { echo "testbed: dst does not answer" >&2; return 1; }
    x src ping -c2 -i0.01 -W1 -q -t 2 10.77.4.2 >/dev/null 2>&1 || true # warm both r2 links
    # the first packet to a new IPv6 neighbour waits for neighbour discovery
    wait_reply dst 2001:db8:77:4::2 || { echo "testbed: dst's IPv6 does not answer" >&2; return 1; }
    x src ping -c2 -i0.01 -W1 -q -t 2 2001:db8:77:4::2 >/dev/null 2>&1 || true
    start_delayline "${KV_DELAY_MS:-$DEFAULT_DELAY_MS}"
    x src ip route flush cache
}

rules() { # rules [ip6] NODE CHAIN RULE...: replace a toggle chain's rules
    local f=ip
    [ "$1" != ip6 ] || { f=ip6; shift; }
    local n=$1 c=$2; shift 2
    x "$n" nft flush chain $f kv "$c"
    [ $# -eq 0 ] || x "$n" nft add rule $f kv "$c" "$@"
}

dns() { # src asks the name servers ADDR... after its hosts file, with the C library's time-outs
    local ns
    printf 'hosts: files dns\nnetworks: files\n' >"/etc/netns/${P}src/nsswitch.conf"
    for ns in "$@"; do # timeout:N and the like are resolver options
        case $ns in *:*) echo "options $ns" ;; *) echo "nameserver $ns" ;; esac
    done >"/etc/netns/${P}src/resolv.conf"
}

nodns() {
    printf 'hosts: files\nnetworks: files\n' >"/etc/netns/${P}src/nsswitch.conf"
    printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/${P}src/resolv.conf"
}

unname() { # src's hosts file forgets the names of ADDR...
    local a
    for a in "$@"; do sed -i "/^${a//./\\.}[[:space:]]/d" "/etc/netns/${P}src/hosts"; done
}

on_off() { case "$1" in on) return 0 ;; off) return 1 ;; *) echo "on or off" >&2; exit 2 ;; esac; }

loop() { # loop on|off: the r1 <-> r2 loop for 10.77.50.0/24 and its IPv6 twin
    local how=del
    ! on_off "$1" || how=replace
    x r1 ip route "$how" 10.77.50.0/24 via 10.77.2.2 2>/dev/null || [ "$how" = del ]
    x r2 ip route "$how" 10.77.50.0/24 via 10.77.2.1 2>/dev/null || [ "$how" = del ]
    x r1 ip -6 route "$how" 2001:db8:77:50::/64 via 2001:db8:77:2::2 2>/dev/null || [ "$how" = del ]
    x r2 ip -6 route "$how" 2001:db8:77:50::/64 via 2001:db8:77:2::1 2>/dev/null || [ "$how" = del ]
    x src ip route flush cache
}

counter() { # packets counted by the wire rule with comment NAME
    x r1 nft list chain ip kv wire |
        sed -n "s/.*counter packets \([0-9]*\) bytes [0-9]* comment \"$1\".*/\1/p"
}

case "${1:-}" in
    up) up ;;
    down) down ;;
    exec) n=$2; shift 2; exec ip netns exec "$P$n" "$@" ;; # the command itself: kill reaches it
    status) for n in $NODES; do echo "== $P$n"; x "$n" ip -br addr; done ;;
    lossevery) rules r1 probeloss numgen inc mod "$2" == 0 counter drop
               rules ip6 r1 probeloss numgen inc mod "$2" == 0 counter drop ;;
    noloss) rules r1 probeloss; rules ip6 r1 probeloss ;;
    silent) if [[ $3 =~ ^[0-9]+$ ]]; then # every N-th reply of the router dropped
                rules "$2" silence icmp type time-exceeded numgen inc mod "$3" == 0 counter drop
                rules ip6 "$2" silence icmpv6 type time-exceeded numgen inc mod "$3" == 0 counter drop
            elif on_off "$3"; then rules "$2" silence icmp type time-exceeded counter drop
                rules ip6 "$2" silence icmpv6 type time-exceeded counter drop
            else rules "$2" silence; rules ip6 "$2" silence; fi ;;
    fragdrop) if on_off "$2"; then rules r2 fragdrop icmp type destination-unreachable \
                  icmp code frag-needed counter drop
                  rules ip6 r2 fragdrop icmpv6 type packet-too-big counter drop
              else rules r2 fragdrop; rules ip6 r2 fragdrop; fi ;;
    delay) start_delayline "$2" ;;
    mtu) x r2 ip link set dst mtu "$2"
         x dst ip link set eth0 mtu "$2"
         # below 1280 the kernel took IPv6 off the link; from 1280 on it is back
         if [ "$2" -ge 1280 ]; then
             x r2 ip addr replace 2001:db8:77:4::1/64 dev dst nodad
             x dst ip addr replace 2001:db8:77:4::2/64 dev eth0 nodad
             x dst ip -6 route replace default via 2001:db8:77:4::1
         fi
         x src ip route flush cache
         x src ip -6 route flush cache ;;
    count) name=$2; shift 2  # count packets r1 forwards that match MATCH
           x r1 nft add rule ip kv wire "$@" counter comment "\"$name\"" ;;
    counter) counter "$2" ;;
    nocount) x r1 nft flush chain ip kv wire ;;
    dns) shift; dns "$@" ;;
    nodns) nodns ;;
    unname) shift; unname "$@" ;;
    slowdns) slowdns "$2" "$3" ;;
    loop) loop "$2" ;;
    *) sed -n '2,41p' "$0"; exit 2 ;;
esac
