#!/usr/bin/env python3
"""The lists and the in-process lookups of bench/lookup.sh.

  lookup.py list COUNT PATH         writes COUNT block-list lines ("0.0.0.0 name", names as
                                    bench/generate.py makes them) to PATH and prints the name of
                                    the middle line
  lookup.py time NAME ADDRESS CALLS resolves NAME as `getent ahosts` does (glibc's getaddrinfo with
                                    its flags), once to check that the first address is ADDRESS and
                                    then CALLS times; prints the milliseconds per call
"""

import random
import socket
import sys
import time

from generate import domain

# The flags `getent ahosts` passes to getaddrinfo.
AHOSTS_FLAGS = socket.AI_V4MAPPED | socket.AI_ADDRCONFIG | socket.AI_CANONNAME


def write_list(count, path):
    rng = random.Random(1)
    middle = None
    with open(path, "w") as out:
        for index in range(count):
            name = domain(rng, index)
            if index == count // 2:
                middle = name
            out.write("0.0.0.0 %s\n" % name)
    print(middle)


def resolve(name):
    return socket.getaddrinfo(name, None, socket.AF_UNSPEC, 0, 0, AHOSTS_FLAGS)


def time_lookups(name, address, calls):
    try:
        first = resolve(name)[0][4][0]
    except socket.gaierror as error:
        sys.exit("%s: %s" % (name, error))
    if first != address:
        sys.exit("%s: %s, not %s" % (name, first, address))
    start = time.perf_counter()
    for _ in range(calls):
        resolve(name)
    print("%.3f" % ((time.perf_counter() - start) * 1000 / calls))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "list":
        write_list(int(sys.argv[2]), sys.argv[3])
    elif len(sys.argv) == 5 and sys.argv[1] == "time":
        time_lookups(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
