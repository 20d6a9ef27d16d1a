/* libkestrun: reads RBD packages.
 *
 * An RBD package is one archive file: a 1024-byte header, an index of 96-byte
 * big-endian records describing a tree of groups (directories) and files,
 * then the entries' data. kr_open reads and checks the whole index once; the
 * open package then answers questions about its entries, reads their bytes
 * at any offset, and extracts them below a directory by the same rules as the
 * kestrun command.
 *
 * Conventions, for every function below:
 *  - Errors are returned, never printed. A function that can fail returns a
 *    negative KR_E_* code and, when `err` is not null, fills `*err` with the
 *    code, the system's error number for KR_E_IO (errno; on Windows the
 *    GetLastError() code), else 0, the index record at fault for
 *    KR_E_DAMAGED (else KR_NO_RECORD), and one line of text. On success `*err`
 *    is cleared to KR_OK. There is no hidden last-error state: `err` is the
 *    caller's, and null when the caller wants only the code.
 *  - The library never prints, exits, changes signal dispositions or changes
 *    the working directory, and keeps no process-wide state: packages opened
 *    apart (even of one file) share nothing.
 *  - Threads: every function on an open package except kr_close may be called
 *    from any number of threads at once. Reads are positional; nothing moves
 *    a shared file position. kr_close must not race with any other call on
 *    the same package. Functions without a package (kr_open, kr_strerror...)
 *    may run in any thread at any time.
 *  - Ownership: the package belongs to whoever opened it, until kr_close.
 *    Strings handed out (entry paths and names) are the package's bytes, not
 *    converted: zero-terminated, in no particular character set, owned by the
 *    package and valid until kr_close. Everything the caller passes in (paths,
 *    buffers, descriptors, options) stays the caller's; nothing is kept after
 *    the call returns, unless said otherwise.
 *
 * Compiles as C11 and as C++. Link with -lkestrun (pkg-config kestrun, or
 * find_package(kestrun) and the target kestrun::kestrun). */
#ifndef KESTRUN_KESTRUN_H
#define KESTRUN_KESTRUN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(KESTRUN_BUILD_LIBRARY)
#define KR_API __declspec(dllexport)
#else
#define KR_API __declspec(dllimport)
#endif
#else
#define KR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; kr_version() gives the library's. */
#define KR_VERSION_MAJOR 1
#define KR_VERSION_MINOR 2
#define KR_VERSION_PATCH 0

/* ---- Return codes ------------------------------------------------------ */

enum {
    KR_OK = 0,
    /* kr_extract and kr_test: the run finished, but some entries were refused
     * or failed (each one was reported). The command line's status 2. */
    KR_INCOMPLETE = 1,

    KR_E_INVALID = -1,   /* a bad argument: a null pointer, an index out of range */
    KR_E_IO = -2,        /* the system refused a read or write; see os_error */
    KR_E_NOMEM = -3,     /* memory could not be had */
    KR_E_NOT_RBD = -4,   /* the header is not an RBD package's */
    KR_E_DAMAGED = -5,   /* the index is damaged; see record */
    KR_E_NOT_FOUND = -6, /* no entry has that path */
    KR_E_NO_DATA = -7,   /* the entry's data runs past the package's end */
    KR_E_UNSAFE = -8,    /* extraction refuses the entry's path */
    KR_E_BUDGET = -9,    /* extraction would pass its output budget */
    KR_E_CHANGED = -10   /* a file a writer relies on changed under it: the package at
                            its path, its base, or a file given to kr_writer_put_fd
                            (since 1.1.0) */
};

/* kr_error.record when no index record is at fault. */
#define KR_NO_RECORD UINT32_MAX

typedef struct kr_error {
    int code;          /* a KR_E_* code, or KR_OK */
    int os_error;      /* errno (on Windows, the system's error code) for KR_E_IO, else 0 */
    uint32_t record;   /* KR_E_DAMAGED: the record at fault, counted from 0 at byte
                          1024 of the package; else KR_NO_RECORD */
    char message[256]; /* one line, no line feed, e.g. "group record 7 is cut
                          short by the end of the package" */
} kr_error;

/* ---- Opening ----------------------------------------------------------- */

typedef struct kr_package kr_package;

