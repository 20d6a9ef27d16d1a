"""Read and write RBD packages, with an API shaped like zipfile and tarfile.

An RBD package is one archive file: a header, an index of groups
(directories) and files, then the files' data. This module reads and writes
them through libkestrun, the library of the kestrun command::

    import kestrun

    with kestrun.Package("music.rbd") as pkg:
        for entry in pkg:
            print(entry.size, entry.path)
        data = pkg.read("data/snd/a.wav")
        with pkg.open("data/snd/a.wav") as f:
            f.seek(44)
            samples = f.read(4096)
        report = pkg.extractall("out")
        for problem in report.refused + report.failed:
            print(problem.entry.path, problem.message)

    with kestrun.Package("music.rbd", "a") as pkg:  # edited in place
        pkg.writestr("data/snd/a.wav", new_wav)  # replaced where it lies
        pkg.write("boom.wav", "data/sfx/boom.wav")  # added
        pkg.remove("data/old.txt")
        pkg.rename("data/readme", "data/readme.txt")
    # committed at once at the end of the block; an exception aborts

    changes = kestrun.diff("music-1.0.rbd", "music-1.1.rbd")  # or a directory
    for path in changes.modified:
        print("M", path)

Paths are str, decoded as os.fsdecode does (lossless: os.fsencode gives the
package's bytes back); every method that takes a name also takes bytes.

One Package may be read from any number of threads at once: reads are
positional and release the GIL. Extraction applies the kestrun command's
rules unchanged: no link below the output root is followed, the package is
never overwritten, unsafe names are refused (never renamed), and one run
writes at most 64 times the package's size plus 1 GiB. Writing commits the
whole package at close(), at once: the file is either whole and old or whole
and new, never lost, and never written over another program's work.
"""

from __future__ import annotations

import contextlib
import enum
import errno
import io
import operator
import os
import stat
import warnings
from typing import Callable, Iterable, Iterator, NamedTuple, Optional, Tuple, Union

from . import _kestrun

__all__ = [
    "BadPackage",
    "Changed",
    "Diff",
    "Entry",
    "EntryFile",
    "ErrorCode",
    "Info",
    "Package",
    "Problem",
    "Report",
    "diff",
    "is_package",
    "open",
]

__version__ = _kestrun.version()

StrOrBytesPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class ErrorCode(enum.IntEnum):
    """libkestrun's codes: why a call failed or an entry was not written."""

    OK = _kestrun.OK
    INCOMPLETE = _kestrun.INCOMPLETE
    INVALID = _kestrun.E_INVALID  # a bad argument
    IO = _kestrun.E_IO  # the system refused a read or write
    NOMEM = _kestrun.E_NOMEM  # memory could not be had
    NOT_RBD = _kestrun.E_NOT_RBD  # the header is not an RBD package's
    DAMAGED = _kestrun.E_DAMAGED  # the index is damaged
    NOT_FOUND = _kestrun.E_NOT_FOUND  # no entry has that path
    NO_DATA = _kestrun.E_NO_DATA  # the entry's data runs past the package's end
    UNSAFE = _kestrun.E_UNSAFE  # extraction refuses the entry's path
    BUDGET = _kestrun.E_BUDGET  # extraction would pass its output budget
    CHANGED = _kestrun.E_CHANGED  # a file that writing relies on changed under it


def _code(number: int) -> Union[ErrorCode, int]:
    try:
        return ErrorCode(number)
    except ValueError:
        return number


class BadPackage(Exception):
    """The file is not an RBD package, or its index or data is damaged.

    ``code`` is ErrorCode.NOT_RBD (the header), ErrorCode.DAMAGED (the index)
    or ErrorCode.NO_DATA (an entry's data runs past the package's end).
    ``record`` is the number of the index record at fault, counted from 0 at
    byte 1024 of the package, for a damaged index; else None.
    """

    def __init__(
        self, message: str, code: int = ErrorCode.DAMAGED, record: Optional[int] = None
    ) -> None:
        super().__init__(message)
        self.code = _code(code)
        self.record = record


