#!/usr/bin/python3
"""The Python module kestrun against Python's zipfile, on the same trees.

python_bench.py [--build DIR] [--runs N] [--smoke]

  --build DIR  the build with the module (DIR/python) and rbdpack (default
               build/release)
  --runs N     timed runs of each side of each measure (default 7)
  --smoke      tiny trees, one run: checks that the script works

Each tree is made on a tmpfs (/dev/shm), packed with rbdpack and with
zipfile as a stored (uncompressed) zip; the packages and the tree stay in the
page cache, so the libraries are measured and not the disk. Both sides take
turns, run after run; each figure is the median of its runs.

  open:       Package(path) on a 200,000-entry package against ZipFile(path)
              on the zip of the same tree (target: at most 0.2 times)
  read small: read() of every entry of the small-file workload (20,000 files
              of 0-16 KiB, bench/make_tree.py small), by name, against
              ZipFile.read (target: at most 0.5 times)
  read large: read() of each entry of the 4 x 256 MiB workload against
              f.read() of the same files on the tmpfs (target: at most 1.2)
  2 threads:  the small-file reads split between 2 threads, against 1
              (the GIL is released while reading: more than 1 is a gain)
  create:     Package(path, "w") writing every entry of the small-file
              workload from memory (read into memory first, not timed),
              through close(), against ZipFile(path, "w", ZIP_STORED) and
              writestr (target: at most 0.5 times)
  spool floor: what any writer that spools must do for the same entries:
              each one written to a spool file, the spool then copied to
              the package's file whole and closed; against the same
              ZipFile "w" (no target: it shows the floor of "create")
  create tiny: "create" of the same 20,000 paths with at most 64 bytes
              each, against zipfile's the same: the cost of each entry
              apart from its bytes (no target)

A benchmark, not a test: it prints figures and exits 0 unless something
fails to run. Run it on a quiet machine; figures on a shared one are noisy.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def many_tiny_files(root, files, dirs):
    """`files` files of 0-64 bytes in `dirs` directories, two levels deep."""
    rng = random.Random(200_000)
    for d in range(dirs):
        os.makedirs(os.path.join(root, "d%02d" % (d % 50), "e%04d" % d), exist_ok=True)
    for i in range(files):
        d = i % dirs
        path = os.path.join(root, "d%02d" % (d % 50), "e%04d" % d, "f%06d.dat" % i)
        with open(path, "wb") as out:
            out.write(rng.randbytes(rng.randint(0, 64)))


def make_zip(tree, path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for directory, dirs, files in os.walk(tree):
            dirs.sort()
            for name in sorted(files):
                full = os.path.join(directory, name)
                z.write(full, os.path.relpath(full, tree))


def read_all(archive, names):
    """Reads each entry by name. Its bytes are dropped at once, so that both
    sides reuse the same memory and the reading is measured, not the
    allocator's page faults."""
    for n in names:
        archive.read(n)


def read_tree(tree):
    """(path, bytes) of every file below `tree`, in the order make_zip
    takes them."""
    items = []
    for directory, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            full = os.path.join(directory, name)
            with open(full, "rb") as f:
                items.append((os.path.relpath(full, tree), f.read()))
    return items


def spool_and_copy(items, directory, path):
    """The least a writer that spools does: each entry's bytes appended to
    a spool with no name, which is then copied whole to a new file, flushed
    and renamed to `path`, and closed."""
    spool = os.open(directory, os.O_TMPFILE | os.O_RDWR, 0o600)
    for _, data in items:
        os.write(spool, data)
    size = os.lseek(spool, 0, os.SEEK_CUR)
    out = os.open(path + ".tmp", os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o644)
    done = 0
    while done < size:
        done += os.copy_file_range(spool, out, size - done, done, done)
    os.fsync(out)
    os.rename(path + ".tmp", path)
    os.close(out)
    os.close(spool)


def median_times(runs, *sides):
    """The median seconds of each side, the sides taking turns."""
    times = [[] for _ in sides]
    for run in range(runs):
        order = list(range(len(sides)))
        if run % 2:
            order.reverse()
        for i in order:
            start = time.perf_counter()
            sides[i]()
            times[i].append(time.perf_counter() - start)
    return [statistics.median(t) for t in times]


def row(name, ours, theirs, against, target):
    """One line: our time, theirs, and ours / theirs (for threads: the time
    with 2 threads, with 1, and their ratio: below 1 is a gain)."""
    ratio = ours / theirs if theirs else float("nan")
    mark = "" if target is None else ("  met" if ratio <= target else "  NOT met")
    limit = "" if target is None else f"<= {target}"
    print(f"{name:<12} {ours:>10.4f} {theirs:>10.4f}  {against:<14} {ratio:>6.2f}x  {limit}{mark}")


