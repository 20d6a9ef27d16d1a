"""python3 -m kestrun: list, test or extract an RBD package, like python3 -m zipfile.

    python3 -m kestrun -l PACKAGE        list the entries: size and path
    python3 -m kestrun -t PACKAGE        check the package as extraction would
    python3 -m kestrun -e PACKAGE DIR    extract into DIR (the output root)

Status 0 when done, 2 when some entries were refused or failed (each one is
named on standard error), 1 when the package can't be read. When the reader
of its output goes away (`python3 -m kestrun -l p.rbd | head`), it ends
quietly by SIGPIPE, as the kestrun command does.
"""

from __future__ import annotations

import argparse
import os
import signal
import sys
from typing import BinaryIO, Optional, Sequence

from . import BadPackage, Package, Report


def _shown(path_bytes: bytes, terminal: bool) -> bytes:
    """A name as written out: its bytes as they are into pipes and files; on
    a terminal, bytes that are not UTF-8 and control characters as \\xHH, so
    that a name can't move the cursor or forge a line."""
    if not terminal:
        return path_bytes
    text = path_bytes.decode("utf-8", "backslashreplace")
    return "".join(
        c if c.isprintable() else "".join(f"\\x{b:02x}" for b in c.encode()) for c in text
    ).encode()


def _list(pkg: Package, out: BinaryIO) -> int:
    terminal = out.isatty()
    for entry in pkg:
        out.write(b"%10d  %s\n" % (entry.size, _shown(entry.path_bytes, terminal)))
    return 0


def _problems(report: Report) -> int:
    terminal = sys.stderr.isatty()
    for problem in report.refused + report.failed:
        # Each message names its entry, in the kestrun command's words.
        line = problem.message.encode("utf-8", "surrogateescape")
        sys.stderr.buffer.write(_shown(line, terminal) + b"\n")
    sys.stderr.flush()
    if not report.complete:
        print("stopped: the output budget would be passed", file=sys.stderr)
    return 0 if report.ok else 2


def main(args: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m kestrun", description="A simple command-line interface for kestrun."
    )
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("-l", "--list", metavar="<package>", help="list the entries of a package")
    group.add_argument("-t", "--test", metavar="<package>", help="test a package")
    group.add_argument(
        "-e",
        "--extract",
        nargs=2,
        metavar=("<package>", "<output_dir>"),
        help="extract a package into a directory",
    )
    options = parser.parse_args(args)
    name = options.list or options.test or options.extract[0]
    try:
        with Package(name) as pkg:
            if options.list:
                status = _list(pkg, sys.stdout.buffer)
                sys.stdout.flush()
                return status
            if options.test:
                report = pkg.test()
                status = _problems(report)
                print(f"Tested: entries {len(report.written)}, bytes {report.bytes}")
                return status
            return _problems(pkg.extractall(options.extract[1]))
    except BrokenPipeError:
        raise  # the reader went away: see _end_on_closed_pipe
    except (OSError, BadPackage) as error:
        print(f"python3 -m kestrun: {name}: {error}", file=sys.stderr)
        return 1


def _end_on_closed_pipe() -> int:
    """Ends as the kestrun command does when its reader goes away: killed by
    SIGPIPE, with no message. Standard output is pointed at /dev/null first,
    so that nothing left in its buffer is flushed (and fails) on the way
    out; should SIGPIPE be blocked, the status is the one a shell would
    show, 128 + SIGPIPE."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGPIPE)
    return 128 + signal.SIGPIPE


if __name__ == "__main__":
    try:
        status = main()
        sys.stdout.flush()
    except BrokenPipeError:
        status = _end_on_closed_pipe()
    sys.exit(status)