class Changed(OSError):
    """A file that writing relies on changed under it, so nothing was
    written over it: a lost update refused.

    Raised by close() (and by Package(path, "a") when the file changed as it
    was opened) when the package's file is no longer the one that was
    opened: another program wrote it, or replaced it, or a file took the
    name of a package being made; or when a file given to write() no longer
    has the size it had. The file at the package's path is left as the
    other program left it. Open it again, and edit that. ``filename`` is
    the package's path (the file given, when write() itself raises it).
    """

    def __init__(self, message: str, filename: object = None) -> None:
        super().__init__(message)
        self.filename = filename

    def __str__(self) -> str:
        message = str(self.args[0]) if self.args else ""
        return message if self.filename is None else f"{message}: {self.filename!r}"


_kestrun._set_exceptions(BadPackage, Changed)


class Info(NamedTuple):
    """What a package holds, as read when it was opened."""

    version: int  # the format version from the header: 2
    records: int  # index records that the header announces
    entries: int  # entries in the package
    groups: int  # group records read
    package_size: int  # bytes in the package file when it was opened
    damaged: bool  # opened with partial=True past damage in the index
    damage: Optional[BadPackage]  # what the damage is, as opening would have raised it


class Entry:
    """One entry (file) of a package. Entries are made by a Package.

    path: the group path and the name, "data/snd/a.wav": the path that
        extraction writes below its directory
    group: the group path, each group's name and a slash, "data/snd/";
        empty group names, which extraction passes over, are left out
    name: the entry's own name, "a.wav"
    path_bytes: the path as bytes, the package's own
    size, offset: the data's length and where it lies in the package
    index: its place among the package's entries, in index order
    unsafe: extraction refuses its path (".", "..", a separator, an empty
        name, a path too long...)
    shadowed: a later entry has the same path and replaces it on extraction
    no_data: its data runs past the package's end; it can't be read
    """

    __slots__ = (
        "index",
        "offset",
        "size",
        "group",
        "name",
        "path",
        "path_bytes",
        "_flags",
        "_handle",
    )

    index: int
    offset: int
    size: int
    group: str
    name: str
    path: str
    path_bytes: bytes
    _flags: int
    _handle: _kestrun.Handle

    @property
    def unsafe(self) -> bool:
        return bool(self._flags & _kestrun.ENTRY_UNSAFE)

    @property
    def shadowed(self) -> bool:
        return bool(self._flags & _kestrun.ENTRY_SHADOWED)

    @property
    def no_data(self) -> bool:
        return bool(self._flags & _kestrun.ENTRY_NO_DATA)

    def is_dir(self) -> bool:
        """False: a package's index holds files only (as in zipfile.ZipInfo)."""
        return False

    def __repr__(self) -> str:
        flags = [name for name in ("unsafe", "shadowed", "no_data") if getattr(self, name)]
        extra = (" " + " ".join(flags)) if flags else ""
        return f"<kestrun.Entry {self.index} {self.path!r} size={self.size}{extra}>"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Entry):
            return NotImplemented
        return self._handle is other._handle and self.index == other.index

    def __hash__(self) -> int:
        return hash((id(self._handle), self.index))


def _make_entry(handle: _kestrun.Handle, index: int) -> Entry:
    entry = Entry.__new__(Entry)
    (
        entry.index,
        entry._flags,
        entry.offset,
        entry.size,
        entry.group,
        entry.name,
        entry.path,
        entry.path_bytes,
    ) = handle.entry(index)
    entry._handle = handle
    return entry


class Problem(NamedTuple):
    """An entry that extraction (or test) refused or could not write."""

    entry: Entry
    code: Union[ErrorCode, int]  # UNSAFE, BUDGET, NO_DATA or IO
    errno: int  # the system's error for ErrorCode.IO, else 0
    message: str


class Report:
    """The outcome of Package.extractall, extract or test.

    written: the entries written (by test(): that would be written)
    refused: Problems of entries refused: an unsafe name, a link or the
        package itself in the way, or the output budget (ErrorCode.UNSAFE,
        ErrorCode.BUDGET); nothing was written for them
    failed: Problems of entries that failed: data past the package's end,
        left as an empty file (ErrorCode.NO_DATA), or an error of the system
        (ErrorCode.IO), after which no incomplete file is left
    complete: False when the output budget stopped the run; the entries after
        the one that would pass it were not met
    ok: every chosen entry was written and the run was complete
    """

    __slots__ = ("written", "refused", "failed", "complete")

    def __init__(
        self, written: list[Entry], refused: list[Problem], failed: list[Problem], complete: bool
    ) -> None:
        self.written = written
        self.refused = refused
        self.failed = failed
        self.complete = complete

    @property
    def ok(self) -> bool:
        return self.complete and not self.refused and not self.failed

    @property
    def bytes(self) -> int:
        """The bytes of the entries written."""
        return sum(entry.size for entry in self.written)

    def __repr__(self) -> str:
        return (
            f"<kestrun.Report written={len(self.written)} refused={len(self.refused)} "
            f"failed={len(self.failed)} complete={self.complete}>"
        )