/* kr_open flags. */
#define KR_OPEN_PARTIAL 1u /* keep the entries before damage in the index */

/* Opens the package at `path`, checks its header and reads its whole index,
 * once; later calls read only entry data. On KR_OK, `*out` is the open
 * package, the caller's until it gives it back with kr_close; on an error
 * `*out` is null. Errors: KR_E_INVALID (null `path` or `out`, unknown flags),
 * KR_E_IO (it can't be opened or read: a missing file is os_error ENOENT, on
 * Windows ERROR_FILE_NOT_FOUND; or it is not a regular file or block device:
 * a FIFO, a socket, a character device or a directory is refused at once,
 * before anything is read, os_error EISDIR for a directory, else ESPIPE; on
 * Windows only a file on disk is taken, else ERROR_INVALID_FUNCTION),
 * KR_E_NOT_RBD (too short for a header, no index records, a version other
 * than 2, or not the format's comment), KR_E_DAMAGED (the index is cut short
 * or inconsistent; `record` says where), KR_E_NOMEM. With
 * KR_OPEN_PARTIAL a damaged index is no error: the package opens with the
 * entries before the damage, and kr_get_info says `damaged` and what the
 * damage is. A header error fails either way. Memory: an open package holds
 * the text of its entries' paths and about two thirds of its index's size
 * besides; opening it takes at most one and a half times the two together
 * (and 4 MiB), never more than the package's bytes can justify, whatever the
 * header claims. The file is opened for reading only and never written. */
KR_API int kr_open(const char *path, unsigned flags, kr_package **out, kr_error *err);

/* As kr_open, for a file already open for reading as descriptor `fd` (on
 * Windows, a C runtime descriptor). The package keeps a descriptor of its
 * own (on Windows, the file opened anew), so `fd` stays the caller's: it may
 * be closed at once, and its file position is never used or moved. (On
 * Windows, where the file's share mode forbids opening it anew, the package
 * holds a duplicate of its handle instead, whose reads move `fd`'s position.)
 * Errors: as kr_open, and KR_E_IO for a descriptor that is not open. */
KR_API int kr_open_fd(int fd, unsigned flags, kr_package **out, kr_error *err);

/* Where a package's bytes come from, for kr_open_source: a host with no
 * descriptor to give (a browser's File read in a Web Worker, a blob in
 * memory, a file reached through a library of its own). */
typedef struct kr_source {
    size_t struct_size; /* sizeof(kr_source), for later additions */
    uint64_t size;      /* the package's length in bytes, which is taken as it is */
    /* Puts bytes of the package from `offset` into `buf`, at most `len` of
     * them (`len` > 0), and returns how many: fewer is fine (the library asks
     * again for the rest), 0 means the bytes are not there (the package
     * shrank), and a negative number is a failure, reported as KR_E_IO with
     * its negation as os_error when that is 1 to 32767 (-EIO gives EIO),
     * else EIO. It is never asked for bytes at or past `size`. */
    int64_t (*read)(void *ctx, uint64_t offset, void *buf, size_t len);
    void *ctx; /* handed to read */
} kr_source;

/* As kr_open, for a package read through `src->read`: the one reader of
 * kr_open walks the index, and kr_read reads entry data through the same
 * function. The record is copied; `read` and `ctx` are kept and called
 * until kr_close, from any thread that calls kr_read (so `read` must be
 * safe to call from several at once if the caller reads so). The package
 * has no descriptor: kr_read_to_fd, kr_read_to_fd_at, kr_extract and
 * kr_writer_begin on it return KR_E_INVALID, saying so (read with kr_read,
 * check with kr_test). Errors: as kr_open, and KR_E_INVALID for a null
 * `src` or `read`, or a `struct_size` too small. Since 1.2.0. */
KR_API int kr_open_source(const kr_source *src, unsigned flags, kr_package **out, kr_error *err);

/* Gives back everything the package holds and closes its own descriptor (a
 * kr_open_source package's function is no longer called); its strings
 * become invalid. A null `pkg` is ignored. Not to be called while
 * another thread uses `pkg`, nor from a kr_extract callback. */
KR_API void kr_close(kr_package *pkg);

/* ---- What the package holds -------------------------------------------- */

