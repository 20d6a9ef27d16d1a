"""The Python module kestrun, end to end on packages the tests write."""

import errno
import gc
import io
import json
import os
import random
import signal
import subprocess
import sys
import threading
import weakref

import pytest

import kestrun
from rbd_bytes import package

KESTRUN = os.environ.get("KESTRUN_BIN")
# A sanitized build preloads its runtime for the interpreter; the command
# carries its own.
CLI_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)
    return path


def tree_of(root):
    """{relative path: bytes, or "dir"} of everything below root."""
    found = {}
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(directory, name)
            relative = os.path.relpath(full, root)
            assert not os.path.islink(full), relative
            if os.path.isdir(full):
                found[relative] = "dir"
            else:
                with open(full, "rb") as f:
                    found[relative] = f.read()
    return found


# Nested groups, a file group beside a directory group of the same name, a
# duplicate path, an unsafe name, an empty file and data past the end.
MIXED = [
    ("dir", "data", [("files", "snd", [("a.wav", b"RIFFa"), ("b.wav", b"RIFFbb")])]),
    ("files", "data", [("readme.txt", b"first"), ("empty", b"")]),
    ("files", "data", [("readme.txt", b"second, kept"), ("..", b"refused")]),
    ("files", "sfx", [("boom.wav", b"BOOM"), ("gone.wav", b"", {"size": 9, "offset": 10**6})]),
]


@pytest.mark.skipif(not KESTRUN, reason="KESTRUN_BIN names the kestrun command to compare with")
def test_extractall_gives_the_tree_and_listing_of_the_cli(tmp_path):
    pkg_path = write(tmp_path / "mixed.rbd", package(MIXED))
    cli = tmp_path / "cli"
    cli.mkdir()
    run = subprocess.run([KESTRUN, "../mixed.rbd"], cwd=cli, capture_output=True, env=CLI_ENV)
    assert run.returncode == 2, run.stdout
    listed = subprocess.run([KESTRUN, "--json", pkg_path], capture_output=True, env=CLI_ENV)
    rows = [json.loads(line) for line in listed.stdout.splitlines()][:-1]

    with kestrun.Package(pkg_path) as pkg:
        assert [(e.path, e.group, e.name, e.size, e.offset) for e in pkg] == [
            (r["path"], r["group"], r["name"], r["size"], r["offset"]) for r in rows
        ]
        report = pkg.extractall(tmp_path / "py")
    assert tree_of(tmp_path / "py") == tree_of(cli / "mixed")
    assert [e.path for e in report.written] == [
        "data/snd/a.wav", "data/snd/b.wav", "data/readme.txt", "data/empty",
        "data/readme.txt", "sfx/boom.wav",
    ]
    assert [(p.entry.path, p.code) for p in report.refused] == [
        ("data/..", kestrun.ErrorCode.UNSAFE)
    ]
    assert [(p.entry.path, p.code) for p in report.failed] == [
        ("sfx/gone.wav", kestrun.ErrorCode.NO_DATA)
    ]
    assert report.complete and not report.ok

    # python3 -m kestrun lists as kestrun -l does, and extracts with status 2.
    module = [sys.executable, "-m", "kestrun"]
    py_list = subprocess.run(module + ["-l", pkg_path], capture_output=True, check=True)
    cli_list = subprocess.run([KESTRUN, "-l", pkg_path], capture_output=True, env=CLI_ENV)
    assert py_list.stdout == cli_list.stdout
    py_extract = subprocess.run(module + ["-e", pkg_path, tmp_path / "m"], capture_output=True)
    assert py_extract.returncode == 2 and b'Refusing unsafe path, "data/.."' in py_extract.stderr
    assert tree_of(tmp_path / "m") == tree_of(cli / "mixed")


