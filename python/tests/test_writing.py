"""Writing packages from Python: "w", "x" and "a", checked by reading them back
and against the kestrun command's extraction."""

import errno
import gc
import os
import subprocess
import threading

import pytest

import kestrun
from rbd_bytes import package
from test_kestrun import CLI_ENV, KESTRUN, tree_of, write

# Nested groups, a file group beside a directory group of the same name, and
# a path given twice (extraction leaves the second).
BASE = [
    ("dir", "data", [("files", "snd", [("a.wav", b"RIFFa"), ("b.wav", b"RIFFbb")])]),
    ("files", "data", [("readme.txt", b"first"), ("notes", b"notes"), ("readme.txt", b"second")]),
    ("files", "sfx", [("boom.wav", b"BOOM"), ("old.wav", b"old")]),
]


def extracted_by_the_command(package_path, where):
    """The tree that `kestrun PACKAGE` leaves, run in `where`."""
    where.mkdir()
    run = subprocess.run([KESTRUN, package_path], cwd=where, capture_output=True, env=CLI_ENV)
    assert run.returncode == 0, run.stdout + run.stderr
    return where / os.path.basename(package_path)[:-4]


@pytest.mark.skipif(not KESTRUN, reason="KESTRUN_BIN names the kestrun command to compare with")
def test_a_edits_in_place_and_round_trips_through_an_extraction(tmp_path):
    path = write(tmp_path / "p.rbd", package(BASE))
    before = path.read_bytes()
    tree = extracted_by_the_command(path, tmp_path / "before")
    with kestrun.Package(path) as original:
        names = original.namelist()

    # The same edits to the extracted tree, and through "a".
    with kestrun.Package(path, "a") as pkg:
        early = pkg.open("data/snd/a.wav")
        write(tree / "data" / "readme.txt", b"third, replaced in place")
        pkg.write(tree / "data" / "readme.txt", "data/readme.txt")
        write(tree / "data" / "snd" / "c.wav", b"RIFFc")
        pkg.writestr("data/snd/c.wav", b"RIFFc")
        (tree / "music").mkdir()
        write(tree / "music" / "theme.ogg", b"OggS")
        pkg.writestr("music/theme.ogg", "OggS")
        os.remove(tree / "sfx" / "old.wav")
        pkg.remove("sfx/old.wav")
        os.rename(tree / "data" / "notes", tree / "data" / "notes.txt")
        pkg.rename("data/notes", "data/notes.txt")
        os.rename(tree / "sfx" / "boom.wav", tree / "data" / "snd" / "boom.wav")
        os.rmdir(tree / "sfx")
        pkg.rename(pkg.getinfo("sfx/boom.wav"), "data/snd/boom.wav")
        write(tree / "data" / "snd" / "a.wav", b"RIFF, replaced")
        pkg.writestr("data/snd/a.wav", b"RIFF, replaced")

        # Reading shows the package as it was opened until it is closed.
        assert pkg.namelist() == names and len(pkg) == len(names)
        assert (pkg.read("data/readme.txt"), pkg.read("sfx/old.wav")) == (b"second", b"old")
        assert "music/theme.ogg" not in pkg and early.read() == b"RIFFa"
        assert path.read_bytes() == before
    assert pkg.closed and early.closed

    after = extracted_by_the_command(path, tmp_path / "after")
    assert tree_of(after) == tree_of(tree)
    with kestrun.Package(path) as edited:
        assert not any(kestrun.diff(tree, edited))
        # Replaced and renamed in their places (the shadowed readme.txt
        # kept); moved and new ones at the end of their groups.
        readme = [edited.read(e) for e in edited if e.path == "data/readme.txt"]
        assert readme == [b"first", b"third, replaced in place"]
        assert edited.namelist() == [
            "data/snd/a.wav", "data/snd/b.wav", "data/snd/c.wav", "data/snd/boom.wav",
            "data/readme.txt", "data/notes.txt", "data/readme.txt", "music/theme.ogg",
        ]


def test_w_makes_a_new_package_and_x_refuses_an_existing_file(tmp_path):
    source = write(tmp_path / "source.bin", b"from a file")
    (tmp_path / "folder").mkdir()
    path = tmp_path / "new.rbd"
    with kestrun.Package(path, "w") as pkg:
        pkg.writestr("g/a", b"bytes")
        pkg.writestr("g/h/b", "text, \xe9")
        pkg.writestr(b"g/caf\xe9", bytearray(b"a name that is not UTF-8"))
        pkg.writestr("g/empty", memoryview(b""))
        pkg.write(source)  # as zipfile names it: the path made relative
        pkg.write(source, "/g/./x/../from-file")
        with pytest.raises(ValueError, match="is a directory"):
            pkg.write(tmp_path / "folder")
        with pytest.raises(ValueError, match="nothing to read"):
            pkg.namelist()
        assert not path.exists() and "mode='w' new" in repr(pkg)
    with kestrun.Package(path) as pkg:
        contents = {e.path_bytes: pkg.read(e) for e in pkg}
    assert contents == {
        b"g/h/b": "text, \xe9".encode(),
        b"g/a": b"bytes",
        b"g/caf\xe9": b"a name that is not UTF-8",
        b"g/empty": b"",
        b"g/from-file": b"from a file",
        os.fsencode(source).lstrip(b"/"): b"from a file",
    }

    made = path.read_bytes()
    with pytest.raises(FileExistsError) as exists:
        kestrun.Package(path, "x")
    assert (exists.value.errno, exists.value.filename, path.read_bytes()) == (
        errno.EEXIST, path, made
    )
    with kestrun.Package(tmp_path / "x.rbd", "x") as pkg:
        pkg.writestr("g/x", b"x")
    with kestrun.Package(path, "w") as pkg:  # replaces what is there
        pkg.writestr("g/only", b"")
    assert kestrun.Package(path).namelist() == ["g/only"]

    with pytest.raises(FileNotFoundError):
        kestrun.Package(tmp_path / "missing" / "p.rbd", "w")
    with open(path, "rb") as f, pytest.raises(TypeError, match="by path"):
        kestrun.Package(f, "a")
    with pytest.raises(ValueError, match="mode 'r', 'w', 'x' or 'a'"):
        kestrun.Package(path, "rw")
    with pytest.raises(ValueError, match="partial"):
        kestrun.Package(path, "w", partial=True)
    with kestrun.Package(path) as pkg, pytest.raises(ValueError, match="requires mode"):
        pkg.writestr("g/a", b"")
    # partial given by position, from before there was a mode, still works.
    damaged = write(tmp_path / "damaged.rbd", package([("files", "g", [("a", b"")])], records=5))
    with pytest.warns(DeprecationWarning), kestrun.open(damaged, True) as pkg:
        assert pkg.info.damaged and pkg.namelist() == ["g/a"]


