#!/usr/bin/env python3
"""Deterministic rule sets and query files for the benchmarks.

Writes, for N wildcard rules:
  PREFIX.hosts          a hosts file: the rule lines, plain lines between them if asked
  PREFIX.host-record.conf  dnsmasq lines: exact names as host-record=, suffixes as address=
  PREFIX.address.conf      dnsmasq lines: exact names and suffixes as address=
  PREFIX.queries        a dnsperf data file ("name A" lines)

Rule shapes, by share of N: exact names (a star in the third field makes the line a rule),
"*.suffix", "*suffix" without a dot; and a fixed number of rules outside the index ("*word*",
"?", "[set]", "prefix*"), spread over the file. Some rules answer with IPv6 addresses, a few with
invalid addresses (a null address: sixteen zero bytes). dnsmasq has no form for "*suffix", for the
unindexed shapes nor for a null address: those lines get no dnsmasq equivalent, and queries are
drawn only from rules that both servers have.

Shapes (--shape): "plain" as above; "mix", a fifth of the rules with the star inside the name
("*word123*.test", as hand-made lists have them) and the rest as in "plain"; "regex", every rule a
regular expression for the Regular Expression mode ("(.*\\.)?name\\.tld", and alternations such as
"(.*\\.)?(ads12|track12)[0-9]*\\.label\\.example"), which dnsmasq cannot express.
"""

import argparse
import random

LETTERS = "abcdefghijklmnopqrstuvwxyz0123456789"
TLDS = ["test", "example", "invalid", "localhost"]


def label(rng, low=3, high=10):
    return "".join(rng.choice(LETTERS) for _ in range(rng.randint(low, high)))


def domain(rng, index):
    # The index makes every name distinct; the labels make them look like names.
    return "%s%d.%s.%s" % (label(rng), index, label(rng, 2, 6), rng.choice(TLDS))


def address(rng, index):
    roll = rng.random()
    if roll < 0.01:
        return "invalid-address", None
    if roll < 0.11:
        return "2001:db8::%x" % (index % 0xFFFF + 1), "2001:db8::%x" % (index % 0xFFFF + 1)
    ip = "10.%d.%d.%d" % ((index >> 16) & 255, (index >> 8) & 255, index & 255)
    return ip, ip


def mixed_case(rng, text):
    return "".join(c.upper() if rng.random() < 0.3 else c for c in text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rules", type=int, required=True, help="number of wildcard rules")
    parser.add_argument("--unindexed", type=int, default=16,
                        help="how many of them lie outside the index (default 16)")
    parser.add_argument("--plain", type=float, default=0.0,
                        help="plain lines (no rule) per rule line, e.g. 1.0 for half the file")
    parser.add_argument("--queries", type=int, default=100000, help="lines of the query file")
    parser.add_argument("--match", type=float, default=0.5, help="share of queries that a rule answers")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--shape", choices=["plain", "mix", "regex"], default="plain")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    hosts = ["# generated: %d rules, seed %d" % (args.rules, args.seed), "127.0.0.1 localhost"]
    host_record, address_form = [], []
    exact_names, suffixes = [], []  # rules that dnsmasq has too
    if args.shape == "regex":
        return write_regex(args)
    unindexed = args.rules // 5 if args.shape == "mix" else min(args.unindexed, args.rules // 4)
    unindexed_every = args.rules // unindexed if unindexed else 0
    plain_debt = 0.0
    for index in range(args.rules):
        plain_debt += args.plain
        while plain_debt >= 1.0:
            plain_debt -= 1.0
            hosts.append("0.0.0.0 %s" % domain(rng, index))
        text, answer = address(rng, index)
        name = domain(rng, index)
        if unindexed_every and index % unindexed_every == unindexed_every // 2:
            if args.shape == "mix":
                hosts.append("%s *%s%d*.%s" % (text, label(rng), index, rng.choice(TLDS)))
                continue
            shape = rng.choice(["*%s*", "%s?", "[a-c]%s", "%s*"])
            hosts.append("%s %s" % (text, shape % mixed_case(rng, name)))
            continue
        roll = rng.random()
        if roll < 0.45:
            hosts.append("%s %s *" % (text, mixed_case(rng, name)))
            if answer:
                exact_names.append(name)
                host_record.append("host-record=%s,%s" % (name, answer))
                address_form.append("address=/%s/%s" % (name, answer))
        elif roll < 0.95:
            hosts.append("%s *.%s" % (text, mixed_case(rng, name)))
            if answer:
                suffixes.append(name)
                host_record.append("address=/%s/%s" % (name, answer))
                address_form.append("address=/%s/%s" % (name, answer))
        else:
            hosts.append("%s *%s" % (text, name))

    queries = []
    for index in range(args.queries):
        if rng.random() < args.match and (exact_names or suffixes):
            if exact_names and (not suffixes or rng.random() < 0.5):
                name = rng.choice(exact_names)
            else:
                name = "%s.%s" % (label(rng), rng.choice(suffixes))
            queries.append("%s A" % mixed_case(rng, name))
        else:
            queries.append("%s.nowhere%d.invalid A" % (label(rng), index))

    write_files(args.prefix, hosts, host_record, address_form, queries)


def write_files(prefix, hosts, host_record, address_form, queries):
    for suffix, lines in (("hosts", hosts), ("host-record.conf", host_record),
                          ("address.conf", address_form), ("queries", queries)):
        with open("%s.%s" % (prefix, suffix), "w") as out:
            out.write("\n".join(lines) + "\n")


def write_regex(args):
    rng = random.Random(args.seed)
    hosts = ["# generated: %d regular-expression rules, seed %d" % (args.rules, args.seed)]
    matching = []  # a name each rule matches
    for index in range(args.rules):
        text, _ = address(rng, index)
        middle = "%s.%s" % (label(rng, 2, 6), rng.choice(TLDS))
        if index % 2:
            hosts.append("%s (.*\\.)?%s%d\\.%s" % (text, label(rng), index, middle.replace(".", "\\.")))
            matching.append(hosts[-1].split(")?")[1].replace("\\", ""))
        else:
            hosts.append("%s (.*\\.)?(ads%d|track%d)[0-9]*\\.%s" % (text, index, index, middle.replace(".", "\\.")))
            matching.append("track%d%d.%s" % (index, rng.randint(0, 99), middle))
    queries = []
    for index in range(args.queries):
        if rng.random() < args.match:
            queries.append("%s.%s A" % (label(rng), rng.choice(matching)))
        else:
            queries.append("%s.nowhere%d.invalid A" % (label(rng), index))
    write_files(args.prefix, hosts, [], [], queries)


if __name__ == "__main__":
    main()