typedef struct kr_info {
    uint64_t package_size; /* bytes in the package file when it was opened */
    uint32_t records;      /* index records that the header announces */
    uint32_t entries;      /* entries in the package (kr_entry_count) */
    uint32_t groups;       /* group records read */
    uint16_t version;      /* the format version from the header: 2 */
    int damaged;           /* nonzero when opened with KR_OPEN_PARTIAL past damage */
    kr_error damage;       /* what the damage is, as kr_open would have failed */
} kr_info;

/* Fills `*out`, a copy the caller keeps. Returns KR_OK, or KR_E_INVALID for a
 * null argument. `damage` is cleared to KR_OK when `damaged` is 0. */
KR_API int kr_get_info(const kr_package *pkg, kr_info *out);

/* kr_entry.flags */
enum {
    KR_ENTRY_UNSAFE = 1,      /* extraction refuses this entry's path: a name that could
                                 lead outside the output root (".", "..", a separator, a
                                 drive; on Windows also device names and the like), an
                                 empty name, or a path too long */
    KR_ENTRY_NO_DATA = 2,     /* the entry's data runs past the package's end: it
                                 extracts as an empty file and cannot be read */
    KR_ENTRY_SHADOWED = 4,    /* a later entry has the same path, and replaces this one
                                 on extraction; it can still be read by its index. An
                                 unsafe entry never shadows a safe one: extraction
                                 refuses it and leaves the safe one's file */
    KR_ENTRY_UNSAFE_GROUP = 8 /* a name on the entry's group path could lead outside
                                 the output root, so extraction refuses every entry
                                 of that group (KR_ENTRY_UNSAFE is set too); tells
                                 this reason apart from the entry's own name */
};

typedef struct kr_entry {
    uint32_t index;    /* its place among the entries, 0 to kr_entry_count() - 1 */
    uint32_t flags;    /* KR_ENTRY_* */
    uint64_t offset;   /* where its data lies in the package */
    uint64_t size;     /* its length in bytes */
    const char *group; /* the group path, each group's name and a slash: "data/snd/";
                          empty group names, which extraction passes over, are
                          left out: never a leading "/" or a "//" */
    const char *name;  /* the entry's own name, as the package spells it: "a.wav" */
    const char *path;  /* group followed by name: "data/snd/a.wav", the path that
                          extraction writes below its output directory */
} kr_entry;

/* The number of entries, 0 for a null `pkg`. Entries come in index order,
 * depth first, as the command line extracts them and as `kestrun --list`
 * shows them; duplicates are kept. */
KR_API uint32_t kr_entry_count(const kr_package *pkg);

/* Fills `*out` with entry `index`: the caller's record, whose strings belong
 * to the package (valid until kr_close). Returns KR_OK, or KR_E_INVALID for a
 * null argument or an index past the last entry. */
KR_API int kr_entry_at(const kr_package *pkg, uint32_t index, kr_entry *out);

/* The index of the last entry whose path is exactly `path`, in `*index`:
 * the one that extraction leaves on disk (an unsafe entry is passed over when
 * a safe one has its path), the one no other shadows. Paths are compared byte
 * for byte with kr_entry.path: "data/snd/a.wav", with no leading "./" or
 * "/", no "//", no "\\" for "/", and case counting. Returns KR_OK, KR_E_NOT_FOUND when there is
 * none, KR_E_INVALID for a null argument; `*index` is set only on KR_OK. Constant time on average,
 * whatever the names (the table's hash is keyed anew for each open package). */
KR_API int kr_find(const kr_package *pkg, const char *path, uint32_t *index);

/* ---- Reading ----------------------------------------------------------- */

/* Reads up to `len` bytes of entry `index`, from `offset` within the entry,
 * into the caller's `buf`. Returns the number of bytes read: fewer than `len`
 * only at the entry's end, 0 at or past it (and for `len` 0). Errors
 * (negative): KR_E_INVALID (null `pkg`, an index past the last entry, a null
 * `buf` with `len` > 0), KR_E_NO_DATA (the entry's data runs past the
 * package's end), KR_E_IO (a read failed, or the package file shrank since it
 * was opened). Reads at an explicit offset of the package's own descriptor,
 * so any number of threads may read at once, one entry or many. */
