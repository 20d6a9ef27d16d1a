#!/usr/bin/env python3
"""Generates the benchmark's directory trees, the same bytes on every run.

make_tree.py small DIR [FILES DIRS]  many small files (0-16 KiB) in nested directories
make_tree.py large DIR [COUNT MIB]   a few large entries
make_tree.py many DIR [FILES DIRS]   very many tiny files (0-64 bytes) in two levels
make_tree.py long DIR [FILES BYTES]  very many tiny files in one directory whose path
                                     below DIR, with its final slash, is BYTES long
"""
import os
import random
import sys


def small(root, files, dirs):
    rng = random.Random(1998)
    # Every directory hangs below a random earlier one, which gives a mix of
    # wide and deep places; the top itself holds no files.
    paths = []
    for i in range(dirs):
        parent = rng.choice(paths) if paths and rng.random() < 0.8 else ""
        if parent.count("/") >= 12:
            parent = ""
        paths.append(os.path.join(parent, "dir%03d" % i))
    for path in paths:
        os.makedirs(os.path.join(root, path), exist_ok=True)
    for i in range(files):
        size = rng.randint(0, 16 * 1024)
        path = os.path.join(root, rng.choice(paths), "file%05d.bin" % i)
        with open(path, "wb") as out:
            out.write(rng.randbytes(size))


def large(root, count, mib):
    os.makedirs(os.path.join(root, "big"), exist_ok=True)
    rng = random.Random(2026)
    block = rng.randbytes(1 << 20)
    for i in range(count):
        with open(os.path.join(root, "big", "entry%d.bin" % i), "wb") as out:
            for j in range(mib):
                # Vary each MiB a little so no two blocks are alike.
                out.write(block[j % 997:] + block[:j % 997])


def many(root, files, dirs):
    # The index is the point here, not the data: 200,000 files make an index
    # of about 19 MiB and hold under 7 MiB.
    rng = random.Random(200000)
    paths = ["top%03d/dir%04d" % (i % 100, i) for i in range(dirs)]
    for path in paths:
        os.makedirs(os.path.join(root, path), exist_ok=True)
    for i in range(files):
        path = os.path.join(root, rng.choice(paths), "file%06d.dat" % i)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(fd, rng.randbytes(rng.randint(0, 64)))
        os.close(fd)


def long_path(root, files, group_bytes):
    # Every entry's path repeats its long group path: the paths' text, not
    # the index, is most of what an open package holds.
    rng = random.Random(230)
    levels, rest = divmod(group_bytes, 10)
    names = ["%09d" % level for level in range(levels)]
    if rest > 1:
        names.append("x" * (rest - 1))
    elif rest == 1:
        names[-1] += "x"
    group = os.path.join(root, *names)
    os.makedirs(group, exist_ok=True)
    for i in range(files):
        fd = os.open(os.path.join(group, "f%06d" % i), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(fd, rng.randbytes(rng.randint(0, 64)))
        os.close(fd)


def main():
    kind, root = sys.argv[1], sys.argv[2]
    numbers = [int(arg) for arg in sys.argv[3:]]
    if kind == "small":
        small(root, *(numbers or [20000, 300]))
    elif kind == "large":
        large(root, *(numbers or [4, 256]))
    elif kind == "many":
        many(root, *(numbers or [200000, 2000]))
    elif kind == "long":
        long_path(root, *(numbers or [200000, 230]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