def test_duplicates_unsafe_and_undecodable_names(tmp_path):
    raw = b"caf\xe9.txt"  # Latin-1, not UTF-8
    tree = [
        ("files", "d", [("x", b"one"), (raw, b"latin"), ("x", b"two")]),
        ("files", "a\\b", [("y", b"through a backslash")]),
        ("dir", "..", [("files", "up", [("z", b"outside")])]),
    ]
    with kestrun.Package(write(tmp_path / "p.rbd", package(tree))) as pkg:
        assert pkg.namelist() == ["d/x", os.fsdecode(b"d/" + raw), "d/x", "a\\b/y", "../up/z"]
        first, latin, last = list(pkg)[:3]
        assert pkg.getinfo("d/x") == last and pkg.getinfo(b"d/x").index == 2
        assert first.shadowed and not last.shadowed
        assert (pkg.read(first), pkg.read("d/x")) == (b"one", b"two")
        assert latin.path_bytes == b"d/" + raw and os.fsencode(latin.path) == latin.path_bytes
        assert pkg.read(latin.path) == pkg.read(latin.path_bytes) == b"latin"
        assert [e.path for e in pkg if e.unsafe] == ["a\\b/y", "../up/z"]
        with pytest.raises(KeyError):
            pkg.getinfo("d/missing")
        with pytest.raises(KeyError):  # checked before anything is written
            pkg.extractall(tmp_path / "none", members=["d/x", "d/missing"])
        assert not (tmp_path / "none").exists()

        out = tmp_path / "out" / "inner"
        out.parent.mkdir()
        report = pkg.extractall(out, members=lambda e: e.path_bytes != latin.path_bytes)
        assert [e.index for e in report.written] == [0, 2]
        assert [(p.entry.path, p.code) for p in report.refused] == [
            ("a\\b/y", kestrun.ErrorCode.UNSAFE),
            ("../up/z", kestrun.ErrorCode.UNSAFE),
        ]
        # Refused, never renamed: nothing else was written, inside or beside.
        assert tree_of(tmp_path / "out") == {"inner": "dir", "inner/d": "dir", "inner/d/x": b"two"}
        assert pkg.test().refused == report.refused

        def fails(entry):
            raise RuntimeError(entry.path)

        with pytest.raises(RuntimeError, match="d/x"):
            pkg.extractall(tmp_path / "raised", members=fails)
    with pytest.raises(ValueError):
        pkg.read("d/x")
    with pytest.raises(ValueError):
        pkg.namelist()

    # Records sharing one MiB of data: the output budget (64 times the
    # package plus 1 GiB) stops the run, which the report says.
    mib = 1 << 20
    shared = [("s%04d" % i, b"", {"size": mib, "offset": 1024 + 96 * 1101}) for i in range(1100)]
    shared[0] = ("s0000", bytes(mib))
    budget_path = write(tmp_path / "shared.rbd", package([("files", "g", shared)]))
    with kestrun.Package(budget_path) as pkg:
        report = pkg.test()
    budget = 64 * os.path.getsize(budget_path) + (1 << 30)
    assert not report.complete and not report.failed
    assert [p.code for p in report.refused] == [kestrun.ErrorCode.BUDGET]
    assert report.bytes <= budget < report.bytes + mib and len(report.written) < 1100


def test_empty_group_names_give_the_paths_that_extraction_writes(tmp_path):
    # A top-level group named "" holding etc/passwd; a/x, then a//x written
    # over it, then the unsafe name "a/x" in a top-level group named "".
    tree = [
        ("dir", "", [("files", "etc", [("passwd", b"not the host's")])]),
        ("files", "a", [("x", b"first")]),
        ("dir", "a", [("files", "", [("x", b"second, kept")])]),
        ("files", "", [("a/x", b"unsafe")]),
    ]
    with kestrun.Package(write(tmp_path / "p.rbd", package(tree))) as pkg:
        assert [(e.path, e.group, e.name) for e in pkg] == [
            ("etc/passwd", "etc/", "passwd"), ("a/x", "a/", "x"), ("a/x", "a/", "x"),
            ("a/x", "", "a/x"),
        ]
        assert [(e.shadowed, e.unsafe) for e in pkg] == [
            (False, False), (True, False), (False, False), (False, True)
        ]
        assert pkg.getinfo("a/x").index == 2 and "/etc/passwd" not in pkg
        report = pkg.extractall(tmp_path / "all")
        # A script that joins each path it is to write to its own directory
        # writes the same tree, and nothing outside it.
        mine = tmp_path / "mine"
        for entry in pkg:
            if not (entry.unsafe or entry.shadowed):
                os.makedirs(os.path.join(mine, entry.group), exist_ok=True)
                write(os.path.join(mine, entry.path), pkg.read(entry))
    assert [e.index for e in report.written] == [0, 1, 2]
    expected = {"etc": "dir", "etc/passwd": b"not the host's", "a": "dir", "a/x": b"second, kept"}
    assert tree_of(tmp_path / "all") == tree_of(mine) == expected
    assert sorted(os.listdir(tmp_path)) == ["all", "mine", "p.rbd"]