KR_API int64_t kr_read(const kr_package *pkg, uint32_t index, uint64_t offset, void *buf,
                       size_t len, kr_error *err);

/* Writes the whole of entry `index` to the caller's `fd` at its current
 * position (a file, a pipe, a socket); the kernel moves the bytes where it
 * can, and never more than 1 MiB of it is held in memory. `fd` is never
 * closed. On Windows `fd` is a C runtime descriptor written with _write: give
 * it in binary mode (_setmode(fd, _O_BINARY)), or the runtime adds a CR
 * before each LF. Returns KR_OK; errors: KR_E_INVALID, KR_E_NO_DATA, KR_E_IO
 * (reading the package, or writing `fd`: os_error says which failure, e.g.
 * EPIPE or ENOSPC). A pipe or socket whose reader has gone is KR_E_IO with
 * os_error EPIPE: SIGPIPE is held back in the calling thread during the call
 * and the one the call raised is taken away, so it never ends the program
 * (a SIGPIPE already pending stays pending). After an error some bytes may
 * have been written, how many is not told: on a non-blocking `fd` that is
 * full for now (os_error EAGAIN or EWOULDBLOCK) use kr_read_to_fd_at, which
 * tells, to go on. Threads may copy at once, to descriptors of their own. */
KR_API int kr_read_to_fd(const kr_package *pkg, uint32_t index, int fd, kr_error *err);

/* As kr_read_to_fd, for the bytes of entry `index` from `offset` within the
 * entry to its end; an `offset` at or past the end writes nothing (KR_OK).
 * `*written` (when `written` is not null) is set to the bytes this call
 * wrote to `fd`, on success and on every error alike (0 for KR_E_INVALID and
 * KR_E_NO_DATA). On a non-blocking `fd` that takes no more for now, the call
 * returns KR_E_IO with os_error EAGAIN (or EWOULDBLOCK): wait until `fd` is
 * writable (poll) and call again with `offset + *written`, until KR_OK, to
 * have the entry whole. Since 1.1.0. */
KR_API int kr_read_to_fd_at(const kr_package *pkg, uint32_t index, uint64_t offset, int fd,
                            uint64_t *written, kr_error *err);

/* ---- Extracting -------------------------------------------------------- */

typedef struct kr_extract_options {
    size_t struct_size; /* sizeof(kr_extract_options), for later additions */
    /* Most bytes the run may write; 0 means 64 times the package plus 1 GiB.
     * Records may share data, so a small package could otherwise write far
     * more than it holds. */
    uint64_t budget;
    /* Called for each entry in index order; nonzero takes it. Null takes all. */
    int (*select)(void *ctx, const kr_entry *e);
    /* Called once for each entry taken, after it was handled: `outcome` is
     * KR_OK when it was written, else the KR_E_* code of why not, and `why`
     * the details (null for KR_OK). Null reports nothing.
     * Both are called on the thread that called kr_extract or kr_test, one
     * entry at a time, `report` in index order. With several threads,
     * kr_extract calls `select` for entries ahead of those reported so far.
     * `e` and `why` are valid during the call only (e's strings until
     * kr_close). They may call any function on the package except kr_close. */
    void (*report)(void *ctx, const kr_entry *e, int outcome, const kr_error *why);
    void *ctx; /* handed to select and report */
    /* Threads that kr_extract writes with, besides the caller's, which walks
     * the entries and reports: 0 means the processors the process may run on,
     * at most 8 (1 on Windows); 1 writes one entry after another on the
     * calling thread. The files, the results and the order of reports are the
     * same with any number. Where threads can't be made, fewer are used.
     * kr_test ignores it. A caller built against an older header
     * passes a smaller struct_size, and gets the default. Since 1.2.0. */
    unsigned threads;
} kr_extract_options;

