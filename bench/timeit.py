#!/usr/bin/env python3
"""Runs one command and times it alone: no shell in between.

timeit.py [--quiet] DIR COMMAND [ARG...]

Runs COMMAND in directory DIR with its output (with --quiet, its standard
error too) thrown away and prints
"wall-seconds peak-KiB cpu-seconds": the wall time from just before the fork
to the end of the wait, the command's peak resident memory, and its user plus
system time. Exits 1 when the command fails.

The peak comes from /usr/bin/time, which runs the command: a process starts
with the peak of the one it was forked from, and this script's own is larger
than some of the commands measured. time's fork and exec are timed too, the
same for every command.
"""
import os
import sys
import tempfile
import time


def main():
    args = sys.argv[1:]
    quiet = args[:1] == ["--quiet"]
    if quiet:
        args = args[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    where, command = args[0], args[1:]
    null = os.open(os.devnull, os.O_RDWR)
    with tempfile.NamedTemporaryFile("r") as stats:
        timed = ["/usr/bin/time", "-f", "%M", "-o", stats.name] + command
        start = time.perf_counter()
        pid = os.fork()
        if pid == 0:
            try:
                os.chdir(where)
                os.dup2(null, 0)
                os.dup2(null, 1)
                if quiet:
                    os.dup2(null, 2)
                os.execv(timed[0], timed)
            finally:
                os._exit(127)
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        peak = stats.read().split()[-1]
    # A warning (kestrun's status 2) means the workload is broken too.
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("%s: exit status %d" % (command[0], code))
    print("%.4f %s %.3f" % (wall, peak, usage.ru_utime + usage.ru_stime))


if __name__ == "__main__":
    main()