def test_refusals_name_their_rule_and_an_exception_leaves_the_file_as_it_was(tmp_path):
    path = write(tmp_path / "p.rbd", package(BASE))
    before = path.read_bytes()
    long_path = "data/" + "/".join(["d" * 60] * 5) + "/x"
    refused = [
        ("top.txt", "a file at the top level"),
        ("data/..", 'unsafe name ".."'),
        ("data//x", "an empty name"),
        ("data/" + "n" * 63, "a name holds 62 at most"),
        (long_path, "path too long"),
        ("data/snd", "a file where a group is"),
        ("data/notes/x", 'a group where a file is \\("data/notes" is an entry\\)'),
        ("data/a\0b", "embedded null byte"),
    ]
    with pytest.raises(RuntimeError, match="given up"):
        with kestrun.Package(path, "a") as pkg:
            pkg.writestr("data/readme.txt", b"never written")
            pkg.remove("sfx/old.wav")
            for name, rule in refused:
                with pytest.raises(ValueError, match=rule):
                    pkg.writestr(name, b"refused")
            with pytest.raises(ValueError, match="exists already"):
                pkg.rename("data/notes", "sfx/boom.wav")
            with pytest.raises(ValueError, match="unsafe name"):
                pkg.rename("data/notes", "data/..")
            with pytest.raises(KeyError):
                pkg.remove("data/missing")
            with pytest.raises(KeyError):
                pkg.rename("data/missing", "data/m")
            raise RuntimeError("given up")
    assert pkg.closed and path.read_bytes() == before
    assert os.listdir(tmp_path) == ["p.rbd"]  # no spool or temporary file left
    with pytest.raises(ValueError, match="closed"):
        pkg.writestr("data/x", b"")

    # A package never closed is never written, and says so when it goes.
    pkg = kestrun.Package(path, "a")
    pkg.writestr("data/readme.txt", b"never written")
    with pytest.warns(ResourceWarning, match="never closed"):
        del pkg
        gc.collect()
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["p.rbd"]


def test_a_lost_update_is_refused(tmp_path):
    path = write(tmp_path / "p.rbd", package(BASE))
    first = kestrun.Package(path, "a")
    first.writestr("data/readme.txt", b"first's")
    with kestrun.Package(path, "a") as second:
        second.writestr("data/notes", b"second's")
    theirs = path.read_bytes()
    with pytest.raises(kestrun.Changed, match="changed since") as changed:
        first.close()
    assert isinstance(changed.value, OSError) and changed.value.filename == path
    assert first.closed and path.read_bytes() == theirs

    # A file that took the name of a package being made is not replaced.
    new = tmp_path / "new.rbd"
    made = kestrun.Package(new, "x")
    made.writestr("g/a", b"")
    write(new, b"someone else's")
    with pytest.raises(kestrun.Changed):
        made.close()
    assert new.read_bytes() == b"someone else's"

    # Nor is a package written from a file that changed size since write().
    source = write(tmp_path / "source", b"12345")
    with pytest.raises(kestrun.Changed, match="changed size"):
        with kestrun.Package(path, "a") as pkg:
            pkg.write(source, "data/source")
            write(source, b"123")
    assert path.read_bytes() == theirs


def test_threads_write_one_package_while_others_read_it(tmp_path):
    path = write(tmp_path / "p.rbd", package(BASE))
    # Entries large enough that each put lets go of the GIL, of other sizes
    # in each thread.
    entries = {
        f"t{t}/e{i:02d}": bytes([t, i]) * (t + 1) * 20_000 for t in range(4) for i in range(40)
    }
    start = threading.Barrier(4)
    ends = []

    def writer(t):
        start.wait()
        for i in range(40):
            name = f"t{t}/e{i:02d}"
            pkg.writestr(name, entries[name])

    def reader():
        try:
            for _ in range(200):
                assert pkg.read("data/readme.txt") == b"second"
        except Exception as error:  # noqa: BLE001 - checked below
            ends.append(error)

    with kestrun.Package(path, "a") as pkg:
        threads = [threading.Thread(target=writer, args=(t,)) for t in range(4)]
        threads += [threading.Thread(target=reader) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert ends == []
    with kestrun.Package(path) as pkg:
        assert {name: pkg.read(name) for name in entries} == entries
        assert len(pkg) == 7 + len(entries)