def test_damage_raises_bad_package_and_partial_keeps_what_came_before(tmp_path):
    tree = [
        ("files", "a", [("1", b"one"), ("2", b"two")]),
        # Records 3 to 5; the group c claims more files than the package
        # holds, and the first record missing is 6.
        ("dir", "b", [("files", "c", [("3", b"three")], {"count": 1000})]),
    ]
    damaged = write(tmp_path / "damaged.rbd", package(tree))
    with pytest.raises(kestrun.BadPackage) as caught:
        kestrun.Package(damaged)
    assert (caught.value.code, caught.value.record) == (kestrun.ErrorCode.DAMAGED, 6)

    with kestrun.Package(damaged, partial=True) as pkg:
        info = pkg.info
        assert info.damaged and (info.damage.code, info.damage.record) == (caught.value.code, 6)
        assert (info.records, info.entries, info.groups) == (6, 2, 3)
        assert pkg.namelist() == ["a/1", "a/2"]
        assert pkg.read("a/2") == b"two"

    # Data past the package's end can't be read; the entry is still listed.
    cut = package([("files", "a", [("1", b"one"), ("2", b"", {"size": 5, "offset": 10**6})])])
    with kestrun.Package(write(tmp_path / "cut.rbd", cut)) as pkg:
        assert pkg.getinfo("a/2").no_data and pkg.read("a/1") == b"one"
        with pytest.raises(kestrun.BadPackage) as no_data:
            pkg.read("a/2")
        assert no_data.value.code == kestrun.ErrorCode.NO_DATA

    foreign = write(tmp_path / "foreign.rbd", b"PK\3\4" + bytes(2000))
    with pytest.raises(kestrun.BadPackage) as caught:
        kestrun.Package(foreign, partial=True)
    assert caught.value.code == kestrun.ErrorCode.NOT_RBD and caught.value.record is None
    with pytest.raises(FileNotFoundError) as missing:
        kestrun.Package(tmp_path / "missing.rbd")
    assert (missing.value.errno, missing.value.filename) == (errno.ENOENT, tmp_path / "missing.rbd")

    os.mkfifo(tmp_path / "fifo")
    odd = [damaged, foreign, tmp_path / "missing", tmp_path, tmp_path / "fifo"]
    assert [kestrun.is_package(path) for path in odd] == [True, False, False, False, False]