Member = Union[str, bytes, Entry]
Members = Union[None, Iterable[Member], Callable[[Entry], object]]


class Package:
    """An RBD package: Package(file, mode="r", *, partial=False).

    ``mode`` is "r" to read, "w" to make a new package (replacing the file
    at close(), as zipfile's "w" does), "x" to make one where no file is
    (FileExistsError at once otherwise), or "a" to edit one in place (made
    anew when the file is missing, as with zipfile).

    ``file`` is a path (str, bytes or os.PathLike); with "r" also a file
    descriptor open for reading (or an object with fileno()), of which the
    package keeps a duplicate of its own, so the caller keeps and closes its
    descriptor. A package is written by path only: commit puts a new file
    at that path.

    The whole index is read and checked at once ("r", "a"). A file that is
    not an RBD package, or whose index is damaged, raises BadPackage; with
    ``partial=True`` a damaged index is no error: the package holds the
    entries before the damage, and ``info.damaged`` and ``info.damage`` say
    what was found ("a" then writes what it holds). A missing or unreadable
    file raises OSError (FileNotFoundError, PermissionError...).

    Writing ("w", "x", "a"): writestr(), write(), remove() and rename()
    change the package, and close() (or the end of a ``with`` block)
    commits it all at once: the new package is written beside the file,
    flushed, and renamed over it, so that the file is either whole and old
    or whole and new whatever happens. An exception in the ``with`` block,
    or a package never closed, leaves the file as it was. In "a" mode
    reading shows the package as it was opened until it is closed; in "w"
    and "x" mode there is nothing to read. Commit raises Changed, and writes
    nothing, when another program changed the file meanwhile. A writing
    Package may be used from several threads, one call at a time.

    Use it as a context manager, or call close(). After close(), every
    method and the package's open entry files raise ValueError.
    """

    def __init__(
        self,
        file: Union[StrOrBytesPath, int],
        mode: str = "r",
        *,
        partial: bool = False,
    ) -> None:
        self._handle: Optional[_kestrun.Handle] = None
        self._writer: Optional[_kestrun.Writer] = None
        mode, partial = _mode_and_partial(mode, partial)
        self.mode = mode
        if isinstance(file, bool):
            raise TypeError("a package is a path or a file descriptor, not bool")
        if isinstance(file, int) or hasattr(file, "fileno"):
            if mode != "r":
                raise TypeError(
                    f"a package is written by path, not by descriptor (mode {mode!r}): "
                    "close() puts a new file at the path"
                )
            self.filename: Optional[str] = getattr(file, "name", None)
            if not isinstance(self.filename, str):
                self.filename = None
            self._handle = _kestrun.open_fd(file, partial)
            return
        self.filename = os.fsdecode(file)
        path = os.fsencode(file)
        if mode == "r":
            self._handle = _kestrun.open(path, partial, file)
        elif mode == "a":
            self._begin_edit(path, file, partial)
        elif partial:
            raise ValueError(f"partial=True reads a damaged package: mode 'r' or 'a', not {mode!r}")
        else:
            try:
                self._writer = _kestrun.begin(None, path, mode == "x", file)
            except FileExistsError as error:
                error.strerror = "a file has that name, and mode 'x' makes only a new package"
                raise

    def _begin_edit(self, path: bytes, file: object, partial: bool) -> None:
        for attempt in range(3):
            try:
                self._handle = _kestrun.open(path, partial, file)
            except FileNotFoundError:
                try:
                    # A new package; one that someone makes meanwhile is
                    # edited, never replaced unseen.
                    self._writer = _kestrun.begin(None, path, True, file)
                    return
                except FileExistsError:
                    if attempt == 2:
                        raise
                    continue
            try:
                self._writer = _kestrun.begin(self._handle, path, False, file)
            except BaseException:
                self._handle.close()
                raise
            return

    # -- Life ---------------------------------------------------------------

    def close(self) -> None:
        """Commits what was written ("w", "x", "a"), then closes the package;
        a call running in another thread finishes first.

        The commit either puts the whole new package at the path or leaves
        the file as it was, and raises: Changed when another program changed
        the file since it was opened, OSError when the system refused
        (ENOSPC for a full disk), ValueError for a package past the 4 GiB
        that its offsets reach. The package is closed either way."""
        writer, self._writer = self._writer, None
        try:
            if writer is not None:
                writer.commit()
        finally:
            if self._handle is not None:
                self._handle.close()

    def _abort(self) -> None:
        writer, self._writer = self._writer, None
        if writer is not None:
            writer.abort()
        if self._handle is not None:
            self._handle.close()

    @property
    def closed(self) -> bool:
        if self._writer is not None:
            return False
        return self._handle is None or self._handle.closed

    def __enter__(self) -> "Package":
        return self

    def __exit__(self, exc_type: object, *exc_info: object) -> None:
        """Commits, or aborts when the block raised: the file stays as it was."""
        if exc_type is not None:
            self._abort()
        else:
            self.close()

    def __del__(self) -> None:
        writer = getattr(self, "_writer", None)
        if writer is not None:
            warnings.warn(
                f"{self!r} was never closed: nothing of it was written", ResourceWarning, 2, self
            )
            writer.abort()
        handle = getattr(self, "_handle", None)
        if handle is not None:
            handle.close()

    def __repr__(self) -> str:
        if self.closed:
            state = "closed"
        elif self._handle is None:
            state = "new"
        else:
            state = f"{len(self)} entries"
        mode = "" if self.mode == "r" else f" mode={self.mode!r}"
        return f"<kestrun.Package {self.filename!r}{mode} {state}>"

    # -- What it holds -------------------------------------------------------

    @property
    def info(self) -> Info:
        """The package's Info: version, records, entries, groups, size, damage."""
        version, records, entries, groups, size, damaged, found = self._open().info()
        damage = None if found is None else BadPackage(found[2], found[0], found[1])
        return Info(version, records, entries, groups, size, damaged, damage)

    def namelist(self) -> list[str]:
        """Every entry's path in index order; duplicates are kept."""
        return self._open().names()

    def infolist(self) -> list[Entry]:
        """Every Entry in index order; duplicates are kept."""
        handle = self._open()
        return [_make_entry(handle, index) for index in range(handle.count())]

    def getinfo(self, name: Union[str, bytes]) -> Entry:
        """The Entry of ``name``: the last entry of that path, which extraction
        leaves on disk. KeyError when there is none."""
        handle = self._open()
        return _make_entry(handle, handle.find(name))

    def __iter__(self) -> Iterator[Entry]:
        handle = self._open()
        for index in range(handle.count()):
            yield _make_entry(handle, index)

    def __len__(self) -> int:
        return self._open().count()

    def __contains__(self, name: object) -> bool:
        if not isinstance(name, (str, bytes)):
            return False
        try:
            self._open().find(name)
        except KeyError:
            return False
        return True

    # -- Reading -------------------------------------------------------------

    def read(self, member: Member) -> bytes:
        """The whole data of ``member`` (a name or an Entry) as bytes.

        BadPackage (code NO_DATA) when its data runs past the package's end,
        OSError when reading fails, KeyError for a name not in the package."""
        handle = self._open()
        return handle.read(self._index(handle, member), 0, -1)

    def open(self, member: Member, mode: str = "r") -> "EntryFile":
        """A read-only, seekable binary file object of ``member``'s data, with
        a position of its own. Any number may be open at once."""
        if mode not in ("r", "rb"):
            raise ValueError(f"an entry opens for reading only, not with mode {mode!r}")
        handle = self._open()
        index = self._index(handle, member)
        entry = member if isinstance(member, Entry) else _make_entry(handle, index)
        return EntryFile(self, handle, entry)

    # -- Extracting ----------------------------------------------------------

    def extractall(
        self, path: StrOrBytesPath = ".", members: Members = None, threads: Optional[int] = None
    ) -> Report:
        """Writes entries below ``path``, the output root itself (made when
        missing; its parent must exist): entry "data/a.wav" goes to
        path/data/a.wav. Returns a Report of what was written, refused and
        failed.

        ``members`` chooses the entries: None takes all; an iterable of names
        (the last entry of each, as getinfo gives; KeyError for a missing one,
        before anything is written) and Entry objects; or a callable given
        each Entry in index order, whose true answer takes it.

        The kestrun command's rules apply unchanged: unsafe names are refused
        and never renamed; a link or a non-directory on the way to an entry
        is refused, never followed; whatever non-directory has an entry's own
        name is replaced (never opened), unless it is the package itself; a
        later entry of a path replaces an earlier one; a file that could not
        be written whole is removed; and the run stops at an output budget
        of 64 times the package's size plus 1 GiB. OSError when ``path``
        can't be made or opened.

        ``threads`` is how many threads write the files: None means as many
        as the processors this process may use, at most 8 (1 on Windows); 1
        writes one entry after another. The tree and the Report are the same
        with any number. A callable ``members`` is called for entries ahead
        of those written so far, always on the calling thread. ValueError for
        a number below 1."""
        if threads is not None and (type(threads) is not int or threads < 1):
            raise ValueError(f"threads is None or a number from 1 up, not {threads!r}")
        handle = self._open()
        selection = self._selection(handle, members)
        return self._run(handle, os.fsencode(path), selection, threads or 0)

    def extract(self, member: Member, path: StrOrBytesPath = ".") -> Report:
        """Writes the one entry ``member`` (a name: its last entry; or an
        Entry) below ``path``, as extractall() does; returns the Report."""
        handle = self._open()
        return self._run(handle, os.fsencode(path), self._selection(handle, [member]))

    def test(self, members: Members = None) -> Report:
        """Meets the chosen entries as extractall() would, writing nothing
        (the checks of ``kestrun -t``): unsafe names, data past the package's
        end and the output budget are reported as extraction reports them.
        What the disk would say (links, space, permissions) is not tested."""
        handle = self._open()
        return self._run(handle, None, self._selection(handle, members))

    # -- Writing -------------------------------------------------------------

    def writestr(self, path: Member, data: Union[str, "bytes | bytearray | memoryview"]) -> None:
        """Writes ``data`` (bytes-like; str is encoded as UTF-8, as zipfile
        does) as the entry ``path``: the data of the entry that getinfo()
        would give is replaced, its record and its place kept; otherwise a
        new entry is added at the end of the last file group of its group
        path, or in a group made for it where rbdpack would place it.

        ``path`` is a path as reading shows it, "data/snd/a.wav" (or an
        Entry, for its path). A path the package can't hold raises
        ValueError, whose message names the rule: an empty, unsafe or
        too long name, a path too long to extract, a file at the top level,
        a file where a group is or a group where a file is. The bytes are
        copied before it returns (to a spool file beside the package, so
        memory stays bounded)."""
        writer = self._writer
        if writer is None:
            writer = self._writing("writestr")
        if isinstance(path, Entry):
            path = path.path_bytes
        if isinstance(data, str):
            data = data.encode()
        writer.put(path, data)

    def write(self, filename: StrOrBytesPath, arcname: Optional[StrOrBytesPath] = None) -> None:
        """Writes the file ``filename`` as the entry ``arcname``, as
        writestr() does. ``arcname`` is ``filename`` unless given, made
        relative as zipfile makes it: without a drive or leading "/", and
        normalised ("a/./b" and "a/x/../b" give "a/b").

        The file is read at close(), and must keep its size until then
        (else close() raises Changed); a directory raises ValueError, since
        a package holds files only and no directory of its own."""
        writer = self._writing("write")
        name = _arcname(filename if arcname is None else arcname)
        fd = os.open(filename, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
        try:
            if stat.S_ISDIR(os.fstat(fd).st_mode):
                raise ValueError(
                    f"{os.fsdecode(filename)!r} is a directory: a package holds files, and no "
                    "directory of its own; write the files below it one by one"
                )
            writer.put_fd(name, fd)
        except OSError as error:
            if error.filename is None:
                error.filename = filename
            raise
        finally:
            os.close(fd)

    def remove(self, member: Member) -> None:
        """Removes every entry of the path ``member`` (or of an Entry's
        path); KeyError when there is none."""
        self._writing("remove").remove(_path_of(member))

    def rename(self, old: Member, new: Union[str, bytes]) -> None:
        """Renames the entry at ``old``, the one getinfo() would give. In its
        own group path it keeps its place; to another one it moves as a new
        entry would. KeyError when ``old`` has no entry; ValueError when
        ``new`` has one already or breaks a rule, as for writestr()."""
        self._writing("rename").rename(_path_of(old), new)

    # -- Inside --------------------------------------------------------------

    def _open(self) -> _kestrun.Handle:
        handle = self._handle
        if handle is None or handle.closed:
            if handle is None and self._writer is not None:
                raise ValueError(
                    f"a package opened with mode {self.mode!r} has nothing to read until it "
                    "is closed and opened again"
                )
            raise ValueError("the package is closed")
        return handle

    def _writing(self, method: str) -> _kestrun.Writer:
        writer = self._writer
        if writer is None:
            if self.mode == "r":
                raise ValueError(f"{method}() requires mode 'w', 'x' or 'a'")
            raise ValueError("the package is closed")
        return writer

    def _index(self, handle: _kestrun.Handle, member: Member) -> int:
        if isinstance(member, Entry):
            if member._handle is not handle:
                raise ValueError(f"{member!r} is an entry of another package")
            return member.index
        return handle.find(member)

    def _selection(
        self, handle: _kestrun.Handle, members: Members
    ) -> Union[None, bytes, Callable[[int], object]]:
        if members is None:
            return None
        if callable(members):
            choose = members
            return lambda index: choose(_make_entry(handle, index))
        if isinstance(members, (str, bytes, Entry)):
            raise TypeError("members is an iterable of names or entries, or a callable")
        chosen = bytearray(handle.count())
        for member in members:
            chosen[self._index(handle, member)] = 1
        return bytes(chosen)

    def _run(
        self,
        handle: _kestrun.Handle,
        path: Optional[bytes],
        selection: Union[None, bytes, Callable[[int], object]],
        threads: int = 0,
    ) -> Report:
        status, written, problems, stop = handle.extract(path, selection, threads)
        refused: list[Problem] = []
        failed: list[Problem] = []
        for index, code, os_error, message in problems:
            problem = Problem(_make_entry(handle, index), _code(code), os_error, message)
            if code in (ErrorCode.UNSAFE, ErrorCode.BUDGET):
                refused.append(problem)
            else:
                failed.append(problem)
        entries = [_make_entry(handle, index) for index in written]
        return Report(entries, refused, failed, complete=stop is None)


class EntryFile(io.RawIOBase):
    """A read-only, seekable binary file of one entry's data, as
    Package.open() gives it. Its position is its own: other files and
    threads reading the same package don't move it. Seeking past the end is
    allowed (reads there give b""); a negative position is an OSError
    (EINVAL), as with a file that open() gives.

    While it is open it keeps its Package alive, so that
    ``Package(p).open(name).read()`` reads: the package is closed by its
    own close() (after which the file is closed too and raises ValueError)
    or once neither it nor an open file of it is in use."""

    def __init__(self, package: Package, handle: _kestrun.Handle, entry: Entry) -> None:
        super().__init__()
        self._package: Optional[Package] = package
        self._handle = handle
        self._position = 0
        self.entry = entry
        self.name = entry.path

    @property
    def closed(self) -> bool:
        """True once this file or its package is closed."""
        return super().closed or self._handle.closed

    def close(self) -> None:
        super().close()
        # The package may go once no open file needs it. Reads running in
        # other threads hold its handle, whose last call closes it.
        self._package = None

    def _check(self) -> None:
        if super().closed:
            raise ValueError("I/O operation on closed file")
        if self._handle.closed:
            raise ValueError("the package is closed")

    def readable(self) -> bool:
        self._check()
        return True

    def seekable(self) -> bool:
        self._check()
        return True

    def tell(self) -> int:
        self._check()
        return self._position

    def seek(self, offset: int, whence: int = os.SEEK_SET) -> int:
        self._check()
        offset = operator.index(offset)
        if whence == os.SEEK_SET:
            position = offset
        elif whence == os.SEEK_CUR:
            position = self._position + offset
        elif whence == os.SEEK_END:
            position = self.entry.size + offset
        else:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if position < 0:
            raise OSError(errno.EINVAL, f"negative seek position {position}")
        self._position = position
        return position

    def read(self, size: Optional[int] = -1) -> bytes:
        self._check()
        size = -1 if size is None else operator.index(size)
        data = self._handle.read(self.entry.index, self._position, size)
        self._position += len(data)
        return data

    def peek(self, size: int = 0) -> bytes:
        """Bytes from the position on, without moving it: at least ``size``
        (8 KiB when less) unless the entry ends first. Lines are read with
        it (readline, iteration) a piece at a time, not byte by byte."""
        self._check()
        return self._handle.read(self.entry.index, self._position, max(size, 8192))

    def write(self, data: object) -> int:
        raise io.UnsupportedOperation("write")

    def readall(self) -> bytes:
        return self.read(-1)

    def readinto(self, buffer) -> int:  # type: ignore[no-untyped-def]
        self._check()
        got = self._handle.readinto(self.entry.index, self._position, buffer)
        self._position += got
        return got

    def __repr__(self) -> str:
        return f"<kestrun.EntryFile {self.name!r}>"


def _mode_and_partial(mode: object, partial: bool) -> Tuple[str, bool]:
    if isinstance(mode, bool):
        # Package(path, True) from before there was a mode: partial was the
        # second argument. A bool is never a mode, so it still means that.
        warnings.warn(
            "Package(file, partial) is deprecated: the second argument is the mode; "
            "give partial=... by keyword",
            DeprecationWarning,
            3,
        )
        return "r", mode
    if mode not in ("r", "w", "x", "a"):
        raise ValueError(f"a package is opened with mode 'r', 'w', 'x' or 'a', not {mode!r}")
    return str(mode), partial


def _path_of(member: Member) -> Union[str, bytes]:
    return member.path_bytes if isinstance(member, Entry) else member


def _arcname(filename: StrOrBytesPath) -> str:
    """The entry's path that zipfile would give ``filename``: no drive, no
    leading "/", normalised."""
    name = os.path.normpath(os.path.splitdrive(os.fsdecode(filename))[1])
    return name.lstrip(os.sep + (os.altsep or "")).replace(os.sep, "/")


def open(
    file: Union[StrOrBytesPath, int], mode: str = "r", *, partial: bool = False
) -> Package:
    """The same as Package(file, mode, partial=partial)."""
    if isinstance(mode, bool):
        mode, partial = _mode_and_partial(mode, partial)
    return Package(file, mode, partial=partial)


def is_package(path_or_fd: Union[StrOrBytesPath, int]) -> bool:
    """True when the file is an RBD package (its index may be damaged), as
    zipfile.is_zipfile. Never raises for a missing, unreadable or odd file;
    a FIFO or device is never opened for reading."""
    if isinstance(path_or_fd, bool):
        return False
    if isinstance(path_or_fd, int):
        try:
            with Package(path_or_fd, partial=True):
                return True
        except (OSError, ValueError, BadPackage):
            return False
    try:
        fd = os.open(path_or_fd, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except (OSError, TypeError, ValueError):
        return False
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return False
        with Package(fd, partial=True):
            return True
    except (OSError, BadPackage):
        return False
    finally:
        os.close(fd)


# -- Comparing ----------------------------------------------------------------


class Diff(NamedTuple):
    """What diff(a, b) found: paths (str, as os.fsdecode gives them), each
    list sorted as ``kestrun --diff`` prints them, byte by byte.
    ``any(d)`` is false when the two are the same."""

    added: list[str]  # only in b
    deleted: list[str]  # only in a
    modified: list[str]  # in both, with other bytes


# Bytes are compared this many at a time from each side.
_PIECE = 64 * 1024
_DIRECTORY = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC
_FILE = os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC
# What reads `n` bytes at `offset` of an item.
_Reader = Callable[[int, int], bytes]


class _PackageSide:
    """What extraction leaves of a package: the entry Package.getinfo gives
    for each path, none that extraction refuses."""

    def __init__(self, package: Package) -> None:
        self.package = package
        self.left = {
            entry.path_bytes: entry
            for entry in package
            if not entry.unsafe and not entry.shadowed
        }

    def open(self, path: bytes, stack: contextlib.ExitStack) -> Optional[Tuple[int, _Reader]]:
        entry = self.left[path]
        if entry.no_data:
            return 0, lambda offset, n: b""  # extraction leaves an empty file
        file = stack.enter_context(self.package.open(entry))

        def read(offset: int, n: int) -> bytes:
            file.seek(offset)
            return file.read(n)

        return entry.size, read


class _TreeSide:
    """Every name below a directory that is no directory, reached through
    directory descriptors without following a link. A link, or anything
    else that is no regular file (a FIFO, a device), is never followed or
    opened, and differs from any entry."""

    def __init__(self, top: int) -> None:
        self.top = top
        self.left: dict[bytes, bool] = {}  # path: whether it is a regular file
        pending = [(os.dup(top), b"")]
        try:
            while pending:
                fd, prefix = pending.pop()
                try:
                    self._list(fd, prefix, pending)
                finally:
                    os.close(fd)
        finally:
            for fd, _ in pending:
                os.close(fd)

    def _list(self, fd: int, prefix: bytes, pending: list[tuple[int, bytes]]) -> None:
        with os.scandir(fd) as names:
            for name in names:
                path = prefix + os.fsencode(name.name)
                if name.is_dir(follow_symlinks=False):
                    try:
                        pending.append((os.open(name.name, _DIRECTORY, dir_fd=fd), path + b"/"))
                        continue
                    except OSError as error:
                        # Made a link or a file since it was listed.
                        if error.errno not in (errno.ELOOP, errno.ENOTDIR):
                            raise
                self.left[path] = name.is_file(follow_symlinks=False)

    def open(self, path: bytes, stack: contextlib.ExitStack) -> Optional[Tuple[int, _Reader]]:
        if not self.left[path]:
            return None
        *groups, name = path.split(b"/")
        fd = self.top
        try:
            for group in groups:
                fd = os.open(group, _DIRECTORY, dir_fd=fd)
                stack.callback(os.close, fd)
            fd = os.open(name, _FILE, dir_fd=fd)
        except OSError as error:
            if error.errno in (errno.ELOOP, errno.ENOTDIR):
                return None
            raise
        stack.callback(os.close, fd)
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            return None
        return status.st_size, lambda offset, n: os.pread(fd, n, offset)


_Side = Union[_PackageSide, _TreeSide]


def _same(first: _Side, second: _Side, path: bytes) -> bool:
    with contextlib.ExitStack() as stack:
        a = first.open(path, stack)
        b = second.open(path, stack) if a is not None else None
        if a is None or b is None or a[0] != b[0]:
            return False
        for offset in range(0, a[0], _PIECE):
            n = min(_PIECE, a[0] - offset)
            if a[1](offset, n) != b[1](offset, n):
                return False
        return True


_Compared = Union[Package, StrOrBytesPath, int]


def _side(stack: contextlib.ExitStack, what: _Compared) -> _Side:
    if isinstance(what, Package):
        return _PackageSide(what)
    if not isinstance(what, int) and not hasattr(what, "fileno"):
        try:
            top = os.open(what, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        except NotADirectoryError:
            pass
        else:
            stack.callback(os.close, top)
            return _TreeSide(top)
    return _PackageSide(stack.enter_context(Package(what)))


def diff(a: _Compared, b: _Compared) -> Diff:
    """Compares what extraction would leave of ``a`` and of ``b``, as
    ``kestrun --diff A B`` does: ``added`` holds the paths only in ``b``,
    ``deleted`` those only in ``a``, ``modified`` those in both whose bytes
    differ.

    Each is a Package, a package's path or descriptor (opened and closed
    here), or a directory, such as an earlier extraction. Of a package
    counts, at each path, the entry that extraction leaves (the one
    getinfo() gives: of the entries of that path, the last that extraction
    does not refuse); an entry
    whose data runs past the package's end counts as the empty file that
    extraction leaves. Of a directory counts every file below it: no
    symbolic link in it is followed, and no FIFO or device opened; each
    counts as a difference from any entry. Sizes are compared first, and
    bytes only where the sizes agree, in pieces, up to the first that
    differs. BadPackage and OSError as Package() raises them, OSError for a
    directory that can't be read.

    Paths are judged as extractall() judges them, below a directory of the
    caller's; the command judges a package's as ``kestrun PACKAGE`` does,
    below ./NAME/, which can differ only for a path near the longest
    extraction writes."""
    with contextlib.ExitStack() as stack:
        first, second = _side(stack, a), _side(stack, b)
        added = sorted(path for path in second.left if path not in first.left)
        deleted = sorted(path for path in first.left if path not in second.left)
        modified = sorted(
            path for path in first.left if path in second.left and not _same(first, second, path)
        )
    return Diff(
        [os.fsdecode(path) for path in added],
        [os.fsdecode(path) for path in deleted],
        [os.fsdecode(path) for path in modified],
    )
