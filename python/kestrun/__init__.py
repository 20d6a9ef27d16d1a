"""Read RBD packages, with an API shaped like zipfile and tarfile.

An RBD package is one archive file: a header, an index of groups
(directories) and files, then the files' data. This module reads them through
libkestrun, the library of the kestrun command::

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

    changes = kestrun.diff("music-1.0.rbd", "music-1.1.rbd")  # or a directory
    for path in changes.modified:
        print("M", path)

Paths are str, decoded as os.fsdecode does (lossless: os.fsencode gives the
package's bytes back); every method that takes a name also takes bytes.

One Package may be read from any number of threads at once: reads are
positional and release the GIL. Extraction applies the kestrun command's
rules unchanged: no link below the output root is followed, the package is
never overwritten, unsafe names are refused (never renamed), and one run
writes at most 64 times the package's size plus 1 GiB.
"""

from __future__ import annotations

import contextlib
import enum
import errno
import io
import operator
import os
import stat
from typing import Callable, Iterable, Iterator, NamedTuple, Optional, Tuple, Union

from . import _kestrun

__all__ = [
    "BadPackage",
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


_kestrun._set_bad_package(BadPackage)


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
    """An RBD package open for reading: Package(path_or_fd, partial=False).

    ``path_or_fd`` is a path (str, bytes or os.PathLike) or a file descriptor
    open for reading (or an object with fileno()); the package keeps a
    duplicate of its own, so the caller keeps and closes its descriptor.

    The whole index is read and checked at once. A file that is not an RBD
    package, or whose index is damaged, raises BadPackage; with
    ``partial=True`` a damaged index is no error: the package holds the
    entries before the damage, and ``info.damaged`` and ``info.damage`` say
    what was found. A missing or unreadable file raises OSError
    (FileNotFoundError, PermissionError...).

    Use it as a context manager, or call close(). After close(), every
    method and the package's open entry files raise ValueError.
    """

    def __init__(self, path_or_fd: Union[StrOrBytesPath, int], partial: bool = False) -> None:
        self._handle: Optional[_kestrun.Handle] = None
        if isinstance(path_or_fd, bool):
            raise TypeError("a package is a path or a file descriptor, not bool")
        if isinstance(path_or_fd, int) or hasattr(path_or_fd, "fileno"):
            self.filename: Optional[str] = getattr(path_or_fd, "name", None)
            if not isinstance(self.filename, str):
                self.filename = None
            self._handle = _kestrun.open_fd(path_or_fd, partial)
        else:
            self.filename = os.fsdecode(path_or_fd)
            self._handle = _kestrun.open(os.fsencode(path_or_fd), partial, path_or_fd)

    # -- Life ---------------------------------------------------------------

    def close(self) -> None:
        """Closes the package; a call running in another thread finishes first."""
        if self._handle is not None:
            self._handle.close()

    @property
    def closed(self) -> bool:
        return self._handle is None or self._handle.closed

    def __enter__(self) -> "Package":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle is not None:
            handle.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{len(self)} entries"
        return f"<kestrun.Package {self.filename!r} {state}>"

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

    def extractall(self, path: StrOrBytesPath = ".", members: Members = None) -> Report:
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
        can't be made or opened."""
        handle = self._open()
        return self._run(handle, os.fsencode(path), self._selection(handle, members))

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

    # -- Inside --------------------------------------------------------------

    def _open(self) -> _kestrun.Handle:
        handle = self._handle
        if handle is None or handle.closed:
            raise ValueError("the package is closed")
        return handle

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
    ) -> Report:
        status, written, problems, stop = handle.extract(path, selection)
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


def open(path_or_fd: Union[StrOrBytesPath, int], partial: bool = False) -> Package:
    """The same as Package(path_or_fd, partial)."""
    return Package(path_or_fd, partial)


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