def main():
    options = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    options.add_argument("--build", default=os.path.join(HERE, "..", "build", "release"))
    options.add_argument("--runs", type=int, default=7)
    options.add_argument("--smoke", action="store_true")
    args = options.parse_args()
    build = os.path.abspath(args.build)
    sys.path.insert(0, os.path.join(build, "python"))
    import kestrun

    runs = 1 if args.smoke else args.runs
    many = (2000, 50) if args.smoke else (200_000, 2000)
    small = ["200", "20"] if args.smoke else []
    large = ["2", "4"] if args.smoke else []

    shm = tempfile.mkdtemp(prefix="kestrun-pybench.", dir="/dev/shm")
    try:
        print(f"Building workloads in {shm} ...", flush=True)
        many_tiny_files(os.path.join(shm, "many"), *many)
        make_tree = [sys.executable, os.path.join(HERE, "make_tree.py")]
        subprocess.run(make_tree + ["small", os.path.join(shm, "small")] + small, check=True)
        subprocess.run(make_tree + ["large", os.path.join(shm, "large")] + large, check=True)
        for load in ("many", "small", "large"):
            tree = os.path.join(shm, load)
            subprocess.run(
                [os.path.join(build, "rbdpack"), tree, tree + ".rbd"],
                check=True, stdout=subprocess.DEVNULL,
            )
            make_zip(tree, tree + ".zip")
        print(f"python {sys.version.split()[0]}, kestrun {kestrun.__version__}, {runs} runs\n")
        heading = ("measure", "kestrun s", "other s", "against", "ratio", "target")
        print("%-12s %10s %10s  %-14s %7s  %s" % heading)

        path = os.path.join(shm, "many")
        with kestrun.Package(path + ".rbd") as pkg:
            count = len(pkg)

        def open_package():
            kestrun.Package(path + ".rbd").close()

        def open_zip():
            zipfile.ZipFile(path + ".zip").close()

        ours, theirs = median_times(runs, open_package, open_zip)
        row(f"open {count}", ours, theirs, "ZipFile()", 0.2)

        path = os.path.join(shm, "small")
        pkg, z = kestrun.Package(path + ".rbd"), zipfile.ZipFile(path + ".zip")
        names = pkg.namelist()
        assert sorted(names) == sorted(z.namelist())
        assert all(pkg.read(n) == z.read(n) for n in names[:50])
        ours, theirs = median_times(runs, lambda: read_all(pkg, names), lambda: read_all(z, names))
        row("read small", ours, theirs, "ZipFile.read", 0.5)

        def read_in_threads(count):
            parts = [names[i::count] for i in range(count)]
            threads = [threading.Thread(target=read_all, args=(pkg, p)) for p in parts]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        one, two = median_times(runs, lambda: read_in_threads(1), lambda: read_in_threads(2))
        row("2 threads", two, one, "1 thread", None)
        pkg.close()
        z.close()

        items = read_tree(path)
        tiny = [(name, data[:64]) for name, data in items]
        made = os.path.join(shm, "created")

        def create_package(entries):
            with kestrun.Package(made + ".rbd", "w") as pkg:
                for name, data in entries:
                    pkg.writestr(name, data)

        def create_zip(entries):
            with zipfile.ZipFile(made + ".zip", "w", zipfile.ZIP_STORED) as z:
                for name, data in entries:
                    z.writestr(name, data)

        ours, theirs, floor, ours_tiny, theirs_tiny = median_times(
            runs,
            lambda: create_package(items),
            lambda: create_zip(items),
            lambda: spool_and_copy(items, shm, made + ".floor"),
            lambda: create_package(tiny),
            lambda: create_zip(tiny),
        )
        with kestrun.Package(made + ".rbd") as pkg:
            assert [pkg.read(name) for name, _ in tiny[-3:]] == [data for _, data in tiny[-3:]]
        row(f"create {len(items)}", ours, theirs, "ZipFile 'w'", 0.5)
        row("spool floor", floor, theirs, "ZipFile 'w'", None)
        row("create tiny", ours_tiny, theirs_tiny, "ZipFile 'w'", None)

        path = os.path.join(shm, "large")
        pkg = kestrun.Package(path + ".rbd")
        names = pkg.namelist()

        def read_files():
            for n in names:
                with open(os.path.join(path, n), "rb") as f:
                    f.read()

        ours, theirs = median_times(runs, lambda: read_all(pkg, names), read_files)
        row("read large", ours, theirs, "f.read()", 1.2)
        pkg.close()
    finally:
        shutil.rmtree(shm, ignore_errors=True)


if __name__ == "__main__":
    main()