/* Writes the chosen entries below `dir`, in index order. `dir` is the output
 * root itself: "out" gives out/data/snd/a.wav. It is created when missing (its
 * parent must exist) and followed as given, links included; below it nothing
 * is ever reached through a link, and nothing is ever written outside it.
 * The rules are the command line's:
 *  - entries flagged KR_ENTRY_UNSAFE are refused (KR_E_UNSAFE);
 *  - a group path that meets a link or a non-directory is refused;
 *  - whatever non-directory already has an entry's name is replaced, never
 *    opened or followed, unless it is the package itself (refused); the
 *    Windows build under Wine replaces nothing (refused), since there a link
 *    to a file can't be told from the file;
 *  - an entry whose data runs past the package's end becomes an empty file,
 *    reported as KR_E_NO_DATA;
 *  - a later entry of the same path replaces an earlier one;
 *  - a file that could not be written whole is removed.
 * Returns KR_OK when every chosen entry was written, KR_INCOMPLETE when the
 * run finished but some were refused or failed, and KR_E_BUDGET when an
 * entry would pass the budget: the run stops there, that entry leaves no
 * file, and those before it stay. Also KR_E_INVALID (null `pkg`, a null or
 * empty `dir`, `struct_size` too small), and KR_E_IO when `dir` can't be made
 * or opened. `opt` may be null: all defaults. Runs in several threads may
 * extract one package at once, each into a directory of its own. */
KR_API int kr_extract(const kr_package *pkg, const char *dir, const kr_extract_options *opt,
                      kr_error *err);

/* Meets the chosen entries as kr_extract would, writing nothing: unsafe
 * paths, data past the package's end and the budget are reported through
 * `opt` exactly as kr_extract reports them, with the same result (KR_OK,
 * KR_INCOMPLETE, KR_E_BUDGET, or KR_E_INVALID). What the disk would say
 * (links, space, permissions) is not tested. */
KR_API int kr_test(const kr_package *pkg, const kr_extract_options *opt, kr_error *err);

/* ---- Extraction's rules, for a caller that lays out the tree itself ---- */

/* Longest name of an output root that `kestrun PACKAGE` makes, in bytes. */
#define KR_MAX_ROOT_NAME 63

/* Puts in `root` (KR_MAX_ROOT_NAME + 1 bytes) the name of the output root
 * that `kestrun PACKAGE` makes for the package file `path`: the path's last
 * component less its last four characters, taken for the extension
 * ("games/music.rbd" gives "music"; a name of four characters gives ""). A
 * path ending in a separator has no name. Returns KR_OK, or KR_E_INVALID for
 * a null argument or a name that kestrun refuses as a package's name:
 * shorter than four characters, giving "." or "..", or giving more than
 * KR_MAX_ROOT_NAME bytes (`root` is then ""). Since 1.1.0. */
KR_API int kr_root_name(const char *path, char *root);

/* What extraction makes of an entry. */
enum {
    KR_OUTCOME_WRITTEN = 0,      /* written whole */
    KR_OUTCOME_UNSAFE = 1,       /* its name, or a name on its group path, could lead
                                    outside the output root */
    KR_OUTCOME_TOO_LONG = 2,     /* its output path "./ROOT/<group path><name>", the
                                    group path as the package spells it, passes 258
                                    bytes */
    KR_OUTCOME_EMPTY_NAME = 3,   /* its name is empty: its group's directories are
                                    made, and no file */
    KR_OUTCOME_NO_PATH = 4,      /* a directory of its group path could not be made
                                    (something that is no directory has its name) */
    KR_OUTCOME_WRITE_FAILED = 5, /* its file could not be made or written (a directory
                                   has its name) */
    KR_OUTCOME_NO_DATA = 6       /* written as an empty file, its data running past
                                    the package's end (KR_ENTRY_NO_DATA): never a
                                    verdict, a warning for kr_outcome_text. Since 1.2.0 */
};

/* The verdict of extraction on entry `index` below an output root named
 * `root_name` (as kr_root_name gives it; "" for a directory of the caller's,
 * as kr_extract's), before anything on disk is looked at: KR_OUTCOME_WRITTEN
 * when it may be written, else KR_OUTCOME_UNSAFE, KR_OUTCOME_TOO_LONG or
 * KR_OUTCOME_EMPTY_NAME, in that order of precedence. KR_ENTRY_UNSAFE is
 * this verdict below "". Returns KR_E_INVALID for a null argument or an
 * index past the last entry. Since 1.1.0. */
KR_API int kr_entry_verdict(const kr_package *pkg, uint32_t index, const char *root_name);