def test_threads_read_one_package_while_it_is_closed(tmp_path):
    rng = random.Random(15)
    files = [("f%03d" % i, rng.randbytes(rng.randint(0, 300_000))) for i in range(64)]
    expected = {"g/" + name: data for name, data in files}
    pkg = kestrun.Package(write(tmp_path / "t.rbd", package([("files", "g", files)])))
    reads, ends = [], []

    def reader(seed):
        rng = random.Random(seed)
        try:
            for _ in range(100_000):
                path = rng.choice(list(expected))
                data = expected[path]
                if rng.random() < 0.5:
                    assert pkg.read(path) == data
                else:
                    with pkg.open(path) as f:
                        start = f.seek(rng.randint(0, len(data)))
                        buf = bytearray(rng.randint(0, 70_000))
                        got = f.readinto(buf)
                        assert buf[:got] == data[start : start + len(buf)]
                reads.append(1)
        except Exception as error:  # noqa: BLE001 - each thread's end is checked below
            ends.append(error)

    threads = [threading.Thread(target=reader, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    while len(reads) < 400:
        threading.Event().wait(0.001)
    pkg.close()  # while the threads read: their running calls finish first
    for thread in threads:
        thread.join()
    # Every read before the close gave the right bytes; after it, ValueError.
    assert [type(end) for end in ends] == [ValueError] * 8, ends


def test_entry_files_seek_and_read_as_files_do(tmp_path):
    data = bytes(range(256)) * 40 + b"line one\nline two\n"
    path = write(tmp_path / "s.rbd", package([("files", "g", [("e", data)])]))
    fd = os.open(path, os.O_RDONLY)
    pkg = kestrun.Package(fd)
    os.close(fd)  # the package keeps a descriptor of its own
    assert pkg.extract("g/e", tmp_path / "out").ok
    f, model = pkg.open("g/e"), open(tmp_path / "out" / "g" / "e", "rb")
    steps = [
        ("read", 10), ("seek", 44, 0), ("read", 4096), ("tell",), ("seek", -5, 1), ("read", 3),
        ("seek", -9, 2), ("readline",), ("readline",), ("readline",), ("seek", 5, 2),
        ("read", 1), ("tell",), ("seek", 0, 0), ("read", 0), ("read", None), ("read", -1),
        ("seek", 100, 0), ("readinto", 7), ("readinto", 0), ("seek", len(data) - 2, 0),
        ("readinto", 7), ("seek", 3, 0), ("readlines",), ("seek", -1, 0), ("seek", -1, 1),
        ("seek", -len(data) - 1, 2), ("tell",), ("seek", 7, 0), ("read",),
    ]
    for step in steps:
        name, args = step[0], step[1:]
        if name == "readinto":
            args = (bytearray(args[0]),)
        results = []
        for file in (f, model):
            try:
                results.append((getattr(file, name)(*args), args))
            except Exception as error:  # noqa: BLE001 - compared
                results.append(type(error))
        assert results[0] == results[1], step
    assert (f.readable(), f.seekable(), f.writable()) == (True, True, False)
    with pytest.raises(io.UnsupportedOperation):
        f.write(b"x")
    f.close()
    model.close()
    with pytest.raises(ValueError):
        f.read()
    pkg.close()


def test_entry_files_keep_their_package_until_it_is_closed(tmp_path):
    path = write(tmp_path / "k.rbd", package([("files", "g", [("a", b"kept"), ("b", b"bee\n")])]))
    # The package of an expression lives as long as its open file.
    f = kestrun.Package(path).open("g/a")
    gc.collect()
    assert (f.closed, f.read()) == (False, b"kept")
    pkg = kestrun.Package(path)
    alive = weakref.ref(pkg)
    f = pkg.open("g/a")
    del pkg
    gc.collect()
    assert alive() is not None
    f.close()  # the last file closed lets it go
    gc.collect()
    assert alive() is None

    # Closing the package closes its files, which then refuse every read.
    pkg = kestrun.Package(path)
    files = [pkg.open("g/a"), pkg.open("g/b")]
    pkg.close()
    assert [f.closed for f in files] == [True, True]
    for call in (lambda: files[0].read(), lambda: files[1].readline(), lambda: list(files[1])):
        with pytest.raises(ValueError):
            call()
    files[0].close()


def test_module_command_on_a_closed_pipe_and_its_problem_lines(tmp_path):
    many = [("f%05d" % i, b"") for i in range(20000)]  # far more than a pipe holds
    tree = [
        ("files", "data", [("a", b"A"), ("..", b"refused")]),
        ("files", "sfx", [("gone", b"", {"size": 9, "offset": 10**9})]),
        ("files", "many", many),
    ]
    path = write(tmp_path / "p.rbd", package(tree))
    module = [sys.executable, "-m", "kestrun"]

    # The reader goes after one line: the end is SIGPIPE's, with no message,
    # as the kestrun command's is.
    lister = subprocess.Popen(module + ["-l", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert lister.stdout.readline() == b"%10d  data/a\n" % 1
    lister.stdout.close()
    assert (lister.wait(), lister.stderr.read()) == (-signal.SIGPIPE, b"")
    lister.stderr.close()

    # Each problem's line names its entry once.
    unsafe, gone = 'Refusing unsafe path, "data/.."', 'Failed to read in data, "sfx/gone"'
    tested = subprocess.run(module + ["-t", path], capture_output=True, text=True)
    assert tested.returncode == 2
    assert tested.stderr.splitlines() == [unsafe, gone]
    (tmp_path / "out").mkdir()
    os.symlink(tmp_path, tmp_path / "out" / "data")
    extracted = subprocess.run(module + ["-e", path, tmp_path / "out"], capture_output=True, text=True)
    assert extracted.stderr.splitlines() == [
        'Refusing to extract through a link, "data/a"',
        unsafe,
        gone,
    ]


@pytest.mark.skipif(not hasattr(os, "symlink"), reason="symbolic links are POSIX here")
def test_links_in_the_output_tree_are_not_followed(tmp_path):
    tree = [
        ("files", "data", [("a", b"through the link"), ("b", b"replaces the link")]),
        ("files", "self", [("p.rbd", b"would overwrite the package")]),
    ]
    pkg_bytes = package(tree)
    out, outside = tmp_path / "out", tmp_path / "outside"
    (out / "self").mkdir(parents=True)
    outside.mkdir()
    write(outside / "b", b"kept")
    os.symlink(outside, out / "data")  # a group's directory is a link
    pkg_path = write(out / "self" / "p.rbd", pkg_bytes)  # an entry names the package

    with kestrun.Package(pkg_path) as pkg:
        report = pkg.extractall(out)
        assert [(p.entry.path, p.code) for p in report.refused] == [
            ("data/a", kestrun.ErrorCode.UNSAFE),
            ("data/b", kestrun.ErrorCode.UNSAFE),
            ("self/p.rbd", kestrun.ErrorCode.UNSAFE),
        ]
        assert "link" in report.refused[0].message and "package" in report.refused[2].message
        assert tree_of(outside) == {"b": b"kept"}
        assert (out / "self" / "p.rbd").read_bytes() == pkg_bytes

        # A link with an entry's own name is replaced, its target kept.
        os.unlink(out / "data")
        (out / "data").mkdir()
        os.symlink(outside / "b", out / "data" / "b")
        assert pkg.extract("data/b", out).ok
        assert not os.path.islink(out / "data" / "b")
        assert (out / "data" / "b").read_bytes() == b"replaces the link"
        assert tree_of(outside) == {"b": b"kept"}


# The later package repeats b.txt, whose later entry differs; ".." leaves
# nothing and "cut", whose data runs past the end, an empty file.
EARLIER = [("files", "data", [("a.txt", b"same"), ("b.txt", b"old b"), ("gone.txt", b"gone")])]
LATER = [
    (
        "files",
        "data",
        [
            ("a.txt", b"same"),
            ("b.txt", b"old b"),
            ("b.txt", b"new b"),
            ("..", b"refused"),
            ("new.txt", b"new"),
            ("cut", b"", {"size": 9, "offset": 10**6}),
        ],
    ),
    ("files", "data-x", [("y", b"y")]),
]


def test_diff_of_packages_and_of_an_edited_extraction(tmp_path):
    earlier = write(tmp_path / "earlier.rbd", package(EARLIER))
    later = write(tmp_path / "later.rbd", package(LATER))
    assert kestrun.diff(earlier, later) == (
        ["data-x/y", "data/cut", "data/new.txt"],
        ["data/gone.txt"],
        ["data/b.txt"],
    )
    with kestrun.Package(later) as pkg:
        pkg.extractall(tmp_path / "later")
        assert not any(kestrun.diff(tmp_path / "later", pkg))

    # An extraction with one file edited, one added and one removed; a link
    # to the very bytes of an entry is not followed.
    tree = tmp_path / "earlier"
    with kestrun.Package(earlier) as pkg:
        pkg.extractall(tree)
    write(tree / "data" / "a.txt", b"SAME")
    write(tree / "data" / "added", b"added")
    os.remove(tree / "data" / "gone.txt")
    write(tmp_path / "copy", b"new")
    os.symlink("../../copy", tree / "data" / "new.txt")
    changes = kestrun.diff(tree, later)
    assert changes == kestrun.Diff(
        added=["data-x/y", "data/cut"],
        deleted=["data/added"],
        modified=["data/a.txt", "data/b.txt", "data/new.txt"],
    )
    if KESTRUN:  # the command's lines say the same
        run = subprocess.run([KESTRUN, "--diff", tree, later], capture_output=True, env=CLI_ENV)
        lines = [("A", path) for path in changes.added] + [("D", path) for path in changes.deleted]
        lines += [("M", path) for path in changes.modified]
        lines.sort(key=lambda line: os.fsencode(line[1]))
        assert run.stdout.decode() == "".join(f"{letter}\t{path}\n" for letter, path in lines)
        assert run.returncode == 2


def test_extractall_with_threads_gives_what_one_thread_gives(tmp_path):
    # Many small entries beside the mixed ones, so that the threads meet.
    tree = MIXED + [("files", "many", [(f"f{i}", bytes([i]) * i) for i in range(60)])]
    with kestrun.Package(write(tmp_path / "p.rbd", package(tree))) as pkg:
        seen = []
        for threads in (1, 4, None):
            chosen = []
            report = pkg.extractall(tmp_path / f"t{threads}", lambda e: chosen.append(e.index) or 1,
                                    threads=threads)
            outcome = ([e.index for e in report.written],
                       [(p.entry.index, p.code, p.message) for p in report.refused + report.failed],
                       report.complete, chosen)
            seen.append((outcome, tree_of(tmp_path / f"t{threads}")))
        assert seen[1] == seen[0] and seen[2] == seen[0]
        for wrong in (0, -1, 2.5, True):
            with pytest.raises(ValueError):
                pkg.extractall(tmp_path / "wrong", threads=wrong)
    assert not os.path.exists(tmp_path / "wrong")
