#!/usr/bin/python3
"""A name server that answers every query only after a fixed delay.

usage: slowdns.py ADDRESS SECONDS HOSTS_FILE

Serves the names of a hosts file (ADDRESS NAME...) over UDP port 53 of
ADDRESS: A for the names, PTR (the first name) for the addresses, NXDOMAIN
for anything else. Every query is answered in its own thread after SECONDS,
so one slow answer never holds up the next query.
"""
import socket
import sys
import threading
import time

from dnslib import A, PTR, QTYPE, RCODE, RR, DNSRecord

REVERSE_SUFFIX = ".in-addr.arpa"


def load(path):
    forward, reverse = {}, {}
    with open(path) as hosts:
        for line in hosts:
            fields = line.split("#")[0].split()
            if len(fields) < 2:
                continue
            reverse.setdefault(fields[0], fields[1])
            for name in fields[1:]:
                forward.setdefault(name.lower(), fields[0])
    return forward, reverse


def reply_to(query, forward, reverse):
    reply = query.reply()
    qname = str(query.q.qname).rstrip(".").lower()
    if query.q.qtype == QTYPE.PTR and qname.endswith(REVERSE_SUFFIX):
        address = ".".join(reversed(qname[: -len(REVERSE_SUFFIX)].split(".")))
        if address in reverse:
            reply.add_answer(RR(query.q.qname, QTYPE.PTR, rdata=PTR(reverse[address] + "."), ttl=0))
            return reply
    elif qname in forward:
        if query.q.qtype == QTYPE.A:
            reply.add_answer(RR(query.q.qname, QTYPE.A, rdata=A(forward[qname]), ttl=0))
        return reply  # a known name asked for another type: no data
    reply.header.rcode = RCODE.NXDOMAIN
    return reply


def answer_later(sock, data, peer, delay, forward, reverse):
    time.sleep(delay)
    try:
        sock.sendto(reply_to(DNSRecord.parse(data), forward, reverse).pack(), peer)
    except Exception as error:  # a malformed query gets no answer
        print("slowdns:", error, file=sys.stderr)


def main():
    address, delay, hosts = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    forward, reverse = load(hosts)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, 53))
    while True:
        data, peer = sock.recvfrom(4096)
        threading.Thread(target=answer_later, daemon=True,
                         args=(sock, data, peer, delay, forward, reverse)).start()


if __name__ == "__main__":
    main()