/* The warning that `kestrun PACKAGE` prints when entry `index` meets
 * `outcome` (KR_OUTCOME_*) below the output root `root_name`, without
 * "WARNING: " before it and "!" after it: `Refusing unsafe path,
 * "data/.."`, `Failed to create path, "data/"`. Names are put in as the
 * package has them: escaping them for a terminal is the caller's, and may
 * be done on the whole text, whose own words hold no control character and
 * no backslash. Writes at most `size` bytes, zero-terminated, into `text`
 * and returns the text's whole length, as snprintf does (0 for
 * KR_OUTCOME_WRITTEN, which has no warning); KR_E_INVALID for a null `pkg`
 * or `root_name`, an index past the last entry, an unknown outcome, or a
 * null `text` with `size` > 0. Since 1.1.0. */
KR_API int kr_outcome_text(const kr_package *pkg, uint32_t index, const char *root_name,
                           int outcome, char *text, size_t size);

/* Nonzero when the member pattern `pattern` chooses the entry path `path`
 * (kr_entry.path), as `kestrun PACKAGE MEMBER...` chooses: the pattern, less
 * a leading "./" and any trailing "/", matches the whole path or the path of
 * one of its groups, so that "data" chooses everything below data/. `*` and
 * `?` match any run of characters and any one, "/" included; `[abc]`,
 * `[a-z]` and `[!a]` one character of a set; `\` takes the next character
 * as it is. 0 for a null argument. Since 1.2.0. */
KR_API int kr_member_match(const char *pattern, const char *path);

/* ---- Writing ----------------------------------------------------------- */

/* A package being written: begun empty or as a copy of an open package (its
 * base), edited by path, then committed to its file at once or aborted.
 * Since 1.1.0.
 *
 * Paths are the paths reading shows (kr_entry.path): group names and the
 * entry's name joined by "/", no leading, trailing or doubled "/". A path a
 * package can't hold is KR_E_INVALID, with a message naming the rule:
 *  - a name that is empty, "." or "..", holds a "\\", or is a drive ("C:");
 *    on Windows also a device name, a name ending in "." or " ", or one
 *    holding ":" (extraction's rules of a safe name);
 *  - a name of 63 bytes or more (a record holds 62);
 *  - a path too long: extraction writes "./ROOT/<group path><name>", which
 *    may not pass 258 bytes, ROOT being what kr_root_name makes of the
 *    writer's `path` (or "" when it makes nothing) and the group path the one
 *    the package spells, empty group names and all, where the entry goes;
 *  - a file at the top level ("a.wav"): files live in groups only;
 *  - a file where a group is (putting "data/snd" when "data/snd/a.wav"
 *    exists), or a group where a file is (putting "data/a.wav/x");
 *  - at commit, a package whose data would start past 4 GiB - 1, which the
 *    records' 32-bit offsets can't reach; and in kr_writer_put, an entry of
 *    4 GiB or more.
 *
 * Where an entry goes. Files live only in file groups, and directory groups
 * hold only groups; a new entry goes at the end of the last file group whose
 * path is its group path. If there is none, a file group is made where
 * rbdpack places it: right after a directory group of that path, under the
 * same name; else in the directory group of the longest leading part of the
 * path that has one (or at the top level), with the directory groups it
 * needs, each among the others in byte order of names (a directory group
 * before a file group of the same name). Files put one by one in the order
 * rbdpack writes them make the package rbdpack makes of their tree, byte for
 * byte. A group left with no entries is dropped; a group the base had empty,
 * and a group of a kind reading does not know, stay as they are.
 *
 * Faithful to the base. Records nothing touched keep their 96 bytes (flags,
 * unused fields, the bytes after a name's zero) and their order, but for
 * their data's offset when it moves; a group's count changes only when what
 * it counts changes (a file group's informational number of files with it,
 * when it was equal to the count, as rbdpack writes it); the header keeps
 * every byte (its comment field, its unused fields), and its index count
 * too unless the number of records changes. The data follows the index in
 * index order with no gap: bytes that several records share stay shared,
 * written once; an empty entry lies where the next data would. So a package
 * written by rbdpack and committed unchanged comes out byte for byte the
 * same. An entry of the base whose data runs past its end
 * (KR_ENTRY_NO_DATA) keeps its record with its size set to 0:
 * kr_writer_get_info counts them. A base opened with KR_OPEN_PARTIAL gives
 * the entries it kept.
 *
 * Memory stays bounded whatever is written: the writer holds the index
 * (about its size again, and a table of paths), never entries' data. Data
 * given to kr_writer_put goes to a spool file of the writer's own in the
 * package's directory, which has no name where the system allows it
 * (O_TMPFILE on Linux) and is otherwise removed at once (on Windows, when
 * it is closed: ".<name>.<8 hex digits>.spool").
 *
 * Threads: a writer belongs to one thread at a time; its base may still be
 * read from any thread meanwhile, and must stay open until the writer is
 * committed or aborted. */
