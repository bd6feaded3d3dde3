#!/usr/bin/env python3
"""Runs a command and waits for every process it leaves, counting their CPU.

Wine starts a program's processes so that they leave the process tree of the
`wine` command: as a child subreaper this process adopts them, waits for the
last one, and writes to the file named first the command's own wall time
(until `wine` returns, which is when the program ends) and the CPU seconds
(user + system) of all of them.

    reap.py CPU-FILE command args...
"""
import ctypes
import os
import resource
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36

def main():
    out, command = sys.argv[1], sys.argv[2:]
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("reap.py: cannot become a subreaper")
    start = time.monotonic()
    status = subprocess.call(command)
    wall = time.monotonic() - start
    while True:
        try:
            os.wait()
        except ChildProcessError:
            break
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(out, "w") as f:
        f.write("%.2f %.2f\n" % (wall, usage.ru_utime + usage.ru_stime))
    sys.exit(status)

main()