typedef struct kr_writer kr_writer;

/* kr_writer_begin flags. */
#define KR_WRITER_EXCLUSIVE                                                                        \
    1u /* `path` must not exist: KR_E_IO, os_error EEXIST (on                                      \
          Windows ERROR_FILE_EXISTS), if something has its name */

/* Begins a package that commit will write at `path`. With base == NULL it
   starts empty; otherwise it starts as a copy of every entry of `base`, in
   order. `path` may be base's own file. Nothing at `path` changes before
   commit.
 *
 * A symbolic link at `path` is followed, link after link (not on Windows):
 * commit replaces the file it leads to, and the link stays a link. A link
 * that leads nowhere is refused (KR_E_IO, os_error ENOENT). Commit replaces
 * the file with a new one, so another hard link to it keeps the old
 * contents, as after `zip` or `sed -i`.
 *
 * The state of `path` (which file has its name, its size and the time it
 * was last changed; or that nothing has it) is noted now: when `path` is
 * the base's own file, as the base found it when it was opened. Commit
 * fails with KR_E_CHANGED if it is no longer so.
 *
 * Errors: KR_E_INVALID (null `path` or `out`, unknown flags), KR_E_IO
 * (`path` is a directory or not a regular file, its directory can't be
 * opened or takes no new file, a link leads nowhere, reading the base
 * failed), KR_E_CHANGED (the base's file, or `path` when it is that file,
 * changed since the base was opened), KR_E_NOMEM. On any error `*out` is
 * null. */
KR_API int kr_writer_begin(const kr_package *base, const char *path, unsigned flags,
                           kr_writer **out, kr_error *err);

/* Adds an entry at `path` (group path + name, as kr_entry.path), or, if
   kr_find would find that path, replaces that entry's data in its place.
   The bytes are copied before it returns.
 *
 * The entry kr_find would find is the one it would find in the package as
 * edited so far: the last entry of the path, one that extraction refuses
 * passed over when another is not. Replacing keeps every other byte of its
 * record. Errors: KR_E_INVALID (null `w` or `path`, a null `data` with
 * `len` > 0, `len` of 4 GiB or more, a path the package can't hold: see
 * above), KR_E_IO (the spool refused the bytes: a full disk), KR_E_NOMEM.
 * On an error nothing changed. */
KR_API int kr_writer_put(kr_writer *w, const char *path, const void *data, size_t len,
                         kr_error *err);

/* The same, with the bytes of `fd` from offset 0 to the size it has now.
   The writer duplicates `fd`, and reads it at commit; a source whose size
   has changed by then fails the commit.
 *
 * `fd` stays the caller's, and its position is never used or moved (on
 * Windows the file is opened anew where it can be). It must be a regular
 * file or a block device (else KR_E_IO, os_error ESPIPE). A writer holds at
 * most 64 such descriptors; past that, or when the process has no
 * descriptor to spare, the bytes are copied into the spool at once instead
 * (and a size that changes while they are copied fails this call with
 * KR_E_CHANGED). Errors: as kr_writer_put, and KR_E_IO. */
KR_API int kr_writer_put_fd(kr_writer *w, const char *path, int fd, kr_error *err);

/* Removes every entry of `path`; KR_E_NOT_FOUND if there is none. */
KR_API int kr_writer_remove(kr_writer *w, const char *path, kr_error *err);

/* Renames the entry kr_find would find at `from`. Within one group path
   it keeps its place; to another one it moves as a new entry would.
   KR_E_NOT_FOUND, or KR_E_INVALID if `to` exists or can't be held.
 *
 * The record keeps every byte but its name. Other entries of `from` stay. */
KR_API int kr_writer_rename(kr_writer *w, const char *from, const char *to, kr_error *err);

/* Writes the package and puts it at `path` at once; frees `w` whatever the
   outcome. On any error, `path` is as it was.
 *
 * The new package is written to a file in `path`'s directory and flushed to
 * the disk, its owner and mode set to those of the file it replaces (the
 * owner only where the process may set it; a new file takes 0666 less the
 * umask), then renamed over `path`, and the directory flushed. A failure, a
 * full disk, a signal or kill -9 at any moment leaves `path` either whole
 * and old or whole and new; an open kr_package of the old file keeps
 * reading the old bytes. (Windows replaces a file that is held open, as the
 * base of an edit in place is, only from Windows 10 1709 on, by a rename
 * with POSIX semantics; earlier ones, and Wine, refuse it: commit then fails
 * with KR_E_IO and leaves the file as it was.) The new file has no name
 * until the last moment where the system allows it (O_TMPFILE on Linux):
 * SIGINT, SIGTERM and SIGHUP, when their action is the default, are held
 * back in the calling thread for the link and the rename, and delivered
 * after. Elsewhere it is named ".<name>.<8 hex digits>.tmp" from the start,
 * and those signals are held back for all of the commit: one that comes
 * ends the writing, the file is removed, and the signal then takes its
 * course. Only kill -9 (or a crash) can leave that file: between the link
 * and the rename, or, without O_TMPFILE, at any moment of the commit; on
 * Windows, at any moment.
 * The package is read back (its index walked as kr_open walks it) before it
 * is put in place.
 *
 * Errors: KR_E_INVALID (null `w`; a package whose data would start past
 * 4 GiB - 1), KR_E_CHANGED (`path` is no longer as kr_writer_begin noted it:
 * another file has its name, or it was written, or something took a name
 * that was free; or the base's file changed; or a kr_writer_put_fd file no
 * longer has the size it had: nothing is written over another's work; a
 * change in the instant between the last look and the rename can't be
 * seen), KR_E_IO (writing or flushing the new file, or renaming it: os_error
 * says why, ENOSPC for a full disk; EINTR when a signal ended it), KR_E_NOMEM. */
KR_API int kr_writer_commit(kr_writer *w, kr_error *err);

/* Leaves `path` as it was and removes everything the writer made; frees `w`. */
KR_API void kr_writer_abort(kr_writer *w);

typedef struct kr_writer_info {
    uint32_t entries; /* entries the package would hold if committed now */
    uint32_t emptied; /* of them, entries of the base whose data runs past its end
                         (KR_ENTRY_NO_DATA): written with size 0 */
} kr_writer_info;

/* Fills `*out`. Returns KR_OK, or KR_E_INVALID for a null argument. */
KR_API int kr_writer_get_info(const kr_writer *w, kr_writer_info *out);

/* ---- Texts ------------------------------------------------------------- */

/* `text` (a name or path from a package, or any zero-terminated bytes) as
 * the kestrun command shows it on a terminal, so that a package can't move
 * the cursor, clear the screen or forge a line through a name: every control
 * character (C0, DEL, and C1 whether a raw byte or encoded in UTF-8) becomes
 * \xHH, one per byte, and every backslash is doubled; everything else stays
 * as it is. Into pipes and files the command writes names unescaped. Writes
 * at most `size` bytes, zero-terminated, into `out` and returns the whole
 * length, as snprintf does; KR_E_INVALID for a null `text`, or a null `out`
 * with `size` > 0; KR_E_NOMEM. Since 1.1.0. */
KR_API int kr_escape_text(const char *text, char *out, size_t size);

/* A short text for a return code: "damaged index" for KR_E_DAMAGED, "unknown
 * error" for a code that is none. Never null; a constant string, never to be
 * freed. */
KR_API const char *kr_strerror(int code);

/* The version of the library in use, such as "1.0.0", which may be newer
 * than the header's KR_VERSION_*. A constant string. */
KR_API const char *kr_version(void);

#ifdef __cplusplus
}
#endif

#endif /* KESTRUN_KESTRUN_H */
